// A test fixture that runs one worker request at a time on the headless message loop, over the faked services.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>

#include "diag/debug_console.h"
#include "engine/execute_program.h"
#include "framework/threads.h"
#include "tests/support/headless_app.h"
#include "tests/support/service_fakes.h"

class WorkerFixture : public ServiceFakesTest {
 protected:
  WorkerFixture() {
    mParam.ResultFlag = &mFlag;
    mProcesses.OnLaunch = [this] { mWorkerThread = std::this_thread::get_id(); };
  }

  // Runs one request of the given method to its end with the trace open;
  // returns the trace lines.
  Lines Run(std::int32_t installMethod) {
    DebugConsoleInstance(true);
    RunWorker(installMethod);
    return Trace();
  }

  // Creates a worker for mParam and mMethod on the main thread's message loop,
  // starts it and runs the loop until its termination notice closes the form.
  // The worker frees itself: mWorker is valid from its creation until its
  // notice has run, and mStarted turns true once it has been started.
  void RunWorker(std::int32_t installMethod) {
    mBackend = RunScenario([this, installMethod](ScenarioForm& form) {
      mWorker = new ExecuteProgram(true, mParam, &mMethod, installMethod);
      mWorker->OnTerminate = [this, &form](TObject*) {
        mNoticeOnMain = framework::IsMainThread();
        mRemoveStagedAtEnd = mWorker->Request().RemoveStaged;
        Ended(*mWorker);
        form.Close();
      };
      Starting(*mWorker);
      mWorker->Start();
      mStarted = true;
    });
  }

  // For a derived fixture, both on the main thread: the worker about to start,
  // and the worker in its termination notice.
  virtual void Starting(ExecuteProgram&) {}
  virtual void Ended(ExecuteProgram&) {}

  // The wait ends by time-out once more than the given whole seconds have passed.
  void TimeOutAfter(std::int32_t seconds) {
    mMethod.UseTimeout = 1;
    mMethod.TimeoutSeconds = seconds;
  }

  // The COM calls made off the main thread, in order.
  Lines WorkerComCalls() {
    Lines out;
    for (const FakeCom::Call& c : mCom.Calls())
      if (c.Thread != mMainThread) out.push_back(c.Name);
    return out;
  }

  // Synchronize calls made by the last worker, beside its termination notice.
  int HandBacks() const { return mBackend->WakeCount() - 1; }

  ExeParameter mParam = InstallerRequest();
  InstallMethodParam mMethod;
  bool mFlag = false;  // where the worker hands its result back
  ExecuteProgram* mWorker = nullptr;
  std::atomic<bool> mStarted{false};
  std::unique_ptr<framework::HeadlessBackend> mBackend;  // the last run's
  bool mNoticeOnMain = false;       // the termination notice ran on the main thread
  bool mRemoveStagedAtEnd = false;  // the worker's RemoveStaged in its termination notice
  std::thread::id mWorkerThread;    // known once the worker has launched
  const std::thread::id mMainThread = std::this_thread::get_id();
};
