// Worker threads and the Synchronize queue served by the main thread.
#include "framework/threads.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <exception>
#include <utility>

#include "framework/backend.h"
#include "framework/forms.h"

namespace framework {
namespace {

const std::thread::id gMainThread = std::this_thread::get_id();  // static init runs on the main thread

// One call waiting for the main thread; lives on the caller's stack until done.
struct SyncRequest {
  const std::function<void()>* Method = nullptr;
  std::exception_ptr Error;
  bool Done = false;
};

// The queue of calls waiting for the main thread. Never destroyed: a thread
// that frees itself may still touch it while the process exits.
struct SyncState {
  std::mutex Mutex;
  std::condition_variable Done;  // a request was served, or a thread finished
  std::deque<SyncRequest*> Queue;
};

SyncState& Sync() {
  static SyncState* const state = new SyncState();
  return *state;
}

std::atomic<int> gRunningThreads{0};

}  // namespace

bool IsMainThread() { return std::this_thread::get_id() == gMainThread; }

int RunningThreadCount() { return gRunningThreads.load(); }

void CheckSynchronize() {
  for (;;) {
    SyncRequest* request = nullptr;
    {
      std::lock_guard<std::mutex> lock(Sync().Mutex);
      if (Sync().Queue.empty()) return;
      request = Sync().Queue.front();
      Sync().Queue.pop_front();
    }
    std::exception_ptr error;
    try {
      (*request->Method)();
    } catch (...) {
      error = std::current_exception();
    }
    std::lock_guard<std::mutex> lock(Sync().Mutex);
    // Handed over, not shared: the caller alone releases the exception, so
    // it is never freed here while the caller still reads it.
    request->Error = std::move(error);
    request->Done = true;
    Sync().Done.notify_all();
  }
}

}  // namespace framework

TThread::TThread(bool createSuspended) : mCreateSuspended(createSuspended) {}

TThread::~TThread() {
  if (mThread.joinable() && mThread.get_id() == std::this_thread::get_id()) {
    mThread.detach();  // a FreeOnTerminate thread ending itself
    return;
  }
  TerminateAndWait();
}

void TThread::TerminateAndWait() {
  Terminate();
  if (mThread.joinable() && mThread.get_id() != std::this_thread::get_id()) WaitFor();
}

void TThread::AfterConstruction() {
  if (!mCreateSuspended) Start();
}

void TThread::Start() {
  std::lock_guard<std::mutex> lock(mStartMutex);
  if (mThread.joinable() || mFinished.load()) return;
  framework::gRunningThreads.fetch_add(1);
  // The new thread waits for this lock in Main: a thread that ends at once
  // and frees itself must not do so before mThread has been assigned.
  mThread = std::thread([this] { Main(); });
}

void TThread::WaitFor() {
  if (!mThread.joinable() || mThread.get_id() == std::this_thread::get_id()) return;
  if (framework::IsMainThread()) {
    // The thread may be waiting for the main thread; serve it until it ends.
    while (!mFinished.load(std::memory_order_acquire)) {
      framework::CheckSynchronize();
      std::unique_lock<std::mutex> lock(framework::Sync().Mutex);
      framework::Sync().Done.wait_for(lock, std::chrono::milliseconds(5));
    }
  }
  mThread.join();
}

void TThread::Synchronize(const std::function<void()>& method) {
  if (framework::IsMainThread()) {
    method();
    return;
  }
  framework::SyncRequest request;
  request.Method = &method;
  {
    std::lock_guard<std::mutex> lock(framework::Sync().Mutex);
    framework::Sync().Queue.push_back(&request);
  }
  framework::CurrentBackend().WakeMainThread();
  std::unique_lock<std::mutex> lock(framework::Sync().Mutex);
  framework::Sync().Done.wait(lock, [&request] { return request.Done; });
  if (request.Error) std::rethrow_exception(request.Error);
}

namespace {

platform::ThreadPriority SystemPriority(TThreadPriority priority) {
  switch (priority) {
    case TThreadPriority::tpIdle: return platform::ThreadPriority::Idle;
    case TThreadPriority::tpLowest: return platform::ThreadPriority::Lowest;
    case TThreadPriority::tpLower: return platform::ThreadPriority::Lower;
    case TThreadPriority::tpNormal: return platform::ThreadPriority::Normal;
    case TThreadPriority::tpHigher: return platform::ThreadPriority::Higher;
    case TThreadPriority::tpHighest: return platform::ThreadPriority::Highest;
    case TThreadPriority::tpTimeCritical: return platform::ThreadPriority::TimeCritical;
  }
  return platform::ThreadPriority::Normal;
}

}  // namespace

void TThread::SetPriority(TThreadPriority priority) {
  mPriority.store(priority, std::memory_order_release);
  mPrioritySet.store(true, std::memory_order_release);
  if (mRunningOn.load(std::memory_order_acquire) == std::this_thread::get_id()) {
    platform::CurrentThreadScheduling().SetCurrentThreadPriority(SystemPriority(priority));
  }
}

void TThread::Main() {
  { std::lock_guard<std::mutex> started(mStartMutex); }
  mRunningOn.store(std::this_thread::get_id(), std::memory_order_release);
  if (mPrioritySet.load(std::memory_order_acquire)) platform::CurrentThreadScheduling().SetCurrentThreadPriority(SystemPriority(Priority()));
  try {
    Execute();
  } catch (...) {
    // Swallowed: the termination notice below still arrives.
  }
  if (OnTerminate) {
    // An exception in the handler goes to the entry point's guard, like any
    // other event handler's.
    Synchronize([this] { Application->DeliverEvent([this] { OnTerminate(this); }); });
  }
  const bool freeSelf = FreeOnTerminate;
  mFinished.store(true, std::memory_order_release);
  {
    // Wake a main thread waiting in WaitFor.
    std::lock_guard<std::mutex> lock(framework::Sync().Mutex);
    framework::Sync().Done.notify_all();
  }
  if (freeSelf) delete this;
  framework::gRunningThreads.fetch_sub(1);
}
