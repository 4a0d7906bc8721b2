// ProcessEngine: the tree of processes a launched program spawns, kept up to
// date from process start and stop notifications, and the test whether that
// tree has ended.
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>

#include "common/process_id_set.h"
#include "common/request.h"
#include "platform/process.h"
#include "process/event_properties.h"
#include "wmi/wmi_engine.h"

class ProcessEngine {
 public:
  // Main thread, inside the worker's construction: empty sets, no event engine.
  ProcessEngine() = default;
  // Worker thread. Stops the handlers (they return at once from now on),
  // destroys the event engine, which ends the subscriptions, waits for
  // handlers still running, then lets the lock and the sets go.
  ~ProcessEngine();
  ProcessEngine(const ProcessEngine&) = delete;
  ProcessEngine& operator=(const ProcessEngine&) = delete;

  // The event engine, made on first use; the tracker keeps it. Creating thread.
  NvkWMIEngine* GetWMIEngine();

  // The notification handlers (WMIEventCallback), with the tracker as user
  // data: a process started, a process stopped. On the platform's delivery
  // threads, any number at once; the object is lent for the call.
  static void ProcCreateIndicate(IWbemClassObject* object, void* userData);
  static void ProcDeleteIndicate(IWbemClassObject* object, void* userData);

  // Worker thread. Launches the request's program (its FileName, Parameters
  // and ShowCommand, the program's folder as working folder) and records the
  // launched process as the root of the tree. True when it was launched.
  // Initialises COM on the calling thread for the launch and releases it
  // afterwards, whatever the outcome. The sets are not emptied first.
  // From the moment it begins, starts whose parent is outside the tree are
  // remembered for a while, so that a child whose start is reported before
  // its parent joined the tree (the launched process before the launch is
  // recorded, or any parent before its own start arrived) still joins it.
  bool LaunchProcess(const ExeParameter& exeParam);
  // Worker thread. The launched process's handle as the last launch attempt
  // left it; null after a failed launch. The tracker never closes it: the
  // caller does, once.
  platform::Handle GetProcessHandle() const { return mExecInfo.Process; }
  // Worker thread. True when the launched process has ended and either the
  // stop of every member of the tree has been recorded, or at least one
  // descendant is monitored and no member without a recorded stop still runs
  // (probed by opening it: a process that started after the member joined
  // only reuses its id). Holds the lock throughout, the probes and trace
  // lines included.
  bool IsProcessTreeFinished();
  // Any thread. Empties the four sets under the lock; the handlers go on.
  void ClearPIDSets();

  // The handlers' bodies, on the threads that deliver the events, any number
  // at once: a process started (its parent's id, then its own id are read)
  // or stopped (its id is read). Silent and without effect once destruction
  // has begun.
  void OnProcessStart(process::EventProperties& event);
  void OnProcessStop(process::EventProperties& event);

  // For tests: a copy of the four sets, taken under the lock. Any thread.
  struct IdSets {
    common::ProcessIdSet PIDSet;
    common::ProcessIdSet TmpDeletePIDSet;
    common::ProcessIdSet DeletePIDSet;
    common::ProcessIdSet LimitMonitorPID;
    bool operator==(const IdSets&) const = default;
  };
  IdSets SetsForTesting();

 private:
  // What the last launch attempt was given and left.
  struct ExecInfo {
    platform::LaunchRecord Record;
    platform::Handle Process = nullptr;  // the launched process, or null
  };

  // A start whose parent was not in the tree when it arrived.
  struct RememberedStart {
    std::int32_t Parent = 0;
    std::int32_t Id = 0;
    std::uint64_t ArrivedMs = 0;  // on the clock's millisecond count
    std::uint64_t ArrivedAt = 0;  // on the process clock
  };

  // mLock held. The lines and set changes of a start whose parent is in the
  // tree; true when the id is new to the tree.
  bool RecordStart(std::int32_t id, std::uint64_t joinedAt);
  // mLock held. The member just joined the tree: the remembered starts under
  // it join too, and theirs in turn.
  void AdoptRememberedChildren(std::int32_t member);
  // mLock held. Keeps a start of a process whose parent is outside the tree.
  void Remember(std::int32_t parent, std::int32_t id);
  // mLock held. Lets remembered starts go once they are too old.
  void ForgetOldStarts(std::uint64_t nowMs);
  // mLock held. True when a process with the id runs now: a stop recorded
  // for the id before it joined the tree was then an earlier process's.
  bool IdRunsAgain(std::int32_t id);
  // mLock held. True when a member without a recorded stop still runs.
  bool MemberStillRuns(std::int32_t id);

  // Counts a handler as running from before its mDestroying check to its
  // very last access of this object, so that destruction can wait for it.
  class RunningHandler;

  std::unique_ptr<NvkWMIEngine> mWMIEngine;  // null until GetWMIEngine
  common::ProcessIdSet mPIDSet;           // the tree: the launched process and what its members started
  common::ProcessIdSet mTmpDeletePIDSet;  // stops seen while the id was not in the tree
  common::ProcessIdSet mDeletePIDSet;     // members whose stop has been recorded
  common::ProcessIdSet mLimitMonitorPID;  // at most 4: the launched id and the first descendants
  // When each member joined the tree, on the process clock. mLock.
  std::map<std::int32_t, std::uint64_t> mJoinedAt;
  // Starts whose parent was outside the tree, oldest first; kept from the
  // launch call on. mLock.
  std::deque<RememberedStart> mRememberedStarts;
  bool mRemembering = false;  // mLock
  std::int32_t mLaunchPID = 0;            // worker thread only
  std::atomic<std::int32_t> mDestroying{0};
  std::atomic<std::int32_t> mRunningHandlers{0};
  // Guards the four sets. Declared after them, so it goes before they do.
  std::mutex mLock;
  ExecInfo mExecInfo;  // worker thread only
};
