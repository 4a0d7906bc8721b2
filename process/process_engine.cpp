// ProcessEngine: launch, the two handlers' decisions, the finished test and
// the order of destruction.
#include "process/process_engine.h"

#include <string>
#include <thread>

#include "common/path_words.h"
#include "diag/debug_console.h"
#include "platform/com.h"
#include "platform/files.h"
#include "process/wbem_event_properties.h"

namespace {

constexpr std::size_t kMonitoredLimit = 4;

void Trace(const std::u16string& line) { GetDebugConsole()->WriteLine(line); }

// A label followed directly by a number in signed 32-bit decimal.
std::u16string WithNumber(std::u16string_view label, std::int32_t value) {
  std::u16string line(label);
  for (char c : std::to_string(value)) line += static_cast<char16_t>(c);
  return line;
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

  mExecInfo = ExecInfo{};
  mExecInfo.Record.File = exeParam.FileName;
  mExecInfo.Record.Parameters = exeParam.Parameters;
  mExecInfo.Record.Directory = common::FolderPart(exeParam.FileName, platform::PathDelimitersOfPlatform());
  mExecInfo.Record.ShowCommand = exeParam.ShowCommand;
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
  }
  Trace(WithNumber(u"this->mPIDSet.insert(dwId) = ", id));
  com.CoUninitialize();
  return true;
}

bool ProcessEngine::IsProcessTreeFinished() {
  std::lock_guard<std::mutex> lock(mLock);
  if (mDeletePIDSet.size() == mPIDSet.size()) return true;
  if (mLimitMonitorPID.size() < 2) {
    Trace(u"this->mLimitMonitorPID.size() < 2");
    return false;
  }

  // The launched process itself is not probed: only its descendants are.
  bool finished = true;
  platform::ProcessServices& processes = platform::CurrentProcesses();
  for (const std::int32_t id : mLimitMonitorPID) {
    if (id == mLaunchPID) continue;
    const platform::Handle opened = processes.OpenProcessById(static_cast<platform::ProcessId>(id));
    if (opened != nullptr) {
      processes.CloseHandle(opened);
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

void ProcessEngine::ClearPIDSets() {
  std::lock_guard<std::mutex> lock(mLock);
  mLimitMonitorPID.clear();
  mPIDSet.clear();
  mDeletePIDSet.clear();
  mTmpDeletePIDSet.clear();
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
    Trace(WithNumber(u"System Create PPID = ", AsProcessId(parentId)));
    {
      std::lock_guard<std::mutex> lock(mLock);
      // A process whose parent is outside the tree is of no interest: its
      // own id is not even read.
      if (mPIDSet.find(AsProcessId(parentId)) != mPIDSet.end()) {
        std::uint32_t value = 0;
        if (event.ReadId(process::kProcessIdProperty, value)) {
          const std::int32_t id = AsProcessId(value);
          Trace(WithNumber(u"System Create PID = ", id));
          // Its stop came first (or an earlier process had the same id):
          // it counts as ended from the start.
          if (mTmpDeletePIDSet.find(id) != mTmpDeletePIDSet.end()) {
            mTmpDeletePIDSet.erase(id);
            mDeletePIDSet.insert(id);
            Trace(WithNumber(u"Delete PID = ", id));
          }
          if (mPIDSet.find(id) == mPIDSet.end()) {
            mPIDSet.insert(id);
            if (mLimitMonitorPID.size() < kMonitoredLimit) mLimitMonitorPID.insert(id);
            Trace(WithNumber(u"Create PID = ", id));
          }
        }
        event.Release(process::kProcessIdProperty);
      }
    }
  }
  event.Release(process::kParentProcessIdProperty);

  Trace(u"====Leave ProcCreateIndicate====");
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
