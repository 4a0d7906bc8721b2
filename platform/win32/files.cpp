// Paths and file attributes on Windows, through the wide-character API.
#include <windows.h>

#include "platform/files.h"

namespace platform {
namespace {

const wchar_t* Wide(const std::u16string& text) { return reinterpret_cast<const wchar_t*>(text.c_str()); }
wchar_t* Wide(std::u16string& text) { return reinterpret_cast<wchar_t*>(text.data()); }

class Win32Files final : public FileServices {
 public:
  std::u16string OwnExecutablePath() override;
  std::u16string FullPathName(std::u16string_view path) override;
  PathKind GetPathKind(std::u16string_view path) override;
};

}  // namespace

FileServices& SystemFiles() {
  static Win32Files* const files = new Win32Files();  // lives for the process
  return *files;
}

const common::PathDelimiters& PathDelimitersOfPlatform() { return common::kWindowsPathDelimiters; }

std::u16string Win32Files::OwnExecutablePath() {
  std::u16string buffer(MAX_PATH, u'\0');
  for (;;) {
    const DWORD length = GetModuleFileNameW(nullptr, Wide(buffer), static_cast<DWORD>(buffer.size()));
    if (length == 0) return {};
    // A full buffer means the name may have been cut: try again with more room.
    if (length < buffer.size()) {
      buffer.resize(length);
      return buffer;
    }
    buffer.resize(buffer.size() * 2);
  }
}

std::u16string Win32Files::FullPathName(std::u16string_view path) {
  const std::u16string input(path);
  std::u16string buffer(MAX_PATH, u'\0');
  for (;;) {
    const DWORD length = GetFullPathNameW(Wide(input), static_cast<DWORD>(buffer.size()), Wide(buffer), nullptr);
    if (length == 0) return {};
    // Too small a buffer: the result is the size needed, terminator included.
    if (length < buffer.size()) {
      buffer.resize(length);
      return buffer;
    }
    buffer.resize(length);
  }
}

PathKind Win32Files::GetPathKind(std::u16string_view path) {
  const DWORD attributes = GetFileAttributesW(Wide(std::u16string(path)));
  if (attributes == INVALID_FILE_ATTRIBUTES) return PathKind::Missing;
  return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? PathKind::Folder : PathKind::File;
}

}  // namespace platform
