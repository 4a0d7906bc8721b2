// Path functions of the framework.
#include "framework/paths.h"

#include "platform/files.h"

const engine::PathDelimiters& PlatformPathDelimiters() {
#ifdef _WIN32
  return engine::kWindowsPathDelimiters;
#else
  return engine::kLinuxPathDelimiters;
#endif
}

std::u16string ExeName() { return platform::OwnExecutablePath(); }

std::u16string ExtractFilePath(std::u16string_view path) {
  return engine::FolderPart(path, PlatformPathDelimiters());
}

std::u16string ExtractFileName(std::u16string_view path) {
  return engine::FileNamePart(path, PlatformPathDelimiters());
}

std::u16string IncludeTrailingPathDelimiter(std::u16string_view path) {
  return engine::WithTrailingDelimiter(path, PlatformPathDelimiters());
}

std::u16string ExcludeTrailingPathDelimiter(std::u16string_view path) {
  return engine::WithoutTrailingDelimiter(path, PlatformPathDelimiters());
}

std::u16string ExpandFileName(std::u16string_view path) { return platform::FullPathName(path); }

bool FileExists(std::u16string_view path) { return platform::GetPathKind(path) == platform::PathKind::File; }

bool DirectoryExists(std::u16string_view path) {
  return platform::GetPathKind(path) == platform::PathKind::Folder;
}
