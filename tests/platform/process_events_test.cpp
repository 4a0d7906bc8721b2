// The Linux process event service on the real kernel: starts and stops of
// real processes through the process connector (these tests run as root;
// without the right to listen they are skipped) and through /proc polling,
// a burst, an overflow of the kernel's queue, and the service's life.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <set>

#include "platform/posix/process_events.h"
#include "tests/platform/process_events_support.h"

namespace {

using events_test::Id;
using events_test::Recorder;
using platform::posix::ProcessEvent;
using platform::posix::ProcessEventKind;
using platform::posix::ProcessEventService;
using platform::posix::ProcessEventServiceOptions;
using platform::posix::ProcessEventSource;

// A service reading the connector, or a skip where this process may not.
#define REQUIRE_CONNECTOR(service)                                                     \
  if ((service).Source() != ProcessEventSource::Netlink) {                             \
    GTEST_SKIP() << "the process connector needs root or CAP_NET_ADMIN";               \
  }

std::size_t CountEntries(const char* folder) {
  return static_cast<std::size_t>(std::distance(std::filesystem::directory_iterator(folder),
                                                std::filesystem::directory_iterator()));
}

TEST(ProcessEventsTest, ConnectorSeesSpawnedChildStartWithItsParentAndItsStop) {
  ProcessEventService service;
  Recorder recorder;
  ASSERT_TRUE(recorder.SubscribeTo(service));
  REQUIRE_CONNECTOR(service);

  const pid_t child = events_test::RunShortProcess();
  ASSERT_GT(child, 0);
  ASSERT_TRUE(recorder.WaitFor([&] { return recorder.Stopped(Id(child)); }));
  recorder.UnsubscribeFrom(service);

  ASSERT_EQ(recorder.Starts(Id(child)).size(), 1u);
  EXPECT_EQ(recorder.Starts(Id(child))[0].ParentProcessId, Id(getpid()));
  ASSERT_EQ(recorder.Stops(Id(child)).size(), 1u);
  EXPECT_EQ(recorder.Stops(Id(child))[0].ParentProcessId, Id(getpid())) << "known from its start";
  for (std::thread::id thread : recorder.Threads()) EXPECT_NE(thread, std::this_thread::get_id());
}

TEST(ProcessEventsTest, ConnectorDeliversABurstOfFiveThousandShortProcesses) {
  ProcessEventService service;
  Recorder recorder;
  ASSERT_TRUE(recorder.SubscribeTo(service));
  REQUIRE_CONNECTOR(service);

  constexpr int kProcesses = 5000;
  std::vector<std::uint32_t> children;
  for (int i = 0; i < kProcesses; ++i) {
    const pid_t child = events_test::RunShortProcess();
    ASSERT_GT(child, 0);
    children.push_back(Id(child));
  }
  const bool all = recorder.WaitFor([&] {
    return std::all_of(children.begin(), children.end(),
                       [&](std::uint32_t id) { return recorder.Started(id) && recorder.Stopped(id); });
  });
  recorder.UnsubscribeFrom(service);
  EXPECT_TRUE(all);
  int lostStarts = 0, lostStops = 0, wrongParents = 0;
  for (std::uint32_t id : children) {
    lostStarts += recorder.Started(id) ? 0 : 1;
    lostStops += recorder.Stopped(id) ? 0 : 1;
    if (recorder.Started(id) && recorder.Starts(id).front().ParentProcessId != Id(getpid())) ++wrongParents;
    EXPECT_LE(recorder.Starts(id).size(), 1u) << id;
    EXPECT_LE(recorder.Stops(id).size(), 1u) << id;
  }
  EXPECT_EQ(lostStarts, 0);
  EXPECT_EQ(lostStops, 0);
  EXPECT_EQ(wrongParents, 0);
  EXPECT_EQ(service.ResyncCountForTesting(), 0u) << "the 8 MiB buffer held the burst";
}

TEST(ProcessEventsTest, AfterAnOverflowEveryStopOfAStartedProcessArrives) {
  ProcessEventServiceOptions options;
  options.ReceiveBufferBytes = 1;  // the kernel's smallest: a handful of reports
  ProcessEventService service(options);
  Recorder recorder;
  ASSERT_TRUE(recorder.SubscribeTo(service));
  REQUIRE_CONNECTOR(service);

  // Long-lived children whose starts are delivered: each reads its input to the end.
  constexpr int kLongLived = 20;
  int release[2];
  ASSERT_EQ(pipe2(release, O_CLOEXEC), 0);
  std::vector<pid_t> longLived;
  for (int i = 0; i < kLongLived; ++i) {
    const pid_t child = events_test::Spawn({"cat"}, release[0]);
    ASSERT_GT(child, 0);
    longLived.push_back(child);
  }
  close(release[0]);
  ASSERT_TRUE(recorder.WaitFor([&] {
    return std::all_of(longLived.begin(), longLived.end(), [&](pid_t id) { return recorder.Started(Id(id)); });
  }));

  // While nothing is read, they end (half of them reaped, half left as
  // zombies) and a flood of short processes overflows the kernel's queue.
  service.StallSourceForTesting(true);
  close(release[1]);
  for (int i = 0; i < kLongLived / 2; ++i) events_test::Reap(longLived[i]);
  std::vector<std::uint32_t> flood;
  for (int i = 0; i < 300; ++i) flood.push_back(Id(events_test::RunShortProcess()));
  service.StallSourceForTesting(false);

  const bool allStopped = recorder.WaitFor([&] {
    return std::all_of(longLived.begin(), longLived.end(), [&](pid_t id) { return recorder.Stopped(Id(id)); });
  });
  recorder.UnsubscribeFrom(service);
  for (int i = kLongLived / 2; i < kLongLived; ++i) events_test::Reap(longLived[i]);

  EXPECT_GE(service.ResyncCountForTesting(), 1u) << "the queue did overflow";
  EXPECT_TRUE(allStopped);
  for (pid_t id : longLived) {
    EXPECT_EQ(recorder.Stops(Id(id)).size(), 1u) << id;
  }
  // Of the flood, some starts were lost with the overflow; each delivered one has its stop.
  for (std::uint32_t id : flood) {
    EXPECT_TRUE(!recorder.Started(id) || recorder.Stopped(id)) << id;
  }
}

TEST(ProcessEventsTest, PollingSeesEveryProcessThatLivesAcrossTwoScans) {
  ProcessEventServiceOptions options;
  options.ForcePolling = true;  // as where the connector is refused
  ProcessEventService service(options);
  Recorder recorder;
  ASSERT_TRUE(recorder.SubscribeTo(service));
  ASSERT_EQ(service.Source(), ProcessEventSource::Polling);

  // Each lives 0.6 s, more than two of the 200 ms intervals. None is reaped
  // before its stop arrives: a zombie has ended.
  std::vector<pid_t> children;
  for (int i = 0; i < 8; ++i) {
    const pid_t child = events_test::Spawn({"sleep", "0.6"});
    ASSERT_GT(child, 0);
    children.push_back(child);
  }
  const bool all = recorder.WaitFor([&] {
    return std::all_of(children.begin(), children.end(),
                       [&](pid_t id) { return recorder.Started(Id(id)) && recorder.Stopped(Id(id)); });
  });
  recorder.UnsubscribeFrom(service);
  for (pid_t child : children) events_test::Reap(child);

  EXPECT_TRUE(all);
  for (pid_t child : children) {
    ASSERT_EQ(recorder.Starts(Id(child)).size(), 1u) << child;
    ASSERT_EQ(recorder.Stops(Id(child)).size(), 1u) << child;
    const ProcessEvent& start = recorder.Starts(Id(child))[0];
    EXPECT_EQ(start.ParentProcessId, Id(getpid()));
    EXPECT_EQ(start.ProcessName, "sleep");
    EXPECT_EQ(recorder.Stops(Id(child))[0].ParentProcessId, Id(getpid()));
    EXPECT_EQ(recorder.Stops(Id(child))[0].ProcessName, "sleep");
  }
}

TEST(ProcessEventsTest, ServiceRunsOnlyWhileSubscribedAndDeliversOnlyTheKindAsked) {
  for (const bool polling : {false, true}) {
    SCOPED_TRACE(polling ? "polling" : "connector or its fallback");
    ProcessEventServiceOptions options;
    options.ForcePolling = polling;
    options.PollInterval = std::chrono::milliseconds(50);
    ProcessEventService service(options);
    const std::size_t threads = CountEntries("/proc/self/task");
    const std::size_t descriptors = CountEntries("/proc/self/fd");
    EXPECT_EQ(service.Source(), ProcessEventSource::None);
    EXPECT_EQ(service.Subscribe(ProcessEventKind::Start, nullptr), 0u) << "no callback, no subscription";
    EXPECT_EQ(CountEntries("/proc/self/task"), threads) << "nothing runs before a subscription";

    std::vector<ProcessEvent> stops;
    std::mutex mutex;
    std::condition_variable changed;
    const std::uint64_t id = service.Subscribe(ProcessEventKind::Stop, [&](const ProcessEvent& event) {
      std::lock_guard<std::mutex> lock(mutex);
      stops.push_back(event);
      changed.notify_all();
    });
    ASSERT_NE(id, 0u);
    EXPECT_NE(service.Source(), ProcessEventSource::None);
    EXPECT_EQ(CountEntries("/proc/self/task"), threads + 2) << "a source and a delivery thread";

    const pid_t child = events_test::Spawn({"sleep", "0.3"});
    ASSERT_GT(child, 0);
    events_test::Reap(child);
    {
      std::unique_lock<std::mutex> lock(mutex);
      EXPECT_TRUE(changed.wait_for(lock, std::chrono::minutes(1), [&] {
        return std::any_of(stops.begin(), stops.end(), [&](const ProcessEvent& e) { return e.ProcessId == Id(child); });
      }));
    }
    service.Unsubscribe(id);
    service.Unsubscribe(id);  // a second time: ignored
    service.Unsubscribe(12345);
    EXPECT_EQ(service.Source(), ProcessEventSource::None);
    EXPECT_EQ(CountEntries("/proc/self/task"), threads) << "threads joined";
    EXPECT_EQ(CountEntries("/proc/self/fd"), descriptors) << "socket and wake-up descriptor closed";
    std::lock_guard<std::mutex> lock(mutex);
    for (const ProcessEvent& event : stops) EXPECT_EQ(event.Kind, ProcessEventKind::Stop);
  }
}

TEST(ProcessEventsTest, ProcessWideServiceStartsAndStopsWithItsSubscriptions) {
  const std::size_t threads = CountEntries("/proc/self/task");
  std::atomic<int> calls{0};
  const std::uint64_t first = platform::posix::SubscribeProcessEvents(
      ProcessEventKind::Start, [&](const ProcessEvent&) { calls.fetch_add(1); });
  const std::uint64_t second = platform::posix::SubscribeProcessEvents(
      ProcessEventKind::Stop, [&](const ProcessEvent&) { calls.fetch_add(1); });
  ASSERT_NE(first, 0u);
  ASSERT_NE(second, 0u);
  EXPECT_NE(first, second);
  EXPECT_EQ(CountEntries("/proc/self/task"), threads + 2);
  platform::posix::UnsubscribeProcessEvents(first);
  EXPECT_EQ(CountEntries("/proc/self/task"), threads + 2) << "one subscription left";
  platform::posix::UnsubscribeProcessEvents(second);
  EXPECT_EQ(CountEntries("/proc/self/task"), threads);
}

}  // namespace
