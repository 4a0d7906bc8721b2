// The worker thread that carries out one execution request: launch, hand the
// result back, wait in the chosen way, finish.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "common/request.h"
#include "framework/threads.h"
#include "process/process_engine.h"
#include "platform/process.h"

class ExecuteProgram : public TThread {
 public:
  // Runs on the creating thread. The request is copied; the wait settings are
  // kept by pointer and must outlive the worker. The worker frees itself once
  // Execute has returned and the termination notice has been delivered.
  // Whatever the request, it creates the process tracker and subscribes its
  // handlers to the system's process starts and stops from here on.
  ExecuteProgram(bool createSuspended, const ExeParameter& exeParam, InstallMethodParam* methodParam,
                 std::int32_t installMethod);
  // Asks a running worker to terminate and waits for it first (Execute uses
  // the tracker); then destroys the tracker, also of a worker that never ran.
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

  // One look at the running processes for the first whose executable name
  // contains SpecificExeName (letter case ignored). With openProcess, that
  // process is opened and its handle (null if the open failed) is stored in
  // *handleSlot, which the caller then owns and closes; without it, the slot
  // is left alone and nothing is traced. True when a process matched. Runs on
  // the worker thread (or on a test's thread while the worker is not running).
  bool FindSpecificExe(platform::Handle* handleSlot, bool openProcess);
  // Enables the debug privilege of the own process, so that processes of
  // other accounts can be opened; silent on every failure. Same threads.
  void EnableDebugPrivilege();

 protected:
  void Execute() override;

 private:
  // Step 7: removes the staged folder when the run asks for it and nothing
  // launched from it can still run: nothing was launched, or the wait saw
  // what it waited for end. Otherwise the folder stays, with a trace line.
  void RemoveStagedFolder();
  // Step 9, the last of every run, also of a copy request and of a run that
  // ended early.
  void FinishRun();
  // Launches mExeParam's program; *process receives its handle (may be null).
  bool LaunchProgram(platform::Handle* process);
  void WaitLaunchedExe(std::int64_t startTime);
  void WaitSpecificExe(std::int64_t startTime);

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
  // One pass's wait for the process's end, up to the wait step: true when it
  // has ended. A pass that does not wait on it (its end ignored, or no
  // handle, so the wait fails at once) pauses for the wait step on the clock
  // instead, so that no loop spins.
  bool WaitStepForEnd(platform::Handle process);
  // The line of a wait that ends because what it waits for has ended (method
  // 0: the launched process; 1: the tree, as the tracker last answered before
  // its sets are cleared; 2: the process waited on last); notes that end.
  void TraceWaitEnded();
  void Trace(const std::u16string& line);

  ExeParameter mExeParam;
  std::int32_t mInstallMethod = 0;
  InstallMethodParam* mMethodParam = nullptr;
  bool mResult = false;
  // Created by the constructor, destroyed at the end of the run; null afterwards.
  std::unique_ptr<ProcessEngine> mProcessEngine;
  // The staged folder without a trailing delimiter; empty when this run staged nothing.
  std::u16string mStagedFolder;
  // The wait ended because what it waited for had ended.
  bool mWaitedForEnd = false;
};
