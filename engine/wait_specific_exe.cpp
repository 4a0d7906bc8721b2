// Install method 2: wait for the launched program, or search the process list
// for a program by name and wait for that one instead.
#include <cstdint>
#include <string>

#include "diag/debug_console.h"
#include "engine/execute_program.h"
#include "framework/sysutils.h"
#include "platform/clock.h"
#include "platform/process.h"
#include "platform/scoped_handle.h"

namespace {

constexpr std::uint32_t kSearchPauseMs = 200;

// A handle as trace lines show it: its low 32 bits as a signed number.
std::u16string HandleText(platform::Handle handle) {
  const auto bits = static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(handle));
  return IntToStr(static_cast<std::int32_t>(bits));
}

// Whether the wanted name occurs in the executable name, letter case ignored.
// An empty wanted name matches nothing.
bool NameMatches(const std::u16string& exeFile, const std::u16string& wanted) {
  if (wanted.empty()) return false;
  return AnsiUpperCase(exeFile).find(AnsiUpperCase(wanted)) != std::u16string::npos;
}

}  // namespace

void ExecuteProgram::WaitSpecificExe(std::int64_t startTime) {
  platform::ProcessServices& processes = platform::CurrentProcesses();
  Trace(u"====Enter INSTALLMETHOD::WaitSpecificExe====");
  platform::Handle waited = nullptr;
  mResult = LaunchProgram(&waited);
  Synchronize([this] { HandBackResult(); });

  if (!mExeParam.WaitForExit) {
    if (waited != nullptr) processes.CloseHandle(waited);
  } else {
    bool found = !mMethodParam->SearchSpecificExe;
    while (mResult) {
      if (TerminationRequested()) break;
      if (!found) {
        // Searching: no time-out applies yet.
        found = FindSpecificExe(nullptr, false);
        if (found) {
          if (waited != nullptr) processes.CloseHandle(waited);
          waited = nullptr;
          FindSpecificExe(&waited, true);
        }
        platform::CurrentClock().Sleep(kSearchPauseMs);
        continue;
      }
      if (TimeoutReached(startTime)) break;
      // A null handle (the match ended before it was opened) never reports
      // an end: such passes pause, as do those that ignore the process's end.
      if (WaitStepForEnd(waited)) {
        TraceWaitEnded();
        break;
      }
    }
    if (waited != nullptr) processes.CloseHandle(waited);
  }
  Trace(u"====Leave INSTALLMETHOD::WaitSpecificExe====");
}

bool ExecuteProgram::FindSpecificExe(platform::Handle* handleSlot, bool openProcess) {
  platform::ProcessServices& processes = platform::CurrentProcesses();
  EnableDebugPrivilege();
  platform::ScopedHandle snapshot(processes.SnapshotProcesses());
  if (!snapshot.IsValid()) return false;
  platform::ProcessEntry entry;
  if (!processes.FirstProcess(snapshot.Get(), entry)) return false;
  // Never the program itself, whose own name may hold the wanted one
  // (ToolbarSetup.exe holds "Setup"): it would wait for its own end.
  const platform::ProcessId own = processes.OwnProcessId();

  bool found = false;
  do {
    if (entry.Id == own || !NameMatches(entry.ExeFile, mMethodParam->SpecificExeName)) continue;
    found = true;
    if (!openProcess) break;
    const platform::Handle opened = processes.OpenProcessById(entry.Id);
    Trace(u"Handle : " + HandleText(opened));
    // Read after the line above has been written.
    Trace(u"Error Code : " + IntToStr(static_cast<std::int32_t>(processes.LastError())));
    if (handleSlot != nullptr) *handleSlot = opened;
    Trace(u"Exe Found : " + entry.ExeFile);
    Trace(u"Handle : " + HandleText(handleSlot != nullptr ? *handleSlot : opened));
    // Without a slot nobody would own the handle.
    if (handleSlot == nullptr && opened != nullptr) processes.CloseHandle(opened);
  } while (!found && processes.NextProcess(snapshot.Get(), entry));
  snapshot.Close();
  return found;
}

void ExecuteProgram::EnableDebugPrivilege() {
  platform::ProcessServices& processes = platform::CurrentProcesses();
  platform::Handle opened = nullptr;
  if (!processes.OpenOwnProcessToken(&opened)) return;
  platform::ScopedHandle token(opened);
  platform::PrivilegeId privilege = 0;
  if (processes.LookupDebugPrivilege(&privilege)) processes.EnablePrivilege(token.Get(), privilege);
  token.Close();
}
