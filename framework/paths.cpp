// Path functions of the framework.
#include "framework/paths.h"

#include "common/path_words.h"
#include "platform/files.h"

std::u16string ExeName() { return platform::CurrentFiles().OwnExecutablePath(); }

std::u16string ApplicationTitle() {
  std::u16string name = ExtractFileName(ExeName());
  const std::size_t dot = name.rfind(u'.');
  if (dot != std::u16string::npos) name.erase(dot);
  return name;
}

std::u16string ExtractFilePath(std::u16string_view path) {
  return common::FolderPart(path, platform::PathDelimitersOfPlatform());
}

std::u16string ExtractFileName(std::u16string_view path) {
  return common::FileNamePart(path, platform::PathDelimitersOfPlatform());
}

std::u16string IncludeTrailingPathDelimiter(std::u16string_view path) {
  return common::WithTrailingDelimiter(path, platform::PathDelimitersOfPlatform());
}

std::u16string ExcludeTrailingPathDelimiter(std::u16string_view path) {
  return common::WithoutTrailingDelimiter(path, platform::PathDelimitersOfPlatform());
}

std::u16string ExpandFileName(std::u16string_view path) { return platform::CurrentFiles().FullPathName(path); }

bool FileExists(std::u16string_view path) { return platform::CurrentFiles().GetPathKind(path) == platform::PathKind::File; }

bool DirectoryExists(std::u16string_view path) {
  return platform::CurrentFiles().GetPathKind(path) == platform::PathKind::Folder;
}
