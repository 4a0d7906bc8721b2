// What the Win32 backend's windows share: the class names, wide-text access,
// the owner object kept in a window's user data, and the set of form windows
// that the message loop gives keyboard navigation. Main thread.
#pragma once

#include <windows.h>

#include <set>
#include <string>

#include "platform/win32/wide.h"

namespace framework {

inline constexpr wchar_t kFormClass[] = L"TNorvikForm";
inline constexpr wchar_t kCheckBoxClass[] = L"TNorvikHTMLCheckBox";
inline constexpr wchar_t kServiceClass[] = L"TNorvikService";

using platform::Wide;

// The object a window was created for (its creation parameter), kept in the
// window's user data from WM_NCCREATE on; null before that and after release.
template <class Owner>
Owner* WindowOwner(HWND hwnd, UINT message, LPARAM lParam) {
  if (message == WM_NCCREATE) {
    auto* create = reinterpret_cast<CREATESTRUCTW*>(lParam);
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  }
  return reinterpret_cast<Owner*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
}

// The top-level windows of forms, for keyboard navigation in the message loop.
std::set<HWND>& FormHandles();

}  // namespace framework
