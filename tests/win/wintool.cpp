// Looks at and drives the windows of other programs, for the system tests:
//   wintool window TITLE TIMEOUT_MS [PID]       waits for a visible top-level window with exactly
//                                               this title; prints "style=0x........
//                                               exstyle=0x........ client=WxH"
//   wintool message-box TITLE TIMEOUT_MS [PID]  waits for a visible message box with this title,
//                                               prints "text:" and its message (UTF-8), presses OK
//   wintool close TITLE [PID]                   posts WM_CLOSE to the visible window with this title
//   wintool close-hidden TITLE PID              posts WM_CLOSE to the process's window with this
//                                               title, shown or hidden (a polite close request)
//   wintool click-twice TITLE CAPTION PID       posts two BN_CLICKED of the push button CAPTION to
//                                               the process's window TITLE at once, as a second
//                                               click queued behind the first would arrive
// With PID, only windows of that process count.
// Exit code 0 on success, 1 when no such window came, 2 on bad usage.
#include <windows.h>
#include <shellapi.h>

#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

namespace {

constexpr wchar_t kDialogClass[] = L"#32770";  // the standard dialog class of message boxes
constexpr DWORD kMessageTimeoutMs = 5000;
constexpr DWORD kPollMs = 50;

void Print(const std::wstring& text) {
  const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                       nullptr, nullptr);
  std::string bytes(static_cast<std::size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), bytes.data(), size, nullptr,
                      nullptr);
  bytes += '\n';
  DWORD written = 0;
  WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

// The text of a window of any process, asked for through WM_GETTEXT.
std::wstring TextOf(HWND window) {
  DWORD_PTR length = 0;
  if (!SendMessageTimeoutW(window, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, kMessageTimeoutMs, &length)) return {};
  std::vector<wchar_t> buffer(length + 1, L'\0');
  DWORD_PTR copied = 0;
  SendMessageTimeoutW(window, WM_GETTEXT, buffer.size(), reinterpret_cast<LPARAM>(buffer.data()), SMTO_ABORTIFHUNG,
                      kMessageTimeoutMs, &copied);
  return std::wstring(buffer.data(), copied);
}

std::wstring ClassOf(HWND window) {
  wchar_t name[256] = {};
  const int length = GetClassNameW(window, name, 256);
  return std::wstring(name, static_cast<std::size_t>(length > 0 ? length : 0));
}

struct Search {
  const wchar_t* title;
  const wchar_t* windowClass;  // null: any class
  DWORD processId;             // 0: any process
  HWND found;
  bool hiddenToo = false;
};

BOOL CALLBACK MatchTopLevel(HWND window, LPARAM data) {
  auto* search = reinterpret_cast<Search*>(data);
  if (!search->hiddenToo && !IsWindowVisible(window)) return TRUE;
  if (search->processId != 0) {
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner != search->processId) return TRUE;
  }
  if (search->windowClass != nullptr && ClassOf(window) != search->windowClass) return TRUE;
  if (TextOf(window) != search->title) return TRUE;
  search->found = window;
  return FALSE;
}

HWND FindVisible(const wchar_t* title, const wchar_t* windowClass, DWORD processId) {
  Search search = {title, windowClass, processId, nullptr, false};
  EnumWindows(&MatchTopLevel, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

HWND WaitForVisible(const wchar_t* title, const wchar_t* windowClass, DWORD processId, DWORD timeoutMs) {
  const ULONGLONG deadline = GetTickCount64() + timeoutMs;
  for (;;) {
    if (HWND window = FindVisible(title, windowClass, processId)) return window;
    if (GetTickCount64() >= deadline) return nullptr;
    Sleep(kPollMs);
  }
}

// The message of a message box: its static control that is not the icon.
BOOL CALLBACK MatchMessageText(HWND child, LPARAM data) {
  const std::wstring name = ClassOf(child);
  if (_wcsicmp(name.c_str(), L"Static") != 0) return TRUE;
  if ((GetWindowLongW(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON) return TRUE;
  *reinterpret_cast<HWND*>(data) = child;
  return FALSE;
}

int NotFound(const wchar_t* what, const wchar_t* title) {
  std::fwprintf(stderr, L"wintool: no visible %ls titled \"%ls\"\n", what, title);
  return 1;
}

int ShowWindowFacts(const wchar_t* title, DWORD timeoutMs, DWORD processId) {
  HWND window = WaitForVisible(title, nullptr, processId, timeoutMs);
  if (window == nullptr) return NotFound(L"window", title);
  RECT client = {};
  GetClientRect(window, &client);
  wchar_t line[128];
  std::swprintf(line, 128, L"style=0x%08lx exstyle=0x%08lx client=%ldx%ld",
                static_cast<unsigned long>(GetWindowLongW(window, GWL_STYLE)),
                static_cast<unsigned long>(GetWindowLongW(window, GWL_EXSTYLE)), client.right - client.left,
                client.bottom - client.top);
  Print(line);
  return 0;
}

int AnswerMessageBox(const wchar_t* title, DWORD timeoutMs, DWORD processId) {
  HWND box = WaitForVisible(title, kDialogClass, processId, timeoutMs);
  if (box == nullptr) return NotFound(L"message box", title);
  HWND text = nullptr;
  EnumChildWindows(box, &MatchMessageText, reinterpret_cast<LPARAM>(&text));
  if (text == nullptr) {
    std::fwprintf(stderr, L"wintool: the message box has no text control\n");
    return 1;
  }
  Print(L"text:" + TextOf(text));
  HWND ok = GetDlgItem(box, IDOK);
  PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), reinterpret_cast<LPARAM>(ok));
  return 0;
}

int CloseWindow(const wchar_t* title, DWORD processId) {
  HWND window = FindVisible(title, nullptr, processId);
  if (window == nullptr) return NotFound(L"window", title);
  return PostMessageW(window, WM_CLOSE, 0, 0) ? 0 : 1;
}

HWND FindShownOrHidden(const wchar_t* title, DWORD processId) {
  Search search = {title, nullptr, processId, nullptr, true};
  EnumWindows(&MatchTopLevel, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

int CloseHiddenWindow(const wchar_t* title, DWORD processId) {
  HWND window = FindShownOrHidden(title, processId);
  if (window == nullptr) return NotFound(L"or hidden window", title);
  return PostMessageW(window, WM_CLOSE, 0, 0) ? 0 : 1;
}

struct ButtonSearch {
  const wchar_t* caption;
  HWND found;
};

BOOL CALLBACK MatchButton(HWND child, LPARAM data) {
  auto* search = reinterpret_cast<ButtonSearch*>(data);
  if (_wcsicmp(ClassOf(child).c_str(), L"Button") != 0 || TextOf(child) != search->caption) return TRUE;
  search->found = child;
  return FALSE;
}

int ClickTwice(const wchar_t* title, const wchar_t* caption, DWORD processId) {
  HWND window = FindShownOrHidden(title, processId);
  if (window == nullptr) return NotFound(L"or hidden window", title);
  ButtonSearch search = {caption, nullptr};
  EnumChildWindows(window, &MatchButton, reinterpret_cast<LPARAM>(&search));
  if (search.found == nullptr) return NotFound(L"button", caption);
  const WPARAM clicked = MAKEWPARAM(GetDlgCtrlID(search.found), BN_CLICKED);
  const LPARAM button = reinterpret_cast<LPARAM>(search.found);
  return PostMessageW(window, WM_COMMAND, clicked, button) && PostMessageW(window, WM_COMMAND, clicked, button) ? 0 : 1;
}

int Usage() {
  std::fwprintf(stderr,
                L"usage: wintool window TITLE TIMEOUT_MS [PID] | message-box TITLE TIMEOUT_MS [PID] | close TITLE [PID]"
                L" | close-hidden TITLE PID | click-twice TITLE CAPTION PID\n");
  return 2;
}

}  // namespace

int main() {
  int argc = 0;
  LPWSTR* args = CommandLineToArgvW(GetCommandLineW(), &argc);
  if (args == nullptr) return Usage();
  const std::vector<std::wstring> arguments(args + 1, args + argc);
  LocalFree(args);

  const auto number = [&](std::size_t index) -> DWORD {
    return index < arguments.size() ? static_cast<DWORD>(std::wcstoul(arguments[index].c_str(), nullptr, 10)) : 0;
  };
  const std::size_t count = arguments.size();
  if (count == 0) return Usage();
  const std::wstring& command = arguments[0];
  if (command == L"window" && (count == 3 || count == 4)) {
    return ShowWindowFacts(arguments[1].c_str(), number(2), number(3));
  }
  if (command == L"message-box" && (count == 3 || count == 4)) {
    return AnswerMessageBox(arguments[1].c_str(), number(2), number(3));
  }
  if (command == L"close" && (count == 2 || count == 3)) return CloseWindow(arguments[1].c_str(), number(2));
  if (command == L"close-hidden" && count == 3) return CloseHiddenWindow(arguments[1].c_str(), number(2));
  if (command == L"click-twice" && count == 4) {
    return ClickTwice(arguments[1].c_str(), arguments[2].c_str(), number(3));
  }
  return Usage();
}
