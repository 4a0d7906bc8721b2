// Loading DLLs of the system folder by full path.
#include "platform/win32/system_library.h"

#include <string>

namespace platform {

HMODULE SystemLibrary(const wchar_t* fileName) {
  wchar_t folder[MAX_PATH] = {};
  const UINT length = GetSystemDirectoryW(folder, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return nullptr;
  const std::wstring path = std::wstring(folder, length) + L"\\" + fileName;
  // A DLL already loaded is only counted once more; the program never frees it.
  return LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

}  // namespace platform
