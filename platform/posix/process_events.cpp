// The process event service: subscriptions, the engine that runs while there
// are any (a source thread and a delivery thread with a queue between them),
// and the process-wide instance.
#include "platform/posix/process_events.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <map>
#include <mutex>
#include <thread>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "platform/posix/known_processes.h"
#include "platform/posix/proc_scan.h"
#include "platform/posix/process_connector.h"
#include "platform/posix/process_event_sources.h"

namespace platform::posix {
namespace {

constexpr int kDefaultReceiveBuffer = 8 * 1024 * 1024;
constexpr std::chrono::milliseconds kLongestPollInterval{250};

struct Subscription {
  const std::uint64_t Id;
  const ProcessEventKind Kind;
  ProcessEventCallback Callback;
  // Guarded by the core's mutex.
  bool Active = true;
  std::thread::id DeliveringOn;  // the thread inside Callback, if any
};

}  // namespace

class ProcessEventEngine;

// What the service object, its engines and their threads share. Lives as
// long as any of them.
class ProcessEventCore : public std::enable_shared_from_this<ProcessEventCore> {
 public:
  explicit ProcessEventCore(ProcessEventServiceOptions options) : mOptions(options) {}

  std::uint64_t Subscribe(ProcessEventKind kind, ProcessEventCallback callback);
  void Unsubscribe(std::uint64_t id);
  // Ends every subscription and waits until no engine is left.
  void EndAll();
  ProcessEventSource Source() const;
  void Report(std::vector<ProcessEvent> events, std::function<void()> delivered);

  // Delivery thread of `from`: hands the event to each matching subscriber,
  // unless `from` is no longer the running engine.
  void Deliver(const ProcessEventEngine* from, const ProcessEvent& event, std::vector<std::shared_ptr<Subscription>>& targets);
  // Bookkeeping of engines still alive (a stopping engine may outlive its stop).
  void EngineMade();
  void EngineGone();

  const ProcessEventServiceOptions mOptions;
  std::atomic<bool> mStalled{false};
  std::atomic<std::uint64_t> mResyncs{0};
  ReportedTrees mTrees;

 private:
  std::mutex mStartMutex;  // one Subscribe at a time starts an engine

  mutable std::mutex mMutex;
  std::condition_variable mChanged;  // a delivery ended, or an engine went
  std::map<std::uint64_t, std::shared_ptr<Subscription>> mSubscriptions;
  std::uint64_t mLastId = 0;
  std::shared_ptr<ProcessEventEngine> mEngine;  // the running engine, if any
  int mLiveEngines = 0;
};

// One run of the service, from the first subscription to the last one's end.
class ProcessEventEngine : public std::enable_shared_from_this<ProcessEventEngine> {
 public:
  // Opens a source and starts the threads; null when no source can run.
  static std::shared_ptr<ProcessEventEngine> Start(const std::shared_ptr<ProcessEventCore>& core);

  explicit ProcessEventEngine(std::shared_ptr<ProcessEventCore> core)
      : mCore(std::move(core)),
        mControl([this](std::vector<ProcessEvent>& events) { Enqueue(events); }, mCore->mStalled, mCore->mResyncs) {
    mCore->EngineMade();
  }
  ~ProcessEventEngine() { mCore->EngineGone(); }
  ProcessEventEngine(const ProcessEventEngine&) = delete;
  ProcessEventEngine& operator=(const ProcessEventEngine&) = delete;

  ProcessEventSource Source() const { return mSource; }

  // Queues first-hand events behind those already queued; `delivered` is
  // called after their delivery, or at once when the engine is stopping.
  void EnqueueReported(std::vector<ProcessEvent>& events, std::function<void()> delivered);

  // Ends both threads; waits for them unless called on the delivery thread
  // itself (from a callback), which then winds down once the callback returns.
  // Called once, by whoever took the engine from the core.
  void Stop();

 private:
  void Enqueue(std::vector<ProcessEvent>& events);
  void SourceMain();
  void DeliveryMain();

  const std::shared_ptr<ProcessEventCore> mCore;
  ProcessEventSource mSource = ProcessEventSource::None;
  std::unique_ptr<ProcessConnector> mConnector;
  KnownProcesses mKnown;  // the source thread's, once started
  SourceControl mControl;

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

std::shared_ptr<ProcessEventEngine> ProcessEventEngine::Start(const std::shared_ptr<ProcessEventCore>& core) {
  auto engine = std::make_shared<ProcessEventEngine>(core);
  if (!engine->mControl.Usable()) return nullptr;
  const ProcessEventServiceOptions& options = core->mOptions;
  if (!options.ForcePolling && SeesConnectorIds()) {
    auto connector = std::make_unique<ProcessConnector>();
    const int buffer = options.ReceiveBufferBytes > 0 ? options.ReceiveBufferBytes : kDefaultReceiveBuffer;
    if (connector->Open(buffer)) {
      engine->mConnector = std::move(connector);
      engine->mSource = ProcessEventSource::Netlink;
    }
  }
  if (engine->mSource == ProcessEventSource::None) engine->mSource = ProcessEventSource::Polling;
  // What runs now is known without events; with the connector already
  // listening, whatever starts from here on is reported.
  const std::vector<ProcInfo> running = ScanProcesses(ProcNames::Read);
  if (running.empty()) return nullptr;  // no /proc: nothing can be observed
  engine->mKnown.LeaveOut(&core->mTrees);
  engine->mKnown.Reset(running);
  engine->mSourceThread = std::thread([raw = engine.get()] { raw->SourceMain(); });
  engine->mDeliveryThread = std::thread([self = engine] { self->DeliveryMain(); });
  return engine;
}

void ProcessEventEngine::Stop() {
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

void ProcessEventEngine::Enqueue(std::vector<ProcessEvent>& events) {
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

void ProcessEventEngine::EnqueueReported(std::vector<ProcessEvent>& events, std::function<void()> delivered) {
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

void ProcessEventEngine::SourceMain() {
  const std::chrono::milliseconds interval =
      std::clamp(mCore->mOptions.PollInterval, std::chrono::milliseconds(1), kLongestPollInterval);
  const std::chrono::milliseconds gather =
      std::clamp(mCore->mOptions.GatherInterval, std::chrono::milliseconds(0), kLongestPollInterval);
  if (mConnector != nullptr && RunConnectorSource(*mConnector, gather, mKnown, mControl)) return;
  // Polling from the start, or on from a connector that failed.
  if (mConnector != nullptr) mConnector.reset();
  RunPollingSource(interval, mKnown, mControl);
}

void ProcessEventEngine::DeliveryMain() {
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
      mCore->Deliver(this, event, targets);
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

std::uint64_t ProcessEventCore::Subscribe(ProcessEventKind kind, ProcessEventCallback callback) {
  if (!callback) return 0;
  std::lock_guard<std::mutex> start(mStartMutex);
  bool running = false;
  {
    std::lock_guard<std::mutex> lock(mMutex);
    running = mEngine != nullptr;
  }
  std::shared_ptr<ProcessEventEngine> engine;
  if (!running) {
    engine = ProcessEventEngine::Start(shared_from_this());
    if (engine == nullptr) return 0;
  }
  std::lock_guard<std::mutex> lock(mMutex);
  if (engine != nullptr) mEngine = std::move(engine);
  const std::uint64_t id = ++mLastId;
  mSubscriptions.emplace(id, std::make_shared<Subscription>(Subscription{id, kind, std::move(callback), true, {}}));
  return id;
}

void ProcessEventCore::Unsubscribe(std::uint64_t id) {
  std::shared_ptr<ProcessEventEngine> stopping;
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
    if (mSubscriptions.empty()) stopping = std::move(mEngine);
  }
  if (stopping != nullptr) stopping->Stop();
}

void ProcessEventCore::EndAll() {
  std::vector<std::uint64_t> ids;
  {
    std::lock_guard<std::mutex> lock(mMutex);
    for (const auto& entry : mSubscriptions) ids.push_back(entry.first);
  }
  for (std::uint64_t id : ids) Unsubscribe(id);
  std::unique_lock<std::mutex> lock(mMutex);
  mChanged.wait(lock, [this] { return mLiveEngines == 0; });
}

ProcessEventSource ProcessEventCore::Source() const {
  std::lock_guard<std::mutex> lock(mMutex);
  return mEngine == nullptr ? ProcessEventSource::None : mEngine->Source();
}

void ProcessEventCore::Report(std::vector<ProcessEvent> events, std::function<void()> delivered) {
  std::shared_ptr<ProcessEventEngine> engine;
  {
    std::lock_guard<std::mutex> lock(mMutex);
    engine = mEngine;
  }
  if (engine != nullptr) {
    engine->EnqueueReported(events, std::move(delivered));
  } else if (delivered) {
    delivered();
  }
}

void ProcessEventCore::Deliver(const ProcessEventEngine* from, const ProcessEvent& event,
                                        std::vector<std::shared_ptr<Subscription>>& targets) {
  targets.clear();
  {
    std::lock_guard<std::mutex> lock(mMutex);
    if (mEngine.get() != from) return;
    for (const auto& entry : mSubscriptions) {
      if (entry.second->Kind == event.Kind) targets.push_back(entry.second);
    }
  }
  const std::thread::id self = std::this_thread::get_id();
  for (const std::shared_ptr<Subscription>& subscription : targets) {
    {
      std::lock_guard<std::mutex> lock(mMutex);
      if (!subscription->Active || mEngine.get() != from) continue;
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

void ProcessEventCore::EngineMade() {
  std::lock_guard<std::mutex> lock(mMutex);
  ++mLiveEngines;
}

void ProcessEventCore::EngineGone() {
  {
    std::lock_guard<std::mutex> lock(mMutex);
    --mLiveEngines;
  }
  mChanged.notify_all();
}

ProcessEventService::ProcessEventService(ProcessEventServiceOptions options)
    : mCore(std::make_shared<ProcessEventCore>(options)) {}

ProcessEventService::~ProcessEventService() { mCore->EndAll(); }

std::uint64_t ProcessEventService::Subscribe(ProcessEventKind kind, ProcessEventCallback callback) {
  return mCore->Subscribe(kind, std::move(callback));
}

void ProcessEventService::Unsubscribe(std::uint64_t id) { mCore->Unsubscribe(id); }

ProcessEventSource ProcessEventService::Source() const { return mCore->Source(); }

void ProcessEventService::Report(std::vector<ProcessEvent> events, std::function<void()> delivered) {
  mCore->Report(std::move(events), std::move(delivered));
}

void ProcessEventService::LeaveOutTree(std::uint32_t root) { mCore->mTrees.Add(root); }

void ProcessEventService::EndLeaveOutTree(std::uint32_t root) { mCore->mTrees.Remove(root); }

void ProcessEventService::StallSourceForTesting(bool stalled) { mCore->mStalled.store(stalled); }

std::uint64_t ProcessEventService::ResyncCountForTesting() const { return mCore->mResyncs.load(); }

namespace {

ProcessEventService& ProcessWideService() {
  static ProcessEventService* service = new ProcessEventService();  // never destroyed: its threads may run to the end
  return *service;
}

}  // namespace

std::uint64_t SubscribeProcessEvents(ProcessEventKind kind, ProcessEventCallback callback) {
  return ProcessWideService().Subscribe(kind, std::move(callback));
}

void UnsubscribeProcessEvents(std::uint64_t id) { ProcessWideService().Unsubscribe(id); }

ProcessEventSource ProcessEventsSource() { return ProcessWideService().Source(); }

void ReportProcessEvents(std::vector<ProcessEvent> events, std::function<void()> delivered) {
  ProcessWideService().Report(std::move(events), std::move(delivered));
}

void LeaveOutProcessTree(std::uint32_t root) { ProcessWideService().LeaveOutTree(root); }

void EndLeaveOutProcessTree(std::uint32_t root) { ProcessWideService().EndLeaveOutTree(root); }

}  // namespace platform::posix
