// ProcessEngine: launch, the two handlers' decisions, the finished test and
// the order of destruction.
#include "process/process_engine.h"

#include <string>
#include <thread>
#include <vector>

#include "common/decimal.h"
#include "diag/debug_console.h"
#include "platform/clock.h"
#include "platform/com.h"
#include "platform/files.h"
#include "process/launch_record.h"
#include "process/wbem_event_properties.h"

namespace {

constexpr std::size_t kMonitoredLimit = 4;
// How long, and how many, starts with a parent outside the tree are kept in
// case the parent joins later.
constexpr std::uint64_t kRememberMs = 2000;
constexpr std::size_t kRememberLimit = 8192;

void Trace(const std::u16string& line) { GetDebugConsole()->WriteLine(line); }

// A label followed directly by a number in signed 32-bit decimal.
std::u16string WithNumber(std::u16string_view label, std::int32_t value) {
  return std::u16string(label) + common::IntToStr(value);
}

std::int32_t AsProcessId(std::uint32_t value) { return static_cast<std::int32_t>(value); }

}  // namespace

class ProcessEngine::RunningHandler {
 public:
  explicit RunningHandler(ProcessEngine& engine) : mEngine(engine) { mEngine.mRunningHandlers.fetch_add(1); }
  // The decrement is the handler's last access of the tracker.
  ~RunningHandler() { mEngine.mRunningHandlers.fetch_sub(1); }
  RunningHandler(const RunningHandler&) = delete;
  RunningHandler& operator=(const RunningHandler&) = delete;

 private:
  ProcessEngine& mEngine;
};

ProcessEngine::~ProcessEngine() {
  mDestroying.store(1);
  // Once the engine is gone no handler starts again.
  mWMIEngine.reset();
  // A handler that passed its check before the flag was set may still wait
  // for the lock or hold it: the lock stays until the last one has left.
  while (mRunningHandlers.load() != 0) std::this_thread::yield();
}

NvkWMIEngine* ProcessEngine::GetWMIEngine() {
  if (mWMIEngine == nullptr) mWMIEngine = std::make_unique<NvkWMIEngine>();
  return mWMIEngine.get();
}

void ProcessEngine::ProcCreateIndicate(IWbemClassObject* object, void* userData) {
  process::WbemEventProperties event(object);
  static_cast<ProcessEngine*>(userData)->OnProcessStart(event);
}

void ProcessEngine::ProcDeleteIndicate(IWbemClassObject* object, void* userData) {
  process::WbemEventProperties event(object);
  static_cast<ProcessEngine*>(userData)->OnProcessStop(event);
}

bool ProcessEngine::LaunchProcess(const ExeParameter& exeParam) {
  platform::ComServices& com = platform::CurrentCom();
  platform::ProcessServices& processes = platform::CurrentProcesses();
  com.CoInitializeEx(platform::kCoinitApartmentThreaded | platform::kCoinitDisableOle1Dde);

  // A child may be reported before the launch below returns its parent's id.
  {
    std::lock_guard<std::mutex> lock(mLock);
    mRemembering = true;
  }
  mExecInfo = ExecInfo{};
  mExecInfo.Record = LaunchRecordFor(exeParam);
  mExecInfo.Record.FollowTree = true;
  if (!processes.Launch(mExecInfo.Record, &mExecInfo.Process)) {
    com.CoUninitialize();
    return false;
  }

  const std::int32_t id = AsProcessId(processes.ProcessIdOf(mExecInfo.Process));
  mLaunchPID = id;
  {
    std::lock_guard<std::mutex> lock(mLock);
    mPIDSet.insert(id);
    mLimitMonitorPID.insert(id);
    mJoinedAt[id] = processes.ProcessClockNow();
    Trace(WithNumber(u"this->mPIDSet.insert(dwId) = ", id));
    // It ended before it could be recorded: its stop counts.
    if (mTmpDeletePIDSet.erase(id) != 0) {
      mDeletePIDSet.insert(id);
      Trace(WithNumber(u"Delete PID = ", id));
    }
    AdoptRememberedChildren(id);
  }
  com.CoUninitialize();
  return true;
}

bool ProcessEngine::IsProcessTreeFinished() {
  std::lock_guard<std::mutex> lock(mLock);
  platform::ProcessServices& processes = platform::CurrentProcesses();
  // 1. The launched process itself, through the handle of its launch.
  if (mExecInfo.Process != nullptr && processes.Wait(mExecInfo.Process, 0) == platform::kWaitTimeout) return false;
  // 2. Every member's stop has been recorded.
  if (mDeletePIDSet.size() == mPIDSet.size()) return true;
  // 3. No descendant has been seen yet.
  if (mLimitMonitorPID.size() < 2) {
    Trace(u"this->mLimitMonitorPID.size() < 2");
    return false;
  }
  // 4. Every member without a recorded stop is probed; the launched process
  // was already asked through its own handle.
  bool finished = true;
  for (const std::int32_t id : mPIDSet) {
    if (id == mLaunchPID || mDeletePIDSet.count(id) != 0) continue;
    if (MemberStillRuns(id)) {
      finished = false;
      break;
    }
  }

  std::int32_t position = 0;
  for (const std::int32_t id : mLimitMonitorPID) {
    Trace(WithNumber(WithNumber(u"this->mLimitMonitorPID[", position) + u"] = ", id));
    ++position;
  }
  return finished;
}

bool ProcessEngine::IdRunsAgain(std::int32_t id) {
  platform::ProcessServices& processes = platform::CurrentProcesses();
  const platform::Handle opened = processes.OpenProcessById(static_cast<platform::ProcessId>(id));
  if (opened == nullptr) return false;
  const bool runs = processes.Wait(opened, 0) == platform::kWaitTimeout;
  processes.CloseHandle(opened);
  return runs;
}

bool ProcessEngine::MemberStillRuns(std::int32_t id) {
  platform::ProcessServices& processes = platform::CurrentProcesses();
  const platform::Handle opened = processes.OpenProcessById(static_cast<platform::ProcessId>(id));
  if (opened == nullptr) return false;
  bool runs = processes.Wait(opened, 0) == platform::kWaitTimeout;
  if (runs) {
    // A process that started after the member joined only has its id.
    std::uint64_t startedAt = 0;
    const auto joined = mJoinedAt.find(id);
    runs = joined != mJoinedAt.end() && processes.ProcessStartTime(opened, &startedAt) && startedAt <= joined->second;
  }
  processes.CloseHandle(opened);
  return runs;
}

void ProcessEngine::ClearPIDSets() {
  std::lock_guard<std::mutex> lock(mLock);
  mLimitMonitorPID.clear();
  mPIDSet.clear();
  mDeletePIDSet.clear();
  mTmpDeletePIDSet.clear();
  mJoinedAt.clear();
  mRememberedStarts.clear();
}

ProcessEngine::IdSets ProcessEngine::SetsForTesting() {
  std::lock_guard<std::mutex> lock(mLock);
  return IdSets{mPIDSet, mTmpDeletePIDSet, mDeletePIDSet, mLimitMonitorPID};
}

void ProcessEngine::OnProcessStart(process::EventProperties& event) {
  RunningHandler running(*this);
  if (mDestroying.load() != 0) return;
  Trace(u"====Enter ProcCreateIndicate====");

  std::uint32_t parentId = 0;
  if (event.ReadId(process::kParentProcessIdProperty, parentId)) {
    const std::int32_t parent = AsProcessId(parentId);
    Trace(WithNumber(u"System Create PPID = ", parent));
    {
      std::lock_guard<std::mutex> lock(mLock);
      const bool parentInTree = mPIDSet.find(parent) != mPIDSet.end();
      // Before a launch has begun, a process whose parent is outside the
      // tree is of no interest: its own id is not even read.
      if (parentInTree || mRemembering) {
        std::uint32_t value = 0;
        if (event.ReadId(process::kProcessIdProperty, value)) {
          const std::int32_t id = AsProcessId(value);
          if (parentInTree) {
            if (RecordStart(id, platform::CurrentProcesses().ProcessClockNow())) AdoptRememberedChildren(id);
          } else {
            Remember(parent, id);
          }
        }
        event.Release(process::kProcessIdProperty);
      }
    }
  }
  event.Release(process::kParentProcessIdProperty);

  Trace(u"====Leave ProcCreateIndicate====");
}

bool ProcessEngine::RecordStart(std::int32_t id, std::uint64_t joinedAt) {
  Trace(WithNumber(u"System Create PID = ", id));
  // Its stop came first: it counts as ended from the start. Unless a process
  // with this id still runs: then the stop was an earlier process's, whose
  // id the system has given again.
  if (mTmpDeletePIDSet.find(id) != mTmpDeletePIDSet.end()) {
    mTmpDeletePIDSet.erase(id);
    if (!IdRunsAgain(id)) {
      mDeletePIDSet.insert(id);
      Trace(WithNumber(u"Delete PID = ", id));
    }
  }
  if (mPIDSet.find(id) != mPIDSet.end()) return false;
  mPIDSet.insert(id);
  mJoinedAt[id] = joinedAt;
  if (mLimitMonitorPID.size() < kMonitoredLimit) mLimitMonitorPID.insert(id);
  Trace(WithNumber(u"Create PID = ", id));
  return true;
}

void ProcessEngine::AdoptRememberedChildren(std::int32_t member) {
  ForgetOldStarts(platform::CurrentClock().TickMs());
  // Breadth first, without recursion: a remembered chain can be long.
  std::deque<std::int32_t> parents{member};
  while (!parents.empty()) {
    const std::int32_t parent = parents.front();
    parents.pop_front();
    // Taken out before they join, so that no entry joins twice.
    std::vector<RememberedStart> children;
    for (auto entry = mRememberedStarts.begin(); entry != mRememberedStarts.end();) {
      if (entry->Parent == parent) {
        children.push_back(*entry);
        entry = mRememberedStarts.erase(entry);
      } else {
        ++entry;
      }
    }
    for (const RememberedStart& child : children) {
      if (RecordStart(child.Id, child.ArrivedAt)) parents.push_back(child.Id);
    }
  }
}

void ProcessEngine::Remember(std::int32_t parent, std::int32_t id) {
  const std::uint64_t nowMs = platform::CurrentClock().TickMs();
  ForgetOldStarts(nowMs);
  if (mRememberedStarts.size() >= kRememberLimit) mRememberedStarts.pop_front();
  mRememberedStarts.push_back(
      RememberedStart{parent, id, nowMs, platform::CurrentProcesses().ProcessClockNow()});
}

void ProcessEngine::ForgetOldStarts(std::uint64_t nowMs) {
  while (!mRememberedStarts.empty() && nowMs - mRememberedStarts.front().ArrivedMs > kRememberMs) {
    mRememberedStarts.pop_front();
  }
}

void ProcessEngine::OnProcessStop(process::EventProperties& event) {
  RunningHandler running(*this);
  if (mDestroying.load() != 0) return;
  Trace(u"====Enter ProcDeleteIndicate====");

  std::uint32_t value = 0;
  if (event.ReadId(process::kProcessIdProperty, value)) {
    const std::int32_t id = AsProcessId(value);
    Trace(WithNumber(u"System Delete PID = ", id));
    std::lock_guard<std::mutex> lock(mLock);
    if (mPIDSet.find(id) != mPIDSet.end()) {
      mDeletePIDSet.insert(id);
      Trace(WithNumber(u"Delete PID = ", id));
    } else {
      mTmpDeletePIDSet.insert(id);
      Trace(WithNumber(u"Tmp Delete PID = ", id));
    }
  }
  event.Release(process::kProcessIdProperty);

  Trace(u"====Leave ProcDeleteIndicate====");
}
