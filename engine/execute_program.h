// The worker thread that carries out one execution request: launch, hand the
// result back, wait in the chosen way, finish.
#pragma once

#include <cstdint>
#include <string>

#include "common/request.h"
#include "framework/threads.h"

class ExecuteProgram : public TThread {
 public:
  // Runs on the creating thread. The request is copied; the wait settings are
  // kept by pointer and must outlive the worker. The worker frees itself once
  // Execute has returned and the termination notice has been delivered.
  ExecuteProgram(bool createSuspended, const ExeParameter& exeParam, InstallMethodParam* methodParam,
                 std::int32_t installMethod);
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
  // The checks every waiting loop shares; true when the loop must stop.
  bool TerminationRequested();
  bool TimeoutReached(std::int64_t startTime);
  void Trace(const std::u16string& line);

  ExeParameter mExeParam;
  std::int32_t mInstallMethod = 0;
  InstallMethodParam* mMethodParam = nullptr;
  bool mResult = false;
  // The staged folder without a trailing delimiter; empty when this run staged nothing.
  std::u16string mStagedFolder;
};
