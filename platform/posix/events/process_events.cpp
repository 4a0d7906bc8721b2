// The process event monitor: subscriptions, the run that goes on while there
// are any (a source thread and a delivery thread with a queue between them),
// and the process-wide monitor behind the seam.
#include "platform/posix/events/process_events.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <map>
#include <mutex>
#include <thread>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "platform/posix/base/proc_scan.h"
#include "platform/posix/events/known_processes.h"
#include "platform/posix/events/process_connector.h"
#include "platform/posix/events/source_loops.h"

namespace platform::posix {
namespace {

constexpr int kDefaultReceiveBuffer = 8 * 1024 * 1024;
constexpr std::chrono::milliseconds kLongestPollInterval{250};

struct Subscription {
  const std::uint64_t Id;
  const ProcessEventKind Kind;
  ProcessEventCallback Callback;
  // Guarded by the state's mutex.
  bool Active = true;
  std::thread::id DeliveringOn;  // the thread inside Callback, if any
};

}  // namespace

class MonitorRun;

// What the monitor object, its runs and their threads share. Lives as long
// as any of them.
class MonitorState : public std::enable_shared_from_this<MonitorState> {
 public:
  explicit MonitorState(ProcessEventMonitorOptions options)
      : mOptions(options), mProbe(options.Probe != nullptr ? *options.Probe : mOwnProbe) {}

  std::uint64_t Subscribe(ProcessEventKind kind, ProcessEventCallback callback);
  void Unsubscribe(std::uint64_t id);
  // Ends every subscription and waits until no run is left.
  void EndAll();
  ProcessEventOrigin Origin() const;
  void Report(std::vector<ProcessEvent> events, std::function<void()> delivered);

  // Delivery thread of `from`: hands the event to each matching subscriber,
  // unless `from` is no longer the current run.
  void Deliver(const MonitorRun* from, const ProcessEvent& event, std::vector<std::shared_ptr<Subscription>>& targets);
  // Bookkeeping of runs still alive (a stopping run may outlive its stop).
  void RunMade();
  void RunGone();

  const ProcessEventMonitorOptions mOptions;
  SourceProbe mOwnProbe;  // in use unless the options bring a test's
  SourceProbe& mProbe;
  ReportedTrees mTrees;

 private:
  std::mutex mStartMutex;  // one Subscribe at a time starts a run

  mutable std::mutex mMutex;
  std::condition_variable mChanged;  // a delivery ended, or a run went
  std::map<std::uint64_t, std::shared_ptr<Subscription>> mSubscriptions;
  std::uint64_t mLastId = 0;
  std::shared_ptr<MonitorRun> mRun;  // the current run, if any
  int mLiveRuns = 0;
};

// One run of the monitor, from the first subscription to the last one's end.
class MonitorRun : public std::enable_shared_from_this<MonitorRun> {
 public:
  // Opens a source and starts the threads; null when no source can run.
  static std::shared_ptr<MonitorRun> Start(const std::shared_ptr<MonitorState>& state);

  explicit MonitorRun(std::shared_ptr<MonitorState> state)
      : mState(std::move(state)),
        mControl([this](std::vector<ProcessEvent>& events) { Enqueue(events); }, mState->mProbe.Stalled,
                 mState->mProbe.Resyncs) {
    mState->RunMade();
  }
  ~MonitorRun() { mState->RunGone(); }
  MonitorRun(const MonitorRun&) = delete;
  MonitorRun& operator=(const MonitorRun&) = delete;

  ProcessEventOrigin Origin() const { return mOrigin; }

  // Queues first-hand events behind those already queued; `delivered` is
  // called after their delivery, or at once when the run is stopping.
  void EnqueueReported(std::vector<ProcessEvent>& events, std::function<void()> delivered);

  // Ends both threads; waits for them unless called on the delivery thread
  // itself (from a callback), which then winds down once the callback returns.
  // Called once, by whoever took the run from the state.
  void Stop();

 private:
  void Enqueue(std::vector<ProcessEvent>& events);
  void SourceMain();
  void DeliveryMain();

  const std::shared_ptr<MonitorState> mState;
  ProcessEventOrigin mOrigin = ProcessEventOrigin::None;
  std::unique_ptr<ProcessConnector> mConnector;
  KnownProcesses mKnown;  // the source thread's, once started
  SourceLoopControl mControl;

  std::mutex mQueueMutex;
  std::condition_variable mQueueReady;
  std::vector<ProcessEvent> mQueue;
  // Called once the queue's first `first` events have been delivered.
  using Mark = std::pair<std::size_t, std::function<void()>>;
  std::vector<Mark> mMarks;
  bool mStopping = false;

  std::thread mSourceThread;
  std::thread mDeliveryThread;
  bool mStoppedFromCallback = false;  // the delivery thread's own
};

std::shared_ptr<MonitorRun> MonitorRun::Start(const std::shared_ptr<MonitorState>& state) {
  auto run = std::make_shared<MonitorRun>(state);
  if (!run->mControl.Usable()) return nullptr;
  const ProcessEventMonitorOptions& options = state->mOptions;
  if (!options.ForcePolling && SeesConnectorIds()) {
    auto connector = std::make_unique<ProcessConnector>();
    const int buffer = options.ReceiveBufferBytes > 0 ? options.ReceiveBufferBytes : kDefaultReceiveBuffer;
    if (connector->Open(buffer)) {
      run->mConnector = std::move(connector);
      run->mOrigin = ProcessEventOrigin::Netlink;
    }
  }
  if (run->mOrigin == ProcessEventOrigin::None) run->mOrigin = ProcessEventOrigin::Polling;
  // What runs now is known without events; with the connector already
  // listening, whatever starts from here on is reported.
  const std::vector<ProcInfo> running = ScanProcesses(ProcNames::Read);
  if (running.empty()) return nullptr;  // no /proc: nothing can be observed
  run->mKnown.LeaveOut(&state->mTrees);
  run->mKnown.Reset(running);
  run->mSourceThread = std::thread([raw = run.get()] { raw->SourceMain(); });
  run->mDeliveryThread = std::thread([self = run] { self->DeliveryMain(); });
  return run;
}

void MonitorRun::Stop() {
  mControl.Stop();
  {
    std::lock_guard<std::mutex> lock(mQueueMutex);
    mStopping = true;
  }
  mQueueReady.notify_all();
  if (std::this_thread::get_id() == mDeliveryThread.get_id()) {
    mStoppedFromCallback = true;
    return;
  }
  mSourceThread.join();
  mDeliveryThread.join();
}

void MonitorRun::Enqueue(std::vector<ProcessEvent>& events) {
  {
    std::lock_guard<std::mutex> lock(mQueueMutex);
    if (mQueue.empty()) {
      mQueue.swap(events);
    } else {
      mQueue.insert(mQueue.end(), std::make_move_iterator(events.begin()), std::make_move_iterator(events.end()));
    }
  }
  mQueueReady.notify_one();
}

void MonitorRun::EnqueueReported(std::vector<ProcessEvent>& events, std::function<void()> delivered) {
  {
    std::lock_guard<std::mutex> lock(mQueueMutex);
    if (!mStopping) {
      mQueue.insert(mQueue.end(), std::make_move_iterator(events.begin()), std::make_move_iterator(events.end()));
      if (delivered) mMarks.emplace_back(mQueue.size(), std::move(delivered));
      delivered = nullptr;
    }
  }
  mQueueReady.notify_one();
  if (delivered) delivered();
}

void MonitorRun::SourceMain() {
  const std::chrono::milliseconds interval =
      std::clamp(mState->mOptions.PollInterval, std::chrono::milliseconds(1), kLongestPollInterval);
  const std::chrono::milliseconds gather =
      std::clamp(mState->mOptions.GatherInterval, std::chrono::milliseconds(0), kLongestPollInterval);
  if (mConnector != nullptr && RunConnectorSource(*mConnector, gather, mKnown, mControl)) return;
  // Polling from the start, or on from a connector that failed.
  if (mConnector != nullptr) mConnector.reset();
  RunPollingSource(interval, mKnown, mControl);
}

void MonitorRun::DeliveryMain() {
  // Names of started processes, for their stops: the connector reports none,
  // and by the time a process has ended its name can no longer be read.
  std::unordered_map<std::uint32_t, std::string> names;
  std::vector<std::shared_ptr<Subscription>> targets;
  std::vector<ProcessEvent> batch;
  std::vector<Mark> marks;
  std::unordered_set<std::uint32_t> endedInBatch;
  for (;;) {
    {
      std::unique_lock<std::mutex> lock(mQueueMutex);
      mQueueReady.wait(lock, [this] { return mStopping || !mQueue.empty() || !mMarks.empty(); });
      if (mStopping) {
        // Nothing more is delivered: whoever waits for a delivery goes on.
        marks.swap(mMarks);
        break;
      }
      batch.swap(mQueue);
      marks.swap(mMarks);
    }
    // A process whose stop came in the same batch as its start has ended:
    // /proc has nothing left to name it by, and under a storm of short
    // processes those reads would be most of this thread's work.
    endedInBatch.clear();
    for (const ProcessEvent& event : batch) {
      if (event.Kind == ProcessEventKind::Stop) endedInBatch.insert(event.ProcessId);
    }
    std::size_t delivered = 0;
    std::size_t nextMark = 0;
    for (ProcessEvent& event : batch) {
      if (event.Kind == ProcessEventKind::Start) {
        if (event.ProcessName.empty() && endedInBatch.count(event.ProcessId) == 0) {
          event.ProcessName = ReadProcName(event.ProcessId);
        }
        names[event.ProcessId] = event.ProcessName;
      } else {
        const auto known = names.find(event.ProcessId);
        if (known != names.end()) {
          if (event.ProcessName.empty()) event.ProcessName = std::move(known->second);
          names.erase(known);
        }
      }
      mState->Deliver(this, event, targets);
      ++delivered;
      for (; nextMark < marks.size() && marks[nextMark].first <= delivered; ++nextMark) marks[nextMark].second();
    }
    for (; nextMark < marks.size(); ++nextMark) marks[nextMark].second();
    batch.clear();
    marks.clear();
  }
  for (Mark& mark : marks) mark.second();
  if (mStoppedFromCallback) {
    // Nobody waits for this thread: it ends the source and lets itself go.
    mSourceThread.join();
    mDeliveryThread.detach();
  }
}

std::uint64_t MonitorState::Subscribe(ProcessEventKind kind, ProcessEventCallback callback) {
  if (!callback) return 0;
  std::lock_guard<std::mutex> start(mStartMutex);
  bool running = false;
  {
    std::lock_guard<std::mutex> lock(mMutex);
    running = mRun != nullptr;
  }
  std::shared_ptr<MonitorRun> run;
  if (!running) {
    run = MonitorRun::Start(shared_from_this());
    if (run == nullptr) return 0;
  }
  std::lock_guard<std::mutex> lock(mMutex);
  if (run != nullptr) mRun = std::move(run);
  const std::uint64_t id = ++mLastId;
  mSubscriptions.emplace(id, std::make_shared<Subscription>(Subscription{id, kind, std::move(callback), true, {}}));
  return id;
}

void MonitorState::Unsubscribe(std::uint64_t id) {
  std::shared_ptr<MonitorRun> stopping;
  ProcessEventCallback callback;  // destroyed after the lock
  {
    std::unique_lock<std::mutex> lock(mMutex);
    const auto found = mSubscriptions.find(id);
    if (found == mSubscriptions.end()) return;
    const std::shared_ptr<Subscription> subscription = found->second;
    mSubscriptions.erase(found);
    subscription->Active = false;
    const std::thread::id self = std::this_thread::get_id();
    mChanged.wait(lock, [&] {
      return subscription->DeliveringOn == std::thread::id() || subscription->DeliveringOn == self;
    });
    // From inside its own delivery the callback is still running: it goes
    // with the delivery thread's last reference instead.
    if (subscription->DeliveringOn != self) callback = std::move(subscription->Callback);
    if (mSubscriptions.empty()) stopping = std::move(mRun);
  }
  if (stopping != nullptr) stopping->Stop();
}

void MonitorState::EndAll() {
  std::vector<std::uint64_t> ids;
  {
    std::lock_guard<std::mutex> lock(mMutex);
    for (const auto& entry : mSubscriptions) ids.push_back(entry.first);
  }
  for (std::uint64_t id : ids) Unsubscribe(id);
  std::unique_lock<std::mutex> lock(mMutex);
  mChanged.wait(lock, [this] { return mLiveRuns == 0; });
}

ProcessEventOrigin MonitorState::Origin() const {
  std::lock_guard<std::mutex> lock(mMutex);
  return mRun == nullptr ? ProcessEventOrigin::None : mRun->Origin();
}

void MonitorState::Report(std::vector<ProcessEvent> events, std::function<void()> delivered) {
  std::shared_ptr<MonitorRun> run;
  {
    std::lock_guard<std::mutex> lock(mMutex);
    run = mRun;
  }
  if (run != nullptr) {
    run->EnqueueReported(events, std::move(delivered));
  } else if (delivered) {
    delivered();
  }
}

void MonitorState::Deliver(const MonitorRun* from, const ProcessEvent& event,
                                        std::vector<std::shared_ptr<Subscription>>& targets) {
  targets.clear();
  {
    std::lock_guard<std::mutex> lock(mMutex);
    if (mRun.get() != from) return;
    for (const auto& entry : mSubscriptions) {
      if (entry.second->Kind == event.Kind) targets.push_back(entry.second);
    }
  }
  const std::thread::id self = std::this_thread::get_id();
  for (const std::shared_ptr<Subscription>& subscription : targets) {
    {
      std::lock_guard<std::mutex> lock(mMutex);
      if (!subscription->Active || mRun.get() != from) continue;
      subscription->DeliveringOn = self;
    }
    subscription->Callback(event);
    {
      std::lock_guard<std::mutex> lock(mMutex);
      subscription->DeliveringOn = std::thread::id();
    }
    mChanged.notify_all();
  }
  targets.clear();
}

void MonitorState::RunMade() {
  std::lock_guard<std::mutex> lock(mMutex);
  ++mLiveRuns;
}

void MonitorState::RunGone() {
  {
    std::lock_guard<std::mutex> lock(mMutex);
    --mLiveRuns;
  }
  mChanged.notify_all();
}

ProcessEventMonitor::ProcessEventMonitor(ProcessEventMonitorOptions options)
    : mState(std::make_shared<MonitorState>(options)) {}

ProcessEventMonitor::~ProcessEventMonitor() { mState->EndAll(); }

std::uint64_t ProcessEventMonitor::Subscribe(ProcessEventKind kind, ProcessEventCallback callback) {
  return mState->Subscribe(kind, std::move(callback));
}

void ProcessEventMonitor::Unsubscribe(std::uint64_t id) { mState->Unsubscribe(id); }

ProcessEventOrigin ProcessEventMonitor::Origin() const { return mState->Origin(); }

void ProcessEventMonitor::Report(std::vector<ProcessEvent> events, std::function<void()> delivered) {
  mState->Report(std::move(events), std::move(delivered));
}

void ProcessEventMonitor::LeaveOutTree(std::uint32_t root) { mState->mTrees.Add(root); }

void ProcessEventMonitor::EndLeaveOutTree(std::uint32_t root) { mState->mTrees.Remove(root); }

ProcessEvents& SystemProcessEvents() {
  static ProcessEventMonitor* monitor = new ProcessEventMonitor();  // never destroyed: its threads may run to the end
  return *monitor;
}

}  // namespace platform::posix
