// Path functions of the framework.
#include "framework/paths.h"

#include "platform/files.h"

const common::PathDelimiters& PlatformPathDelimiters() { return platform::PathDelimitersOfPlatform(); }

std::u16string ExeName() { return platform::CurrentFiles().OwnExecutablePath(); }

std::u16string ApplicationTitle() {
  std::u16string name = ExtractFileName(ExeName());
  const std::size_t dot = name.rfind(u'.');
  if (dot != std::u16string::npos) name.erase(dot);
  return name;
}

std::u16string ExtractFilePath(std::u16string_view path) {
  return common::FolderPart(path, PlatformPathDelimiters());
}

std::u16string ExtractFileName(std::u16string_view path) {
  return common::FileNamePart(path, PlatformPathDelimiters());
}

std::u16string IncludeTrailingPathDelimiter(std::u16string_view path) {
  return common::WithTrailingDelimiter(path, PlatformPathDelimiters());
}

std::u16string ExcludeTrailingPathDelimiter(std::u16string_view path) {
  return common::WithoutTrailingDelimiter(path, PlatformPathDelimiters());
}

std::u16string ExpandFileName(std::u16string_view path) { return platform::CurrentFiles().FullPathName(path); }

bool FileExists(std::u16string_view path) { return platform::CurrentFiles().GetPathKind(path) == platform::PathKind::File; }

bool DirectoryExists(std::u16string_view path) {
  return platform::CurrentFiles().GetPathKind(path) == platform::PathKind::Folder;
}
