// The process services the worker and the process tracker stand on:
// launching a program, process ids and handles, waiting, the process list and
// the debug privilege, with the results Windows gives.
#pragma once

#include <cstdint>
#include <string>

#include "platform/seam.h"

namespace platform {

// An opaque handle of a process, a process snapshot or an access token; null
// means none. Its value, read as a number, is what trace lines show.
using Handle = void*;
using ProcessId = std::uint32_t;
// A privilege's locally unique id.
using PrivilegeId = std::uint64_t;

// Results of Wait, as WaitForSingleObject gives them.
inline constexpr std::uint32_t kWaitObject0 = 0;
inline constexpr std::uint32_t kWaitTimeout = 0x102;
inline constexpr std::uint32_t kWaitFailed = 0xFFFFFFFF;

// What a launch is given.
struct LaunchRecord {
  std::u16string File;        // the program path
  std::u16string Parameters;  // its command-line arguments, one text
  std::u16string Directory;   // its working folder; empty: the current folder
  std::int32_t ShowCommand = 1;
  // The caller follows the launched program's whole process tree (install
  // method 1). Linux only; ignored on Windows. Without the kernel's process
  // events the launch then goes through the tree helper, so that the tree's
  // short-lived processes and orphans are reported exactly.
  bool FollowTree = false;
};

// One entry of a process snapshot.
struct ProcessEntry {
  ProcessId Id = 0;
  // The executable file name, normally without a folder.
  std::u16string ExeFile;
};

// Every method may be called from any thread. Handles returned belong to the
// caller, which closes each one exactly once with CloseHandle; a handle may
// be used by several threads as long as none closes it meanwhile.
class ProcessServices {
 public:
  virtual ~ProcessServices() = default;

  // ShellExecuteExA with SEE_MASK_NOCLOSEPROCESS, no window and the default
  // verb. True when launched; *process then receives a waitable handle of the
  // new process, which may still be null. On failure *process is null.
  virtual bool Launch(const LaunchRecord& record, Handle* process) = 0;
  // GetProcessId: the process's id; 0 for a null handle.
  virtual ProcessId ProcessIdOf(Handle process) = 0;
  // GetCurrentProcessId: the id under which the process list shows this
  // process, the same on every thread.
  virtual ProcessId OwnProcessId() = 0;
  // OpenProcess with all process access rights, not inheritable: a handle,
  // or null when the process cannot be opened for any reason.
  virtual Handle OpenProcessById(ProcessId id) = 0;
  // WaitForSingleObject: kWaitObject0 when the process has ended, otherwise
  // kWaitTimeout after the time limit or kWaitFailed at once (a null handle).
  virtual std::uint32_t Wait(Handle process, std::uint32_t milliseconds) = 0;
  // When the process started, on the clock of ProcessClockNow (Windows: its
  // creation time from GetProcessTimes, in 100 ns units; Linux: clock ticks
  // since boot). False when it cannot be read. Tells a process from a later
  // one that reuses its id.
  virtual bool ProcessStartTime(Handle process, std::uint64_t* startTime) = 0;
  // Now, on the clock of ProcessStartTime (GetSystemTimeAsFileTime; Linux:
  // the boot-time clock in ticks). A process that starts after this call
  // reads a start time no smaller than this value.
  virtual std::uint64_t ProcessClockNow() = 0;
  // CloseHandle: ends the caller's use of any handle from these services;
  // null is ignored.
  virtual void CloseHandle(Handle handle) = 0;

  // CreateToolhelp32Snapshot of the running processes; null on failure.
  virtual Handle SnapshotProcesses() = 0;
  // Process32First / Process32Next: the first or next entry of the snapshot,
  // false when there is none (or the snapshot cannot be read).
  virtual bool FirstProcess(Handle snapshot, ProcessEntry& entry) = 0;
  virtual bool NextProcess(Handle snapshot, ProcessEntry& entry) = 0;

  // GetLastError: the calling thread's last error code.
  virtual std::uint32_t LastError() = 0;

  // OpenProcessToken of the own process with access 0x28 (adjust privileges, query).
  virtual bool OpenOwnProcessToken(Handle* token) = 0;
  // LookupPrivilegeValueA of "SeDebugPrivilege" on the local system.
  virtual bool LookupDebugPrivilege(PrivilegeId* privilege) = 0;
  // AdjustTokenPrivileges enabling the one privilege; the outcome is not reported.
  virtual void EnablePrivilege(Handle token, PrivilegeId privilege) = 0;
};

// The real services of this platform. Lives for the whole process.
ProcessServices& SystemProcesses();
// The services in use: the real ones unless a test put a fake in place.
inline ProcessServices& CurrentProcesses() { return CurrentService<ProcessServices>(SystemProcesses()); }
using ScopedProcessesForTesting = ScopedServiceForTesting<ProcessServices>;

}  // namespace platform
