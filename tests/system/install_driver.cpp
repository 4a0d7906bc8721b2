// Runs one install run of the worker with a request given on the command
// line, so that system tests and benchmarks can drive the install methods the
// dialog never asks for:
//   nvk_install_driver METHOD PROGRAM [/NAME:text] [/SEARCH] [/TIMEOUT:seconds] [/IGNOREEND] [/NOWAIT]
//                      [/NOOPEN] [/PARAMS:text] [/STAGE:folder] [/BOOTOPTION:name] [/REMOVESTAGED]
// METHOD is the install method number; PROGRAM (a full path) is launched with
// "/r:NVKM". /NAME sets SpecificExeName, /SEARCH sets SearchSpecificExe,
// /TIMEOUT sets TimeoutSeconds with UseTimeout 1, /IGNOREEND sets
// IgnoreProcessEnd and /NOWAIT clears WaitForExit. /NOOPEN makes every open
// of a process by its id fail, so that the process a search finds is as one
// that ended before it was opened (method 2 then waits on no handle).
// /PARAMS replaces the arguments (with PROGRAM "COPYFILE": the copy
// instructions), /STAGE sets StageSource, /BOOTOPTION sets BootOptionFile and
// /REMOVESTAGED sets RemoveStaged. The
// debug console is open
// from the start, so the worker's trace lines are written (standard error on
// Linux, the console under Windows). Exit code: 0 when the launch succeeded,
// 1 when it failed, 2 for a wrong command line.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>

#include "diag/debug_console.h"
#include "engine/execute_program.h"
#include "platform/process.h"
#include "platform/text.h"
#include "tests/support/headless_app.h"

namespace {

// The real process services, except that no process can be opened by its id.
class UnopenableProcesses final : public platform::ProcessServices {
 public:
  bool Launch(const platform::LaunchRecord& record, platform::Handle* process) override {
    return mReal.Launch(record, process);
  }
  platform::ProcessId ProcessIdOf(platform::Handle process) override { return mReal.ProcessIdOf(process); }
  platform::ProcessId OwnProcessId() override { return mReal.OwnProcessId(); }
  platform::Handle OpenProcessById(platform::ProcessId) override { return nullptr; }
  std::uint32_t Wait(platform::Handle process, std::uint32_t milliseconds) override {
    return mReal.Wait(process, milliseconds);
  }
  bool ProcessStartTime(platform::Handle process, std::uint64_t* startTime) override {
    return mReal.ProcessStartTime(process, startTime);
  }
  std::uint64_t ProcessClockNow() override { return mReal.ProcessClockNow(); }
  void CloseHandle(platform::Handle handle) override { mReal.CloseHandle(handle); }
  platform::Handle SnapshotProcesses() override { return mReal.SnapshotProcesses(); }
  bool FirstProcess(platform::Handle snapshot, platform::ProcessEntry& entry) override {
    return mReal.FirstProcess(snapshot, entry);
  }
  bool NextProcess(platform::Handle snapshot, platform::ProcessEntry& entry) override {
    return mReal.NextProcess(snapshot, entry);
  }
  std::uint32_t LastError() override { return mReal.LastError(); }
  bool OpenOwnProcessToken(platform::Handle* token) override { return mReal.OpenOwnProcessToken(token); }
  bool LookupDebugPrivilege(platform::PrivilegeId* privilege) override {
    return mReal.LookupDebugPrivilege(privilege);
  }
  void EnablePrivilege(platform::Handle token, platform::PrivilegeId privilege) override {
    mReal.EnablePrivilege(token, privilege);
  }

 private:
  platform::ProcessServices& mReal = platform::SystemProcesses();
};

bool StartsWith(std::string_view text, std::string_view prefix) { return text.substr(0, prefix.size()) == prefix; }

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: nvk_install_driver METHOD PROGRAM [/NAME:text] [/SEARCH] [/TIMEOUT:seconds] "
                         "[/IGNOREEND] [/NOWAIT] [/NOOPEN] [/PARAMS:text] [/STAGE:folder] [/BOOTOPTION:name] "
                         "[/REMOVESTAGED]\n");
    return 2;
  }
  const auto installMethod = static_cast<std::int32_t>(std::strtol(argv[1], nullptr, 10));

  bool launched = false;
  ExeParameter request;
  request.FileName = platform::AnsiToWide(argv[2]);
  request.Parameters = u"/r:NVKM";
  request.StageSource = u"0";
  request.WaitForExit = true;
  request.ShowCommand = 1;
  request.ResultFlag = &launched;
  InstallMethodParam method;
  bool noOpen = false;
  for (int i = 3; i < argc; ++i) {
    const std::string_view option = argv[i];
    if (StartsWith(option, "/NAME:")) {
      method.SpecificExeName = platform::AnsiToWide(option.substr(6));
    } else if (option == "/SEARCH") {
      method.SearchSpecificExe = true;
    } else if (StartsWith(option, "/TIMEOUT:")) {
      method.UseTimeout = 1;
      method.TimeoutSeconds = static_cast<std::int32_t>(std::strtol(argv[i] + 9, nullptr, 10));
    } else if (option == "/IGNOREEND") {
      method.IgnoreProcessEnd = true;
    } else if (option == "/NOWAIT") {
      request.WaitForExit = false;
    } else if (StartsWith(option, "/PARAMS:")) {
      request.Parameters = platform::AnsiToWide(option.substr(8));
    } else if (StartsWith(option, "/STAGE:")) {
      request.StageSource = platform::AnsiToWide(option.substr(7));
    } else if (StartsWith(option, "/BOOTOPTION:")) {
      request.BootOptionFile = platform::AnsiToWide(option.substr(12));
    } else if (option == "/REMOVESTAGED") {
      request.RemoveStaged = true;
    } else if (option == "/NOOPEN") {
      noOpen = true;
    } else {
      std::fprintf(stderr, "nvk_install_driver: unknown option %s\n", argv[i]);
      return 2;
    }
  }

  UnopenableProcesses unopenable;
  std::unique_ptr<platform::ScopedProcessesForTesting> unopenableInUse;
  if (noOpen) unopenableInUse = std::make_unique<platform::ScopedProcessesForTesting>(unopenable);

  DebugConsoleInstance(true);
  RunScenario([&](ScenarioForm& form) {
    auto* worker = new ExecuteProgram(true, request, &method, installMethod);  // frees itself
    worker->OnTerminate = [&form](TObject*) { form.Close(); };
    worker->Start();
  });
  return launched ? 0 : 1;
}
