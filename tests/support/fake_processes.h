// Scripted process services for driving the worker without a platform.
#pragma once

#include <atomic>
#include <functional>
#include <map>
#include <mutex>
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
  int OpensBeforeFailure = -1;  // OpenProcessById fails after this many successes; -1 never
  int WaitsBeforeEnd = 0;       // Wait reports "ended" after this many time-outs; -1 never
  // When set, decides for each id whether OpenProcessById succeeds (checked
  // after OpensBeforeFailure).
  std::function<bool(platform::ProcessId)> OpenableId;
  // Called on the worker thread at the launch, and at each Wait and each
  // open with the count so far.
  std::function<void()> OnLaunch;
  std::function<void(int)> OnWait;
  std::function<void(int)> OnOpen;
  // Read at each Wait: the place the hand-back writes to.
  const bool* WatchedFlag = nullptr;

  // What happened.
  struct Record {
    std::vector<std::string> Calls;
    std::vector<bool> FlagAtWait;
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
    *process = (LaunchSucceeds && LaunchGivesHandle) ? Issue("launched") : nullptr;
    return LaunchSucceeds;
  }
  platform::ProcessId ProcessIdOf(platform::Handle process) override {
    Add("ProcessIdOf");
    return process != nullptr ? LaunchedId : 0;
  }
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
    return Issue("opened " + std::to_string(count));
  }
  std::uint32_t Wait(platform::Handle process, std::uint32_t milliseconds) override {
    int count;
    {
      std::lock_guard<std::mutex> lock(mMutex);
      mRecord.Calls.push_back("Wait " + std::to_string(milliseconds));
      mRecord.FlagAtWait.push_back(WatchedFlag != nullptr && *WatchedFlag);
      count = ++mWaits;
    }
    if (OnWait) OnWait(count);
    if (process == nullptr) return platform::kWaitFailed;
    if (WaitsBeforeEnd >= 0 && count > WaitsBeforeEnd) return platform::kWaitObject0;
    return platform::kWaitTimeout;
  }
  void CloseHandle(platform::Handle handle) override {
    if (handle == nullptr) return;
    std::lock_guard<std::mutex> lock(mMutex);
    const auto label = mLabels.find(handle);
    mRecord.Calls.push_back("Close " + (label != mLabels.end() ? label->second : std::string("unknown")));
    ++mRecord.Closes[handle];
  }
  platform::Handle SnapshotProcesses() override { return nullptr; }
  bool FirstProcess(platform::Handle, platform::ProcessEntry&) override { return false; }
  bool NextProcess(platform::Handle, platform::ProcessEntry&) override { return false; }
  std::uint32_t LastError() override { return 0; }
  bool OpenOwnProcessToken(platform::Handle* token) override {
    *token = nullptr;
    return false;
  }
  bool LookupDebugPrivilege(platform::PrivilegeId* privilege) override {
    *privilege = 0;
    return false;
  }
  void EnablePrivilege(platform::Handle, platform::PrivilegeId) override {}

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
  // A new handle, named in the close calls by its label ("launched", "opened N"). mMutex held.
  platform::Handle Issue(std::string label) {
    auto* handle = reinterpret_cast<platform::Handle>(static_cast<std::uintptr_t>(0x1000 + 4 * mRecord.Issued.size()));
    mRecord.Issued.push_back(handle);
    mLabels[handle] = std::move(label);
    return handle;
  }

  std::mutex mMutex;
  Record mRecord;
  std::map<platform::Handle, std::string> mLabels;
  int mOpens = 0;
  int mWaits = 0;
  platform::ScopedProcessesForTesting mScope{*this};
};
