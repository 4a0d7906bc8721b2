// The worker: the steps of a run, the copy request and install method 0.
// Install method 2 lives in wait_specific_exe.cpp.
#include "engine/execute_program.h"

#include "diag/debug_console.h"
#include "engine/copy_files.h"
#include "engine/staging.h"
#include "framework/paths.h"
#include "framework/sysutils.h"
#include "platform/clock.h"
#include "platform/com.h"
#include "platform/process.h"
#include "process/launch_record.h"

namespace {

constexpr std::uint32_t kWaitStepMs = 200;
constexpr std::u16string_view kCopyRequest = u"COPYFILE";

bool IsCopyRequest(const std::u16string& fileName) {
  return AnsiUpperCase(ExtractFileName(fileName)) == AnsiUpperCase(kCopyRequest);
}

}  // namespace

ExecuteProgram::ExecuteProgram(bool createSuspended, const ExeParameter& exeParam,
                               InstallMethodParam* methodParam, std::int32_t installMethod)
    : TThread(createSuspended) {
  FreeOnTerminate = true;
  mExeParam = exeParam;
  CreateProcessTracker();
  mInstallMethod = installMethod;
  mMethodParam = methodParam;
}

ExecuteProgram::~ExecuteProgram() {
  TerminateAndWait();  // Execute uses the tracker until it returns
  TearDownProcessTracker();
}

void ExecuteProgram::Execute() {
  const std::int64_t startTime = platform::CurrentClock().Now();

  if (IsCopyRequest(mExeParam.FileName)) {
    mResult = engine::RunCopyFile(mExeParam.Parameters);
    Synchronize([this] { HandBackResult(); });
    FinishRun();
    return;
  }

  const engine::StageResult staged =
      engine::StageToTemp(mExeParam, mExeParam.FileName, mStagedFolder, [this] { return Terminated(); });
  mExeParam.FileName = staged.LaunchPath;
  switch (staged.Outcome) {
    case engine::StageOutcome::Launch:
      break;
    case engine::StageOutcome::SettingsFileFailed:
      FinishRun();  // no launch and no hand-back
      return;
    case engine::StageOutcome::Stopped:
      TerminationRequested();  // its trace line
      [[fallthrough]];
    case engine::StageOutcome::Refused:
      mResult = false;  // handed back as a failed launch
      Synchronize([this] { HandBackResult(); });
      FinishRun();
      return;
  }

  platform::CurrentCom().CoInitializeEx(platform::kCoinitApartmentThreaded | platform::kCoinitDisableOle1Dde);
  Trace(u"Install Method = " + IntToStr(mInstallMethod));
  switch (mInstallMethod) {
    case INSTALLMETHOD::WaitLaunchedExe:
      WaitLaunchedExe(startTime);
      break;
    case INSTALLMETHOD::WaitProcessTree:
      WaitProcessTree(startTime);
      break;
    case INSTALLMETHOD::WaitSpecificExe:
      WaitSpecificExe(startTime);
      break;
    default:
      break;  // nothing is launched and nothing is handed back
  }
  RemoveStagedFolder();
  platform::CurrentCom().CoUninitialize();
  FinishRun();
}

void ExecuteProgram::RemoveStagedFolder() {
  if (mStagedFolder.empty() || !mExeParam.RemoveStaged) return;
  // A launched installer that the wait did not see end may still run from the folder.
  if (mResult && !mWaitedForEnd) {
    Trace(u"Staged folder kept: the installer is still running");
    return;
  }
  engine::DeleteFolder(mStagedFolder);
}

void ExecuteProgram::FinishRun() { TearDownProcessTracker(); }

void ExecuteProgram::HandBackResult() {
  if (mExeParam.ResultFlag != nullptr) *mExeParam.ResultFlag = mResult;
}

bool ExecuteProgram::TimedOut(std::int64_t startTime, std::int32_t timeoutSeconds) {
  const double elapsed = static_cast<double>(platform::CurrentClock().Now() - startTime);
  return static_cast<double>(timeoutSeconds) < elapsed;
}

bool ExecuteProgram::LaunchProgram(platform::Handle* process) {
  return platform::CurrentProcesses().Launch(LaunchRecordFor(mExeParam), process);
}

void ExecuteProgram::WaitLaunchedExe(std::int64_t startTime) {
  platform::ProcessServices& processes = platform::CurrentProcesses();
  platform::Handle process = nullptr;
  mResult = LaunchProgram(&process);
  Synchronize([this] { HandBackResult(); });

  if (!mExeParam.WaitForExit || process == nullptr) {
    processes.CloseHandle(process);
    return;
  }

  const platform::ProcessId id = processes.ProcessIdOf(process);
  platform::Handle opened = nullptr;
  while (mResult) {
    if (TerminationRequested() || TimeoutReached(startTime)) break;
    opened = processes.OpenProcessById(id);
    if (opened == nullptr) {
      Trace(u"Break by OpenProcess Fail");
      break;
    }
    if (WaitStepForEnd(process)) {
      TraceWaitEnded();
      break;
    }
    processes.CloseHandle(opened);
    opened = nullptr;
  }
  processes.CloseHandle(process);
  if (opened != nullptr) processes.CloseHandle(opened);
}

bool ExecuteProgram::TerminationRequested() {
  if (!Terminated()) return false;
  Trace(u"Break by user terminate");
  mExeParam.RemoveStaged = false;
  return true;
}

bool ExecuteProgram::TimeoutReached(std::int64_t startTime) {
  if (mMethodParam->UseTimeout != 1 || !TimedOut(startTime, mMethodParam->TimeoutSeconds)) return false;
  Trace(u"Break by time out");
  return true;
}

bool ExecuteProgram::WaitStepForEnd(platform::Handle process) {
  if (!mMethodParam->IgnoreProcessEnd) {
    const std::uint32_t result = platform::CurrentProcesses().Wait(process, kWaitStepMs);
    if (result == platform::kWaitObject0) return true;
    if (result == platform::kWaitTimeout) return false;  // the step was spent waiting
  }
  platform::CurrentClock().Sleep(kWaitStepMs);
  return false;
}

void ExecuteProgram::TraceWaitEnded() {
  mWaitedForEnd = true;
  Trace(u"Break by handle closed");
}

void ExecuteProgram::Trace(const std::u16string& line) { GetDebugConsole()->WriteLine(line); }
