// The worker's side of the process tracker: its creation and subscriptions,
// install method 1 (wait until the launched process tree has ended) and its
// teardown.
#include "engine/execute_program.h"
#include "platform/clock.h"
#include "platform/process.h"

namespace {

constexpr std::uint32_t kTreePassMs = 150;

}  // namespace

void ExecuteProgram::CreateProcessTracker() {
  mProcessEngine = std::make_unique<ProcessEngine>();
  if (!mProcessEngine->GetWMIEngine()->Connect()) return;
  // Every process start and stop in the system reaches the tracker from now
  // on; whether the queries were accepted is not looked at.
  mProcessEngine->GetWMIEngine()->Subscribe("SELECT * FROM Win32_ProcessStartTrace", ProcessStartTrace,
                                            mProcessEngine.get(), &ProcessEngine::ProcCreateIndicate);
  mProcessEngine->GetWMIEngine()->Subscribe("SELECT * FROM Win32_ProcessStopTrace", ProcessStopTrace,
                                            mProcessEngine.get(), &ProcessEngine::ProcDeleteIndicate);
}

void ExecuteProgram::WaitProcessTree(std::int64_t startTime) {
  mResult = mProcessEngine->LaunchProcess(mExeParam);
  Synchronize([this] { HandBackResult(); });

  // The number of passes in a row that found the tree finished.
  int finishedCount = 0;
  SetPriority(TThreadPriority::tpNormal);

  platform::ProcessServices& processes = platform::CurrentProcesses();
  const platform::Handle process = mProcessEngine->GetProcessHandle();
  if (mExeParam.WaitForExit && process != nullptr) {
    while (mResult) {
      if (TerminationRequested() || TimeoutReached(startTime)) break;
      if (!mMethodParam->IgnoreProcessEnd) {
        finishedCount = mProcessEngine->IsProcessTreeFinished() ? finishedCount + 1 : 0;
        if (finishedCount == 1) {
          TraceWaitEnded();
          break;
        }
      }
      platform::CurrentClock().Sleep(kTreePassMs);
    }
    mProcessEngine->ClearPIDSets();
    processes.CloseHandle(process);
  } else if (process != nullptr) {
    processes.CloseHandle(process);
  }
  TearDownProcessTracker();
}

void ExecuteProgram::TearDownProcessTracker() {
  if (mProcessEngine == nullptr) return;
  mProcessEngine->ClearPIDSets();
  mProcessEngine.reset();
}
