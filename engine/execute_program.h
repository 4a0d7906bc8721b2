// The worker thread that carries out one execution request: launch, hand the
// result back, wait in the chosen way, finish.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "common/request.h"
#include "framework/threads.h"
#include "process/process_engine.h"

class ExecuteProgram : public TThread {
 public:
  // Runs on the creating thread. The request is copied; the wait settings are
  // kept by pointer and must outlive the worker. The worker frees itself once
  // Execute has returned and the termination notice has been delivered.
  // Whatever the request, it creates the process tracker and subscribes its
  // handlers to the system's process starts and stops from here on.
  ExecuteProgram(bool createSuspended, const ExeParameter& exeParam, InstallMethodParam* methodParam,
                 std::int32_t installMethod);
  // Also destroys the tracker of a worker that never ran.
  ~ExecuteProgram() override;

  // Run on the creating thread through Synchronize: stores mResult where
  // ResultFlag points, if anywhere.
  void HandBackResult();
  // True when the time-out is strictly less than the whole seconds elapsed
  // since the start time.
  bool TimedOut(std::int64_t startTime, std::int32_t timeoutSeconds);
  // The worker's own copy of the request, as the run has left it so far.
  // Read it on the creating thread while the worker is alive (in the
  // termination notice, for one that frees itself).
  const ExeParameter& Request() const { return mExeParam; }

 protected:
  void Execute() override;

 private:
  // Step 7: removes the staged folder when the run asks for it.
  void RemoveStagedFolder();
  // Step 9, the last of every run, also of a copy request and of a run that
  // ended early.
  void FinishRun();
  void WaitLaunchedExe(std::int64_t startTime);

  // The process tracker's part (wait_process_tree.cpp).
  // Creating thread: the tracker, its connection and both subscriptions.
  void CreateProcessTracker();
  // Worker thread: install method 1, launch through the tracker and wait
  // until the launched process tree has ended.
  void WaitProcessTree(std::int64_t startTime);
  // Clears and destroys the tracker, which ends its subscriptions; nothing
  // when it is gone already.
  void TearDownProcessTracker();

  // The checks every waiting loop shares; true when the loop must stop.
  bool TerminationRequested();
  bool TimeoutReached(std::int64_t startTime);
  void Trace(const std::u16string& line);

  ExeParameter mExeParam;
  std::int32_t mInstallMethod = 0;
  InstallMethodParam* mMethodParam = nullptr;
  bool mResult = false;
  // Created by the constructor, destroyed at the end of the run; null afterwards.
  std::unique_ptr<ProcessEngine> mProcessEngine;
  // The staged folder without a trailing delimiter; empty when this run staged nothing.
  std::u16string mStagedFolder;
};
