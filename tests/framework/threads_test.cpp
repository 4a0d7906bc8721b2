// Worker threads, Synchronize, the termination notice and timers, on the headless loop.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "framework/sysutils.h"
#include "framework/threads.h"
#include "framework/timers.h"
#include "platform/thread_priority.h"
#include "tests/support/headless_app.h"

namespace {

using Clock = std::chrono::steady_clock;

// Records where and in which order things happen.
struct Journal {
  std::mutex Mutex;
  std::vector<std::string> Events;
  void Add(const std::string& event) {
    std::lock_guard<std::mutex> lock(Mutex);
    Events.push_back(event);
  }
  std::vector<std::string> Copy() {
    std::lock_guard<std::mutex> lock(Mutex);
    return Events;
  }
};

std::string Where() { return framework::IsMainThread() ? "main" : "worker"; }

class RecordingThread : public TThread {
 public:
  RecordingThread(Journal& journal, bool throwInExecute)
      : TThread(true), mJournal(journal), mThrow(throwInExecute) {}
  ~RecordingThread() override { mJournal.Add("destroyed on " + Where()); }

 protected:
  void Execute() override {
    mJournal.Add("execute on " + Where());
    Synchronize([this] { mJournal.Add("synchronized on " + Where()); });
    mJournal.Add("back from synchronize");
    if (mThrow) throw std::runtime_error("lost");
  }

 private:
  Journal& mJournal;
  bool mThrow;
};

TEST(Threads, SuspendedStartSynchronizeNoticeThenSelfFree) {
  for (const bool throwing : {false, true}) {
    SCOPED_TRACE(throwing ? "Execute throws" : "Execute returns");
    Journal journal;
    RunScenario([&](ScenarioForm& form) {
      auto* thread = new RecordingThread(journal, throwing);
      thread->FreeOnTerminate = true;
      thread->OnTerminate = [&journal, &form](TObject*) {
        journal.Add("terminate notice on " + Where());
        form.Close();
      };
      Sleep(50);
      journal.Add("before start");
      thread->Start();
    });
    // The thread frees itself after the notice; give it a moment to finish.
    const auto deadline = Clock::now() + std::chrono::seconds(10);
    while (journal.Copy().size() < 6 && Clock::now() < deadline) Sleep(5);
    EXPECT_EQ(journal.Copy(), (std::vector<std::string>{"before start", "execute on worker",
                                                        "synchronized on main", "back from synchronize",
                                                        "terminate notice on main", "destroyed on worker"}));
  }
}

// Ends at once: no Synchronize and no termination handler, so that it may
// free itself before Start has returned.
class EndsAtOnce : public TThread {
 public:
  explicit EndsAtOnce(std::atomic<int>& destroyed) : TThread(true), mDestroyed(destroyed) {}
  ~EndsAtOnce() override { mDestroyed.fetch_add(1); }

 protected:
  void Execute() override {}

 private:
  std::atomic<int>& mDestroyed;
};

TEST(Threads, StartOfAThreadThatFreesItselfAtOnce) {
  // Start must be done with the object before the thread can free it; the
  // sanitizer builds report a use after free otherwise.
  constexpr int kThreads = 2000;
  std::atomic<int> destroyed{0};
  for (int i = 0; i < kThreads; ++i) {
    auto* thread = new EndsAtOnce(destroyed);
    thread->FreeOnTerminate = true;
    thread->Start();
  }
  const auto deadline = Clock::now() + std::chrono::seconds(60);
  while (destroyed.load() < kThreads && Clock::now() < deadline) Sleep(5);
  EXPECT_EQ(destroyed.load(), kThreads);
}

class BlockedByNotice : public TThread {
 public:
  explicit BlockedByNotice(std::atomic<bool>& afterNotice) : TThread(true), mAfterNotice(afterNotice) {}
  ~BlockedByNotice() override { mAfterNotice.store(true); }

 protected:
  void Execute() override {}

 private:
  std::atomic<bool>& mAfterNotice;
};

TEST(Threads, WorkerStaysBlockedWhileTheNoticeHandlerSleeps) {
  std::atomic<bool> destroyed{false};
  bool destroyedDuringSleep = true;
  RunScenario([&](ScenarioForm& form) {
    auto* thread = new BlockedByNotice(destroyed);
    thread->FreeOnTerminate = true;
    thread->OnTerminate = [&](TObject*) {
      Sleep(300);
      destroyedDuringSleep = destroyed.load();
      form.Close();
    };
    thread->Start();
  });
  EXPECT_FALSE(destroyedDuringSleep);
  const auto deadline = Clock::now() + std::chrono::seconds(10);
  while (!destroyed.load() && Clock::now() < deadline) Sleep(5);
  EXPECT_TRUE(destroyed.load());
}

class Throwing : public TThread {
 public:
  Throwing() : TThread(true) {}
  std::string caught;

 protected:
  void Execute() override {
    try {
      Synchronize([] { throw std::runtime_error("from the main thread"); });
    } catch (const std::runtime_error& e) {
      caught = e.what();
    }
  }
};

TEST(Threads, SynchronizeRethrowsInTheCallerAndWaitForServesTheMainThread) {
  std::string caught;
  RunScenario([&](ScenarioForm& form) {
    Throwing thread;
    thread.Start();
    thread.WaitFor();  // on the main thread: must serve the Synchronize call
    caught = thread.caught;
    form.Close();
  });
  EXPECT_EQ(caught, "from the main thread");
}

class Looping : public TThread {
 public:
  explicit Looping(std::atomic<bool>& returned) : TThread(false), mReturned(returned) {}
  ~Looping() override { TerminateAndWait(); }  // Execute uses this class's members
  std::atomic<int> passes{0};

 protected:
  void Execute() override {
    while (!Terminated()) {
      ++passes;
      Sleep(1);
    }
    mReturned.store(true);
  }

 private:
  std::atomic<bool>& mReturned;
};

TEST(Threads, NewThreadRunsAtOnceAndDestructionTerminatesAndWaits) {
  std::atomic<bool> returned{false};
  bool returnedWhenDeleted = false;
  RunScenario([&](ScenarioForm& form) {
    Looping* thread = NewThread<Looping>(returned);
    while (thread->passes.load() == 0) Sleep(1);  // running without Start
    delete thread;  // asks it to terminate and waits
    returnedWhenDeleted = returned.load();
    form.Close();
  });
  EXPECT_TRUE(returnedWhenDeleted);
}

class NoticeThrows : public TThread {
 public:
  NoticeThrows() : TThread(true) {}

 protected:
  void Execute() override {}
};

TEST(Threads, ExceptionFromTheNoticeHandlerEndsRunWithIt) {
  std::string message;
  try {
    RunScenario([](ScenarioForm&) {
      auto* thread = new NoticeThrows();
      thread->FreeOnTerminate = true;
      thread->OnTerminate = [](TObject*) { throw Exception(u"notice failed"); };
      thread->Start();
    });
  } catch (const Exception& e) {
    message = std::string(e.Message().begin(), e.Message().end());
  }
  EXPECT_EQ(message, "notice failed");
}

TEST(Timers, FirstTickOneIntervalLaterOnTheMainThreadAndDisableStops) {
  std::vector<std::string> ticks;
  Clock::duration firstTickAfter{};
  int ticksAfterDisable = -1;
  std::unique_ptr<TTimer> timer;
  std::unique_ptr<TTimer> done;
  RunScenario([&](ScenarioForm& form) {
    timer = std::make_unique<TTimer>(nullptr);
    done = std::make_unique<TTimer>(nullptr);
    const auto enabledAt = Clock::now();
    timer->SetInterval(100);
    timer->OnTimer = [&, enabledAt](TObject* sender) {
      if (ticks.empty()) firstTickAfter = Clock::now() - enabledAt;
      ticks.push_back(Where() + (sender == timer.get() ? " timer" : " other"));
      if (ticks.size() == 3) {
        timer->SetEnabled(false);
        done->SetInterval(350);
        done->SetEnabled(true);
      }
    };
    done->OnTimer = [&](TObject*) {
      ticksAfterDisable = static_cast<int>(ticks.size()) - 3;
      done->SetEnabled(false);
      form.Close();
    };
    timer->SetEnabled(true);
  });
  timer.reset();
  done.reset();
  EXPECT_EQ(ticks, (std::vector<std::string>{"main timer", "main timer", "main timer"}));
  EXPECT_GE(firstTickAfter, std::chrono::milliseconds(100));
  EXPECT_EQ(ticksAfterDisable, 0);
}

class PriorityProbe : public TThread {
 public:
  PriorityProbe() : TThread(true) {}
  ~PriorityProbe() override { TerminateAndWait(); }
  TThreadPriority seenAtStart{};
  TThreadPriority seenAfterSet{};

 protected:
  void Execute() override {
    seenAtStart = Priority();
    SetPriority(TThreadPriority::tpNormal);
    seenAfterSet = Priority();
  }
};

// Records which thread asked the system for which priority.
class RecordingScheduling final : public platform::ThreadScheduling {
 public:
  struct Request {
    platform::ThreadPriority Priority;
    std::thread::id Thread;
  };
  bool SetCurrentThreadPriority(platform::ThreadPriority priority) override {
    std::lock_guard<std::mutex> lock(mMutex);
    mRequests.push_back({priority, std::this_thread::get_id()});
    return true;
  }
  std::vector<Request> Requests() {
    std::lock_guard<std::mutex> lock(mMutex);
    return mRequests;
  }

 private:
  std::mutex mMutex;
  std::vector<Request> mRequests;
};

TEST(Threads, PrioritySetBeforeStartAndFromTheThreadItself) {
  RecordingScheduling scheduling;
  platform::ScopedThreadSchedulingForTesting scope(scheduling);
  PriorityProbe fresh;
  EXPECT_EQ(fresh.Priority(), TThreadPriority::tpNormal) << "normal until set";
  PriorityProbe thread;
  thread.SetPriority(TThreadPriority::tpLower);
  EXPECT_TRUE(scheduling.Requests().empty()) << "a thread not yet running is only told later";
  thread.Start();
  thread.WaitFor();
  EXPECT_EQ(thread.seenAtStart, TThreadPriority::tpLower);
  EXPECT_EQ(thread.seenAfterSet, TThreadPriority::tpNormal);
  EXPECT_EQ(thread.Priority(), TThreadPriority::tpNormal);

  // The system hears both, each on the worker itself: the priority set before
  // the start when the thread begins, then the one it set for itself.
  const std::vector<RecordingScheduling::Request> requests = scheduling.Requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[0].Priority, platform::ThreadPriority::Lower);
  EXPECT_EQ(requests[1].Priority, platform::ThreadPriority::Normal);
  for (const RecordingScheduling::Request& request : requests) EXPECT_NE(request.Thread, std::this_thread::get_id());
}

}  // namespace
