// Threads of the framework: a worker with Execute, Terminate/Terminated,
// Synchronize (a call on the main thread) and a termination notice.
#pragma once

#include <atomic>
#include <functional>
#include <mutex>
#include <thread>
#include <utility>

#include "framework/classes.h"
#include "platform/thread_priority.h"

// The familiar names of the thread priorities.
enum class TThreadPriority { tpIdle, tpLowest, tpLower, tpNormal, tpHigher, tpHighest, tpTimeCritical };

class TThread : public TObject {
 public:
  // A thread created suspended begins with Start. One created running begins
  // in AfterConstruction, once every constructor has run (NewThread calls it).
  explicit TThread(bool createSuspended);
  // Destroying a thread that still runs asks it to terminate and waits for
  // it. Members of a derived class are gone by then: a derived class whose
  // Execute uses them and that may be destroyed while running calls
  // TerminateAndWait in its own destructor. A FreeOnTerminate thread
  // destroys itself on its own thread once the termination notice has been
  // delivered, so Execute has long returned.
  ~TThread() override;

  // Starts a suspended thread; does nothing for one already started.
  void Start();
  void AfterConstruction();
  // Asks the thread to stop; Execute is expected to look at Terminated.
  void Terminate() { mTerminated.store(true, std::memory_order_release); }
  bool Terminated() const { return mTerminated.load(std::memory_order_acquire); }
  // Waits until Execute has returned and the termination notice has been
  // delivered. On the main thread, Synchronize calls are served meanwhile.
  void WaitFor();
  bool Finished() const { return mFinished.load(std::memory_order_acquire); }
  // Terminate, then WaitFor if the thread was started.
  void TerminateAndWait();

  // The thread's scheduling priority, normal until set. Set from the thread
  // itself it applies at once; set before Start it applies when the thread
  // begins; from any other thread while running it is only recorded.
  TThreadPriority Priority() const { return mPriority.load(std::memory_order_acquire); }
  void SetPriority(TThreadPriority priority);

  // Delivered on the main thread after Execute has returned and before the
  // thread object is destroyed; the thread waits until it has run.
  TNotifyEvent OnTerminate;
  bool FreeOnTerminate = false;

 protected:
  // The thread's work. Anything it throws is swallowed; the termination
  // notice still arrives.
  virtual void Execute() = 0;
  // Runs the method on the main thread and returns when it has run; an
  // exception it throws is rethrown here.
  static void Synchronize(const std::function<void()>& method);

 private:
  void Main();

  const bool mCreateSuspended;
  std::thread mThread;
  std::atomic<bool> mTerminated{false};
  std::atomic<bool> mFinished{false};
  std::atomic<TThreadPriority> mPriority{TThreadPriority::tpNormal};
  std::atomic<bool> mPrioritySet{false};
  std::atomic<std::thread::id> mRunningOn{};  // the thread running Main
  std::mutex mStartMutex;
};

// Constructs a thread and lets it begin unless it was created suspended.
template <class Thread, class... Args>
Thread* NewThread(Args&&... args) {
  Thread* thread = new Thread(std::forward<Args>(args)...);
  thread->AfterConstruction();
  return thread;
}

namespace framework {

// True on the thread that runs the message loop.
bool IsMainThread();
// Runs the Synchronize calls waiting for the main thread; called by the
// backends on the main thread when woken, and by WaitFor.
void CheckSynchronize();
// How many started threads have not yet come to their very end (their
// termination notice delivered and, for a FreeOnTerminate thread, the object
// freed). Safe from any thread.
int RunningThreadCount();

}  // namespace framework
