// A member of a followed tree, opened by its id, runs until the tree helper's
// report of its stop has been delivered to the event service's subscribers:
// only then have the orphans it left behind been reported, so a probe of it
// can never end a tree wait before them.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "platform/posix/events/process_events.h"
#include "platform/posix/tree/followed_launch.h"
#include "platform/process.h"

namespace {

using platform::posix::ProcessEvent;
using platform::posix::ProcessEventKind;

// Takes the helper's reports and holds their deliveries until told.
class HeldReports final : public platform::posix::ProcessEvents {
 public:
  std::uint64_t Subscribe(ProcessEventKind, platform::posix::ProcessEventCallback) override { return 1; }
  void Unsubscribe(std::uint64_t) override {}
  platform::posix::ProcessEventOrigin Origin() const override { return platform::posix::ProcessEventOrigin::None; }
  void Report(std::vector<ProcessEvent> events, std::function<void()> delivered) override {
    std::lock_guard<std::mutex> lock(mMutex);
    mEvents.insert(mEvents.end(), events.begin(), events.end());
    if (delivered) mHeld.push_back(std::move(delivered));
    mChanged.notify_all();
  }
  void LeaveOutTree(std::uint32_t) override {}
  void EndLeaveOutTree(std::uint32_t) override {
    std::lock_guard<std::mutex> lock(mMutex);
    mHelperDone = true;
    mChanged.notify_all();
  }

  // The first process reported started, once there is one.
  std::uint32_t FirstStart() {
    std::uint32_t id = 0;
    Await([&] {
      for (const ProcessEvent& e : mEvents)
        if (e.Kind == ProcessEventKind::Start) return (id = e.ProcessId) != 0;
      return false;
    });
    return id;
  }
  bool AwaitStop(std::uint32_t id) {
    return Await([&] {
      for (const ProcessEvent& e : mEvents)
        if (e.Kind == ProcessEventKind::Stop && e.ProcessId == id) return true;
      return false;
    });
  }
  bool AwaitHelperDone() {
    return Await([&] { return mHelperDone; });
  }
  // Delivers everything reported so far.
  void DeliverAll() {
    std::vector<std::function<void()>> held;
    {
      std::lock_guard<std::mutex> lock(mMutex);
      held.swap(mHeld);
    }
    for (const auto& delivered : held) delivered();
  }

 private:
  // Against hanging only: the helper reports within milliseconds.
  bool Await(const std::function<bool()>& condition) {
    std::unique_lock<std::mutex> lock(mMutex);
    return mChanged.wait_for(lock, std::chrono::seconds(30), condition);
  }

  std::mutex mMutex;
  std::condition_variable mChanged;
  std::vector<ProcessEvent> mEvents;
  std::vector<std::function<void()>> mHeld;
  bool mHelperDone = false;
};

TEST(FollowedMember, RunsUntilItsStopHasBeenDeliveredThenIsGone) {
  const std::string helper = platform::posix::TreeHelperPath();
  ASSERT_FALSE(helper.empty()) << "the tree helper is built beside the tests";
  HeldReports reports;
  platform::posix::ScopedProcessEventsForTesting scope(reports);
  platform::ProcessServices& processes = platform::CurrentProcesses();

  // The shell starts one child, long enough for the helper to see it, and
  // waits for it.
  platform::posix::FollowedLaunch launched;
  ASSERT_TRUE(platform::posix::LaunchFollowed(helper, "", {"/bin/sh", "-c", "sleep 0.6 & wait"}, launched));
  const std::uint32_t child = reports.FirstStart();
  ASSERT_NE(child, 0u);
  ASSERT_TRUE(reports.AwaitStop(child)) << "the child ended and the helper reported it";

  // Its stop is reported but not delivered: to the tree it still runs.
  platform::Handle opened = processes.OpenProcessById(child);
  ASSERT_NE(opened, nullptr);
  EXPECT_EQ(processes.Wait(opened, 0), platform::kWaitTimeout);
  EXPECT_EQ(processes.Wait(opened, 30), platform::kWaitTimeout) << "a wait with a time limit too";
  std::uint64_t startedAt = 1;
  EXPECT_TRUE(processes.ProcessStartTime(opened, &startedAt));
  EXPECT_EQ(startedAt, 0u) << "it counts as the member that joined";

  // Delivered: it has ended, and once let go it cannot be opened again.
  reports.DeliverAll();
  EXPECT_EQ(processes.Wait(opened, 0), platform::kWaitObject0);
  processes.CloseHandle(opened);
  EXPECT_EQ(processes.OpenProcessById(child), nullptr);

  // The run ends with the shell's delivered stop; the helper's reader lets the
  // event service go before this test's service does.
  ASSERT_TRUE(reports.AwaitStop(static_cast<std::uint32_t>(launched.Pid)));
  reports.DeliverAll();
  ASSERT_TRUE(reports.AwaitHelperDone());
}

}  // namespace
