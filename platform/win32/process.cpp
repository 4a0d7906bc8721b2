// Process services on Windows: shell launch (shell32.dll loaded at the first
// launch), process handles, Toolhelp snapshots and the debug privilege, with
// texts in the ANSI code page.
#include <windows.h>
// After windows.h:
#include <shellapi.h>
#include <tlhelp32.h>

#include <string>

#include "platform/process.h"
#include "platform/text.h"
#include "platform/win32/system_library.h"

namespace platform {
namespace {

// The narrow-character records, whose sizes the shipped 32-bit exe relies on.
static_assert(sizeof(PROCESSENTRY32::szExeFile[0]) == 1, "PROCESSENTRY32 must be the ANSI record");
#ifdef _WIN64
static_assert(sizeof(SHELLEXECUTEINFOA) == 112, "SHELLEXECUTEINFOA size");
static_assert(sizeof(PROCESSENTRY32) == 304, "PROCESSENTRY32 size");
#else
static_assert(sizeof(SHELLEXECUTEINFOA) == 60, "SHELLEXECUTEINFOA size");
static_assert(sizeof(PROCESSENTRY32) == 296, "PROCESSENTRY32 size");
#endif

constexpr DWORD kAllProcessAccess = 0x1FFFFF;
constexpr DWORD kTokenAccess = TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY;  // 0x28
static_assert(kTokenAccess == 0x28);

// The entry record with its size set, as Process32First requires. The size
// comes from the record itself: 64-bit systems reject the 32-bit size.
PROCESSENTRY32 EmptyEntry() {
  PROCESSENTRY32 entry{};
  entry.dwSize = sizeof(PROCESSENTRY32);
  return entry;
}

void CopyEntry(const PROCESSENTRY32& from, ProcessEntry& to) {
  to.Id = from.th32ProcessID;
  to.ExeFile = AnsiToWide(from.szExeFile);
}

std::uint64_t FileTimeValue(const FILETIME& time) {
  return (static_cast<std::uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

class Win32Processes final : public ProcessServices {
 public:
  bool Launch(const LaunchRecord& record, Handle* process) override {
    // The narrow texts stay alive until ShellExecuteExA has returned.
    const std::string file = WideToAnsi(record.File);
    // The ANSI launch takes no path beyond the system's limit (the shell can
    // crash on one): such a launch fails as a missing file does, without
    // calling the system.
    if (file.size() >= MAX_PATH) {
      *process = nullptr;
      SetLastError(ERROR_FILE_NOT_FOUND);
      return false;
    }
    const std::string parameters = WideToAnsi(record.Parameters);
    const std::string directory = WideToAnsi(record.Directory);
    SHELLEXECUTEINFOA info{};
    info.cbSize = sizeof(info);
    info.fMask = SEE_MASK_NOCLOSEPROCESS;
    info.hwnd = nullptr;
    info.lpVerb = nullptr;
    info.lpFile = file.c_str();
    info.lpParameters = parameters.c_str();
    info.lpDirectory = directory.c_str();
    info.nShow = record.ShowCommand;
    using ShellExecuteExFn = BOOL(WINAPI*)(SHELLEXECUTEINFOA*);
    static const auto shellExecuteEx = SystemFunction<ShellExecuteExFn>(L"shell32.dll", "ShellExecuteExA");
    if (shellExecuteEx == nullptr) {
      *process = nullptr;
      SetLastError(ERROR_PROC_NOT_FOUND);
      return false;
    }
    const bool launched = shellExecuteEx(&info) != FALSE;
    *process = launched ? info.hProcess : nullptr;
    return launched;
  }

  ProcessId ProcessIdOf(Handle process) override { return ::GetProcessId(process); }

  ProcessId OwnProcessId() override { return ::GetCurrentProcessId(); }

  Handle OpenProcessById(ProcessId id) override { return ::OpenProcess(kAllProcessAccess, FALSE, id); }

  bool ProcessStartTime(Handle process, std::uint64_t* startTime) override {
    FILETIME created{}, exited{}, kernel{}, user{};
    if (::GetProcessTimes(process, &created, &exited, &kernel, &user) == FALSE) return false;
    *startTime = FileTimeValue(created);
    return true;
  }
  std::uint64_t ProcessClockNow() override {
    FILETIME now{};
    ::GetSystemTimeAsFileTime(&now);
    return FileTimeValue(now);
  }

  std::uint32_t Wait(Handle process, std::uint32_t milliseconds) override {
    return ::WaitForSingleObject(process, milliseconds);
  }

  void CloseHandle(Handle handle) override {
    if (handle != nullptr) ::CloseHandle(handle);
  }

  Handle SnapshotProcesses() override {
    const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    return snapshot == INVALID_HANDLE_VALUE ? nullptr : snapshot;
  }

  bool FirstProcess(Handle snapshot, ProcessEntry& entry) override {
    PROCESSENTRY32 record = EmptyEntry();
    if (!Process32First(snapshot, &record)) return false;
    CopyEntry(record, entry);
    return true;
  }

  bool NextProcess(Handle snapshot, ProcessEntry& entry) override {
    PROCESSENTRY32 record = EmptyEntry();
    if (!Process32Next(snapshot, &record)) return false;
    CopyEntry(record, entry);
    return true;
  }

  std::uint32_t LastError() override { return ::GetLastError(); }

  bool OpenOwnProcessToken(Handle* token) override {
    HANDLE opened = nullptr;
    const bool ok = ::OpenProcessToken(GetCurrentProcess(), kTokenAccess, &opened) != FALSE;
    *token = ok ? opened : nullptr;
    return ok;
  }

  bool LookupDebugPrivilege(PrivilegeId* privilege) override {
    LUID luid{};
    if (!LookupPrivilegeValueA(nullptr, "SeDebugPrivilege", &luid)) return false;
    *privilege = (static_cast<std::uint64_t>(static_cast<std::uint32_t>(luid.HighPart)) << 32) | luid.LowPart;
    return true;
  }

  void EnablePrivilege(Handle token, PrivilegeId privilege) override {
    TOKEN_PRIVILEGES privileges{};
    privileges.PrivilegeCount = 1;
    privileges.Privileges[0].Luid.LowPart = static_cast<DWORD>(privilege & 0xFFFFFFFFu);
    privileges.Privileges[0].Luid.HighPart = static_cast<LONG>(privilege >> 32);
    privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    ::AdjustTokenPrivileges(token, FALSE, &privileges, 0, nullptr, nullptr);
  }
};

}  // namespace

ProcessServices& SystemProcesses() {
  static Win32Processes* processes = new Win32Processes();  // lives for the whole process
  return *processes;
}

}  // namespace platform
