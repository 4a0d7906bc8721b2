// Scripted process services for driving the worker without a platform.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/process.h"

// Put in place for its lifetime.
class FakeProcesses final : public platform::ProcessServices {
 public:
  // The script. Set before the worker starts.
  bool LaunchSucceeds = true;
  bool LaunchGivesHandle = true;
  platform::ProcessId LaunchedId = 4242;
  // The program's own id (not recorded among the calls: it never changes).
  platform::ProcessId OwnId = 9000;
  int OpensBeforeFailure = -1;  // OpenProcessById fails after this many successes; -1 never
  int WaitsBeforeEnd = 0;       // Wait reports "ended" after this many time-outs; -1 never
  // When set, decides for each id whether OpenProcessById succeeds (checked
  // after OpensBeforeFailure).
  std::function<bool(platform::ProcessId)> OpenableId;
  // When set, decides for each process (by the id its handle was issued for)
  // whether Wait finds it still running, instead of WaitsBeforeEnd; null
  // handles and other handles still fail.
  std::function<bool(platform::ProcessId)> RunningId;
  // Start times by id (0 when unset), and the process clock's reading.
  std::function<std::uint64_t(platform::ProcessId)> StartTimeOfId;
  std::atomic<std::uint64_t> ProcessClock{1000};
  bool StartTimeFails = false;
  // Called on the worker thread at the launch, and at each Wait and each
  // open with the count so far.
  std::function<void()> OnLaunch;
  std::function<void(int)> OnWait;
  std::function<void(int)> OnOpen;
  // Read at each Wait: the place the hand-back writes to.
  const bool* WatchedFlag = nullptr;

  // The process list. Each snapshot holds ListForSnapshot(n) for the n-th
  // snapshot (from 1) when set, else ProcessList. OnSnapshot is called with n
  // before the snapshot is taken.
  std::vector<platform::ProcessEntry> ProcessList;
  std::function<std::vector<platform::ProcessEntry>(int)> ListForSnapshot;
  std::function<void(int)> OnSnapshot;
  bool SnapshotFails = false;    // SnapshotProcesses gives null
  bool FirstEntryFails = false;  // FirstProcess finds nothing
  // The last error code: what OnLastError returns when set, else LastErrorCode.
  std::uint32_t LastErrorCode = 0;
  std::function<std::uint32_t()> OnLastError;
  // The token calls of the debug privilege.
  bool TokenOpens = true;
  bool PrivilegeFound = true;
  // The value of the first handle issued; each next one is 4 higher.
  std::uintptr_t HandleBase = 0x1000;

  // What happened.
  struct Record {
    std::vector<std::string> Calls;
    std::vector<bool> FlagAtWait;
    std::vector<std::string> WaitedOn;  // the label of each Wait's handle ("none" for null)
    platform::LaunchRecord Launched;
    std::map<platform::Handle, int> Closes;
    std::vector<platform::Handle> Issued;
  };
  Record Snapshot() {
    std::lock_guard<std::mutex> lock(mMutex);
    return mRecord;
  }

  bool Launch(const platform::LaunchRecord& record, platform::Handle* process) override {
    if (OnLaunch) OnLaunch();
    std::lock_guard<std::mutex> lock(mMutex);
    mRecord.Calls.push_back("Launch");
    mRecord.Launched = record;
    *process = (LaunchSucceeds && LaunchGivesHandle) ? Issue("launched", LaunchedId) : nullptr;
    return LaunchSucceeds;
  }
  platform::ProcessId ProcessIdOf(platform::Handle process) override {
    Add("ProcessIdOf");
    return process != nullptr ? LaunchedId : 0;
  }
  platform::ProcessId OwnProcessId() override { return OwnId; }
  platform::Handle OpenProcessById(platform::ProcessId id) override {
    int count;
    {
      std::lock_guard<std::mutex> lock(mMutex);
      mRecord.Calls.push_back("Open " + std::to_string(id));
      count = ++mOpens;
    }
    if (OnOpen) OnOpen(count);
    if (OpensBeforeFailure >= 0 && count > OpensBeforeFailure) return nullptr;
    if (OpenableId && !OpenableId(id)) return nullptr;
    std::lock_guard<std::mutex> lock(mMutex);
    return Issue("opened " + std::to_string(count), id);
  }
  std::uint32_t Wait(platform::Handle process, std::uint32_t milliseconds) override {
    int count;
    {
      std::lock_guard<std::mutex> lock(mMutex);
      mRecord.Calls.push_back("Wait " + std::to_string(milliseconds));
      mRecord.FlagAtWait.push_back(WatchedFlag != nullptr && *WatchedFlag);
      mRecord.WaitedOn.push_back(LabelOf(process));
      count = ++mWaits;
    }
    if (OnWait) OnWait(count);
    if (process == nullptr) return platform::kWaitFailed;
    if (RunningId) {
      const std::optional<platform::ProcessId> id = IdOf(process);
      if (!id) return platform::kWaitFailed;
      return RunningId(*id) ? platform::kWaitTimeout : platform::kWaitObject0;
    }
    if (WaitsBeforeEnd >= 0 && count > WaitsBeforeEnd) return platform::kWaitObject0;
    return platform::kWaitTimeout;
  }
  bool ProcessStartTime(platform::Handle process, std::uint64_t* startTime) override {
    const std::optional<platform::ProcessId> id = IdOf(process);
    Add("StartTime " + (id ? std::to_string(*id) : std::string("none")));
    if (!id || StartTimeFails) return false;
    *startTime = StartTimeOfId ? StartTimeOfId(*id) : 0;
    return true;
  }
  std::uint64_t ProcessClockNow() override { return ProcessClock.load(); }
  void CloseHandle(platform::Handle handle) override {
    if (handle == nullptr) return;
    std::lock_guard<std::mutex> lock(mMutex);
    mRecord.Calls.push_back("Close " + LabelOf(handle));
    ++mRecord.Closes[handle];
  }
  platform::Handle SnapshotProcesses() override {
    int count;
    {
      std::lock_guard<std::mutex> lock(mMutex);
      mRecord.Calls.push_back("Snapshot");
      count = ++mSnapshots;
    }
    if (OnSnapshot) OnSnapshot(count);
    if (SnapshotFails) return nullptr;
    std::vector<platform::ProcessEntry> list = ListForSnapshot ? ListForSnapshot(count) : ProcessList;
    std::lock_guard<std::mutex> lock(mMutex);
    platform::Handle snapshot = Issue("snapshot " + std::to_string(count));
    mLists[snapshot] = {std::move(list), 0};
    return snapshot;
  }
  bool FirstProcess(platform::Handle snapshot, platform::ProcessEntry& entry) override {
    std::lock_guard<std::mutex> lock(mMutex);
    mRecord.Calls.push_back("First");
    if (FirstEntryFails) return false;
    const auto found = mLists.find(snapshot);
    if (found == mLists.end()) return false;
    found->second.Next = 0;
    return ReadEntry(found->second, entry);
  }
  bool NextProcess(platform::Handle snapshot, platform::ProcessEntry& entry) override {
    std::lock_guard<std::mutex> lock(mMutex);
    mRecord.Calls.push_back("Next");
    const auto found = mLists.find(snapshot);
    return found != mLists.end() && ReadEntry(found->second, entry);
  }
  std::uint32_t LastError() override {
    Add("LastError");
    return OnLastError ? OnLastError() : LastErrorCode;
  }
  bool OpenOwnProcessToken(platform::Handle* token) override {
    std::lock_guard<std::mutex> lock(mMutex);
    mRecord.Calls.push_back("OpenToken");
    *token = TokenOpens ? Issue("token " + std::to_string(++mTokens)) : nullptr;
    return TokenOpens;
  }
  bool LookupDebugPrivilege(platform::PrivilegeId* privilege) override {
    Add("LookupPrivilege");
    *privilege = PrivilegeFound ? kDebugPrivilege : 0;
    return PrivilegeFound;
  }
  void EnablePrivilege(platform::Handle token, platform::PrivilegeId privilege) override {
    std::lock_guard<std::mutex> lock(mMutex);
    mRecord.Calls.push_back("EnablePrivilege " + std::to_string(privilege) + " " + LabelOf(token));
  }

  // The privilege id that LookupDebugPrivilege gives.
  static constexpr platform::PrivilegeId kDebugPrivilege = 20;

  // Every handle issued was closed exactly once.
  bool EveryHandleClosedOnce() {
    std::lock_guard<std::mutex> lock(mMutex);
    for (platform::Handle h : mRecord.Issued) {
      auto found = mRecord.Closes.find(h);
      if (found == mRecord.Closes.end() || found->second != 1) return false;
    }
    return mRecord.Closes.size() == mRecord.Issued.size();
  }

 private:
  void Add(const std::string& call) {
    std::lock_guard<std::mutex> lock(mMutex);
    mRecord.Calls.push_back(call);
  }
  // A new handle, named in the close calls by its label ("launched", "opened N",
  // "snapshot N", "token N"). mMutex held.
  platform::Handle Issue(std::string label, std::optional<platform::ProcessId> id = std::nullopt) {
    auto* handle = reinterpret_cast<platform::Handle>(HandleBase + 4 * mRecord.Issued.size());
    mRecord.Issued.push_back(handle);
    mLabels[handle] = std::move(label);
    if (id) mIds[handle] = *id;
    return handle;
  }
  // The process a handle was issued for.
  std::optional<platform::ProcessId> IdOf(platform::Handle handle) {
    std::lock_guard<std::mutex> lock(mMutex);
    const auto found = mIds.find(handle);
    if (found == mIds.end()) return std::nullopt;
    return found->second;
  }

  // mMutex held.
  std::string LabelOf(platform::Handle handle) const {
    if (handle == nullptr) return "none";
    const auto label = mLabels.find(handle);
    return label != mLabels.end() ? label->second : std::string("unknown");
  }
  struct ListReader {
    std::vector<platform::ProcessEntry> Entries;
    std::size_t Next = 0;
  };
  // mMutex held.
  static bool ReadEntry(ListReader& reader, platform::ProcessEntry& entry) {
    if (reader.Next >= reader.Entries.size()) return false;
    entry = reader.Entries[reader.Next++];
    return true;
  }

  std::mutex mMutex;
  Record mRecord;
  std::map<platform::Handle, ListReader> mLists;
  int mSnapshots = 0;
  int mTokens = 0;
  std::map<platform::Handle, std::string> mLabels;
  std::map<platform::Handle, platform::ProcessId> mIds;
  int mOpens = 0;
  int mWaits = 0;
  platform::ScopedProcessesForTesting mScope{*this};
};
