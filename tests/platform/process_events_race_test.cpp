// Unsubscribing from the Linux process event service while deliveries run:
// no callback runs after Unsubscribe returns, and Unsubscribe from inside a
// callback neither deadlocks nor lets that callback be called again. Real
// processes are started throughout (as root the connector reports every
// process of the machine; otherwise the polling fallback runs). Built for
// ThreadSanitizer as well.
#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <random>

#include "platform/posix/events/process_events.h"
#include "tests/platform/process_events_support.h"

namespace {

using platform::posix::ProcessEvent;
using platform::posix::ProcessEventKind;
using platform::posix::ProcessEventMonitor;
using platform::posix::ProcessEventMonitorOptions;

// Starts short processes on its own thread for its lifetime, so that events keep coming.
class ProcessChurn {
 public:
  ProcessChurn()
      : mThread([this] {
          while (!mStop.load()) events_test::RunShortProcess();
        }) {}
  ~ProcessChurn() {
    mStop.store(true);
    mThread.join();
  }
  ProcessChurn(const ProcessChurn&) = delete;
  ProcessChurn& operator=(const ProcessChurn&) = delete;

 private:
  std::atomic<bool> mStop{false};
  std::thread mThread;
};

ProcessEventMonitorOptions FastOptions() {
  ProcessEventMonitorOptions options;
  options.PollInterval = std::chrono::milliseconds(10);  // dense deliveries also when polling
  options.GatherInterval = std::chrono::milliseconds(0);  // each report delivered at once
  return options;
}

// What one subscription's callback touches; freed right after Unsubscribe.
struct Target {
  std::atomic<bool> Ended{false};
  std::uint64_t Calls = 0;  // written by the callback only
};

TEST(ProcessEventsRaceTest, NoCallbackRunsAfterUnsubscribeReturns) {
  ProcessEventMonitor service(FastOptions());
  ProcessChurn churn;
  std::atomic<int> lateCalls{0};
  std::atomic<std::uint64_t> calls{0};
  std::mt19937 random(7);
  for (int round = 0; round < 150; ++round) {
    // Every other round a second, slow subscription comes first in the
    // deliveries of stops and keeps the service running, so that both the
    // last and a not-last Unsubscribe race deliveries, also one that waits
    // its turn behind another subscriber.
    auto keeper = std::make_unique<Target>();
    std::uint64_t keeperId = 0;
    if (round % 2 == 0) {
      keeperId = service.Subscribe(ProcessEventKind::Stop, [target = keeper.get()](const ProcessEvent&) {
        ++target->Calls;
        std::this_thread::sleep_for(std::chrono::microseconds(300));
      });
      ASSERT_NE(keeperId, 0u);
    }
    auto target = std::make_unique<Target>();
    // A call that starts, or is still running, after the Unsubscribe calls returned is late.
    const auto callback = [&lateCalls, &calls, raw = target.get()](const ProcessEvent&) {
      if (raw->Ended.load()) lateCalls.fetch_add(1);
      ++raw->Calls;
      calls.fetch_add(1);
      std::this_thread::sleep_for(std::chrono::microseconds(200));  // widen the window
      if (raw->Ended.load()) lateCalls.fetch_add(1);
    };
    const std::uint64_t start = service.Subscribe(ProcessEventKind::Start, callback);
    const std::uint64_t stop = service.Subscribe(ProcessEventKind::Stop, callback);
    ASSERT_NE(start, 0u);
    ASSERT_NE(stop, 0u);
    std::this_thread::sleep_for(std::chrono::microseconds(random() % 3000));
    service.Unsubscribe(start);
    service.Unsubscribe(stop);
    target->Ended.store(true);
    target.reset();  // a late call would touch freed memory
    if (keeperId != 0) service.Unsubscribe(keeperId);
  }
  EXPECT_EQ(lateCalls.load(), 0);
  EXPECT_GT(calls.load(), 0u) << "deliveries did race the unsubscriptions";
}

TEST(ProcessEventsRaceTest, UnsubscribeWaitsForACallbackRunningOnAnotherThread) {
  ProcessEventMonitor service(FastOptions());
  ProcessChurn churn;
  // Keeps the service running: the wait is the subscription's own, not the end of the threads.
  const std::uint64_t keeper = service.Subscribe(ProcessEventKind::Stop, [](const ProcessEvent&) {});
  ASSERT_NE(keeper, 0u);
  std::promise<void> entered;
  std::promise<void> release;
  std::shared_future<void> released = release.get_future().share();
  std::atomic<bool> first{true};
  std::atomic<bool> inside{false};
  const std::uint64_t id = service.Subscribe(ProcessEventKind::Start, [&](const ProcessEvent&) {
    if (!first.exchange(false)) return;
    inside.store(true);
    entered.set_value();
    released.wait();
    inside.store(false);
  });
  ASSERT_NE(id, 0u);
  entered.get_future().wait();
  std::atomic<bool> returned{false};
  std::thread unsubscriber([&] {
    service.Unsubscribe(id);
    returned.store(true);
    EXPECT_FALSE(inside.load()) << "returned while the callback ran";
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_FALSE(returned.load()) << "Unsubscribe did not wait for the running callback";
  release.set_value();
  unsubscriber.join();
  EXPECT_TRUE(returned.load());
  service.Unsubscribe(keeper);
}

TEST(ProcessEventsRaceTest, UnsubscribeFromInsideItsOwnCallbackReturnsAndEndsItsDeliveries) {
  for (const bool last : {true, false}) {
    SCOPED_TRACE(last ? "the last subscription" : "another subscription remains");
    ProcessEventMonitor service(FastOptions());
    ProcessChurn churn;
    std::uint64_t otherId = 0;
    if (!last) {
      otherId = service.Subscribe(ProcessEventKind::Stop, [](const ProcessEvent&) {});
      ASSERT_NE(otherId, 0u);
    }
    std::atomic<std::uint64_t> ownId{0};
    std::atomic<int> calls{0};
    std::promise<void> unsubscribed;
    const std::uint64_t id = service.Subscribe(ProcessEventKind::Start, [&](const ProcessEvent&) {
      const std::uint64_t self = ownId.load();
      if (self == 0) return;  // delivered before the test knew the id
      if (calls.fetch_add(1) == 0) {
        service.Unsubscribe(self);  // must return although this delivery is still running
        unsubscribed.set_value();
      }
    });
    ASSERT_NE(id, 0u);
    ownId.store(id);
    ASSERT_EQ(unsubscribed.get_future().wait_for(std::chrono::minutes(1)), std::future_status::ready);
    // More processes start; none reaches the callback any more.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(calls.load(), 1);
    if (otherId != 0) service.Unsubscribe(otherId);
  }
}

}  // namespace
