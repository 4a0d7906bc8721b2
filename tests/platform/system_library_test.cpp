// DLLs of the system folder loaded by full path, and their functions by name.
#include <gtest/gtest.h>

#include <windows.h>

#include <cwctype>
#include <string>

#include "platform/win32/system_library.h"

namespace {

using platform::SystemFunction;
using platform::SystemLibrary;

std::wstring Lower(std::wstring text) {
  for (wchar_t& c : text) c = static_cast<wchar_t>(std::towlower(c));
  return text;
}

std::wstring ModuleFile(HMODULE module) {
  wchar_t path[MAX_PATH] = {};
  const DWORD length = GetModuleFileNameW(module, path, MAX_PATH);
  return Lower(std::wstring(path, length));
}

TEST(SystemLibrary, LoadsFromTheSystemFolderOnly) {
  wchar_t folder[MAX_PATH] = {};
  const UINT length = GetSystemDirectoryW(folder, MAX_PATH);
  ASSERT_GT(length, 0u);
  const std::wstring expected = Lower(std::wstring(folder, length) + L"\\oleaut32.dll");

  const HMODULE module = SystemLibrary(L"oleaut32.dll");
  ASSERT_NE(module, nullptr);
  EXPECT_EQ(ModuleFile(module), expected);
  EXPECT_EQ(SystemLibrary(L"oleaut32.dll"), module) << "a second call gives the module already loaded";

  // A DLL beside the program (the test's own folder) is never taken for a system one.
  wchar_t own[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, own, MAX_PATH);
  std::wstring ownName(own);
  ownName = ownName.substr(ownName.find_last_of(L"\\/") + 1);
  EXPECT_EQ(SystemLibrary(ownName.c_str()), nullptr) << "the test program is no system DLL";
  EXPECT_EQ(SystemLibrary(L"no-such-library.dll"), nullptr);
}

TEST(SystemLibrary, FindsFunctionsByName) {
  // BSTR is a wchar_t pointer.
  using AllocFn = wchar_t*(WINAPI*)(const wchar_t*, UINT);
  using FreeFn = void(WINAPI*)(wchar_t*);
  const auto alloc = SystemFunction<AllocFn>(L"oleaut32.dll", "SysAllocStringLen");
  const auto release = SystemFunction<FreeFn>(L"oleaut32.dll", "SysFreeString");
  ASSERT_NE(alloc, nullptr);
  ASSERT_NE(release, nullptr);
  wchar_t* text = alloc(L"abc", 3);
  ASSERT_NE(text, nullptr);
  EXPECT_EQ(std::wstring(text), L"abc");
  release(text);

  EXPECT_EQ(SystemFunction<FreeFn>(L"oleaut32.dll", "NoSuchFunction"), nullptr);
  EXPECT_EQ(SystemFunction<FreeFn>(L"no-such-library.dll", "SysFreeString"), nullptr);
}

}  // namespace
