// DLLs of the system folder that the program needs only for a later action
// (or only on newer Windows), loaded by full path when first asked for, and
// their functions looked up by name. Windows only.
#pragma once

#include <windows.h>

namespace platform {

// The DLL of that file name from the system folder, loaded on the first call
// and kept until the process ends; null when it cannot be loaded. The path is
// spelled out: the program runs elevated from folders others can write to,
// so no other folder is searched. Any thread.
HMODULE SystemLibrary(const wchar_t* fileName);

// The function of that name in the system DLL, as the given pointer type;
// null when the DLL or the function is missing. Any thread.
template <class Function>
Function SystemFunction(const wchar_t* fileName, const char* name) {
  HMODULE module = SystemLibrary(fileName);
  if (module == nullptr) return nullptr;
  return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

}  // namespace platform
