// The Linux process event service on the real kernel: starts and stops of
// real processes through the process connector (these tests run as root;
// without the right to listen they are skipped) and through /proc polling,
// a burst, an overflow of the kernel's queue, and the service's life.
#include <gtest/gtest.h>
#include <sched.h>
#include <signal.h>
#include <unistd.h>

#include <filesystem>
#include <condition_variable>
#include <mutex>
#include <set>

#include "platform/posix/events/process_connector.h"
#include "platform/posix/events/process_events.h"
#include "tests/platform/process_events_support.h"

namespace {

using events_test::Id;
using events_test::Recorder;
using platform::posix::ProcessEvent;
using platform::posix::ProcessEventKind;
using platform::posix::ProcessEventMonitor;
using platform::posix::ProcessEventMonitorOptions;
using platform::posix::ProcessEventOrigin;
using platform::posix::SourceProbe;

// A service reading the connector, or a skip where this process may not.
#define REQUIRE_CONNECTOR(service)                                                     \
  if ((service).Origin() != ProcessEventOrigin::Netlink) {                             \
    GTEST_SKIP() << "the process connector needs root or CAP_NET_ADMIN";               \
  }

std::size_t CountEntries(const char* folder) {
  return static_cast<std::size_t>(std::distance(std::filesystem::directory_iterator(folder),
                                                std::filesystem::directory_iterator()));
}

TEST(ProcessEventsTest, ConnectorSeesSpawnedChildStartWithItsParentAndItsStop) {
  ProcessEventMonitor service;
  Recorder recorder;
  ASSERT_TRUE(recorder.SubscribeTo(service));
  REQUIRE_CONNECTOR(service);

  // A thread of this process that starts and ends is no process of its own.
  std::thread([] {}).join();
  const pid_t child = events_test::RunShortProcess();
  ASSERT_GT(child, 0);
  ASSERT_TRUE(recorder.WaitFor([&] { return recorder.Stopped(Id(child)); }));
  recorder.UnsubscribeFrom(service);
  EXPECT_FALSE(recorder.Started(Id(getpid())));
  EXPECT_FALSE(recorder.Stopped(Id(getpid())));

  ASSERT_EQ(recorder.Starts(Id(child)).size(), 1u);
  EXPECT_EQ(recorder.Starts(Id(child))[0].ParentProcessId, Id(getpid()));
  ASSERT_EQ(recorder.Stops(Id(child)).size(), 1u);
  EXPECT_EQ(recorder.Stops(Id(child))[0].ParentProcessId, Id(getpid())) << "known from its start";
  for (std::thread::id thread : recorder.Threads()) EXPECT_NE(thread, std::this_thread::get_id());
}

TEST(ProcessEventsTest, ConnectorDeliversABurstOfFiveThousandShortProcesses) {
  SourceProbe probe;
  ProcessEventMonitorOptions options;
  options.Probe = &probe;
  ProcessEventMonitor service(options);
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
  EXPECT_EQ(probe.Resyncs.load(), 0u) << "the 8 MiB buffer held the burst";
}

TEST(ProcessEventsTest, AfterAnOverflowEveryStopOfAStartedProcessArrives) {
  ProcessEventMonitorOptions options;
  options.ReceiveBufferBytes = 1;  // the kernel's smallest: a handful of reports
  SourceProbe probe;
  options.Probe = &probe;
  ProcessEventMonitor service(options);
  Recorder recorder;
  ASSERT_TRUE(recorder.SubscribeTo(service));
  REQUIRE_CONNECTOR(service);

  // Long-lived children whose starts are delivered: each reads its input to the end.
  constexpr int kLongLived = 20;
  int release[2];
  ASSERT_EQ(pipe2(release, O_CLOEXEC), 0);
  std::vector<pid_t> longLived;
  for (int i = 0; i < kLongLived; ++i) {  // one at a time, so that the small queue keeps up
    const pid_t child = events_test::Spawn({"cat"}, release[0]);
    ASSERT_GT(child, 0);
    longLived.push_back(child);
    ASSERT_TRUE(recorder.WaitFor([&] { return recorder.Started(Id(child)); }));
  }
  close(release[0]);

  // While nothing is read, they end (half of them reaped, half left as
  // zombies) and a flood of short processes overflows the kernel's queue.
  probe.Stalled = true;
  close(release[1]);
  for (int i = 0; i < kLongLived / 2; ++i) events_test::Reap(longLived[i]);
  std::vector<std::uint32_t> flood;
  for (int i = 0; i < 300; ++i) flood.push_back(Id(events_test::RunShortProcess()));
  probe.Stalled = false;

  const bool allStopped = recorder.WaitFor([&] {
    return std::all_of(longLived.begin(), longLived.end(), [&](pid_t id) { return recorder.Stopped(Id(id)); });
  });
  recorder.UnsubscribeFrom(service);
  for (int i = kLongLived / 2; i < kLongLived; ++i) events_test::Reap(longLived[i]);

  EXPECT_GE(probe.Resyncs.load(), 1u) << "the queue did overflow";
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
  ProcessEventMonitorOptions options;
  options.ForcePolling = true;  // as where the connector is refused
  ProcessEventMonitor service(options);
  Recorder recorder;
  ASSERT_TRUE(recorder.SubscribeTo(service));
  ASSERT_EQ(service.Origin(), ProcessEventOrigin::Polling);

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

// A child that, on each byte it reads, forks a grandchild of 5 s and writes
// back its id; it ends when its pipe closes (its grandchildren go on).
class TreeRoot {
 public:
  TreeRoot() {
    int ask[2], answer[2];
    if (pipe(ask) != 0 || pipe(answer) != 0) return;
    mId = fork();
    if (mId == 0) {
      close(ask[1]);
      close(answer[0]);
      char byte;
      while (read(ask[0], &byte, 1) == 1) {
        const pid_t grandchild = fork();
        if (grandchild == 0) {
          sleep(5);
          _exit(0);
        }
        (void)!write(answer[1], &grandchild, sizeof grandchild);
      }
      _exit(0);
    }
    close(ask[0]);
    close(answer[1]);
    mAsk = ask[1];
    mAnswer = answer[0];
  }
  ~TreeRoot() {
    close(mAsk);
    close(mAnswer);
    if (mId > 0) events_test::Reap(mId);
    for (pid_t grandchild : mGrandchildren) kill(grandchild, SIGKILL);
  }
  TreeRoot(const TreeRoot&) = delete;
  TreeRoot& operator=(const TreeRoot&) = delete;

  pid_t Id() const { return mId; }
  pid_t StartGrandchild() {
    pid_t grandchild = 0;
    if (write(mAsk, "g", 1) != 1 || read(mAnswer, &grandchild, sizeof grandchild) != sizeof grandchild) return 0;
    mGrandchildren.push_back(grandchild);
    return grandchild;
  }

 private:
  pid_t mId = 0;
  int mAsk = -1;
  int mAnswer = -1;
  std::vector<pid_t> mGrandchildren;
};

// While a tree is left out, its processes come only through Report; a
// process outside it, started later, still comes from the source, and once
// the tree is no longer left out its processes come from the source again.
TEST(ProcessEventsTest, TheSourceLeavesOutATreeThatIsReportedFirstHand) {
  ProcessEventMonitorOptions options;
  options.ForcePolling = true;
  options.PollInterval = std::chrono::milliseconds(20);
  ProcessEventMonitor service(options);
  Recorder recorder;
  ASSERT_TRUE(recorder.SubscribeTo(service));
  TreeRoot root;
  ASSERT_GT(root.Id(), 0);

  service.LeaveOutTree(Id(root.Id()));
  const pid_t hidden = root.StartGrandchild();
  ASSERT_GT(hidden, 0);
  // Started after the hidden one and alive as long: any scan that shows it
  // shows the hidden one too.
  const pid_t outside = events_test::Spawn({"sleep", "5"});
  ASSERT_GT(outside, 0);
  ASSERT_TRUE(recorder.WaitFor([&] { return recorder.Started(Id(outside)); }));
  {
    // Read under the recorder's lock: the source has passed both.
    bool hiddenSeen = true;
    recorder.WaitFor([&] {
      hiddenSeen = recorder.Started(Id(hidden));
      return true;
    });
    EXPECT_FALSE(hiddenSeen) << "a process of the left-out tree came from the source";
  }

  service.EndLeaveOutTree(Id(root.Id()));
  const pid_t shown = root.StartGrandchild();
  ASSERT_GT(shown, 0);
  EXPECT_TRUE(recorder.WaitFor([&] { return recorder.Started(Id(shown)); }));
  recorder.UnsubscribeFrom(service);
  kill(outside, SIGKILL);
  events_test::Reap(outside);
}

// Reported events reach the subscribers in order; the delivery notice comes
// after they have had them, and at once from a service that is not running.
TEST(ProcessEventsTest, ReportedEventsAreDeliveredInOrderBeforeTheirNotice) {
  constexpr std::uint32_t kReported = 0x7FFFFF01u;  // beyond any real process id
  ProcessEventMonitor service;
  bool noticedAtOnce = false;
  service.Report({ProcessEvent{ProcessEventKind::Start, kReported, 1, "x"}}, [&] { noticedAtOnce = true; });
  EXPECT_TRUE(noticedAtOnce) << "not running: nobody to deliver to";

  Recorder recorder;
  ASSERT_TRUE(recorder.SubscribeTo(service));
  std::mutex mutex;
  std::condition_variable noticed;
  bool done = false;
  bool startSeen = false, stopSeen = false;
  service.Report({ProcessEvent{ProcessEventKind::Start, kReported, 1, "x"},
                  ProcessEvent{ProcessEventKind::Stop, kReported, 1, "x"}},
                 [&] {
                   // On the delivery thread, after the subscribers' calls.
                   recorder.WaitFor([&] {
                     startSeen = recorder.Started(kReported);
                     stopSeen = recorder.Stopped(kReported);
                     return true;
                   });
                   std::lock_guard<std::mutex> lock(mutex);
                   done = true;
                   noticed.notify_all();
                 });
  {
    std::unique_lock<std::mutex> lock(mutex);
    ASSERT_TRUE(noticed.wait_for(lock, std::chrono::minutes(1), [&] { return done; }));
  }
  recorder.UnsubscribeFrom(service);
  EXPECT_TRUE(startSeen);
  EXPECT_TRUE(stopSeen);
  ASSERT_EQ(recorder.Starts(kReported).size(), 1u);
  EXPECT_EQ(recorder.Starts(kReported)[0].ProcessName, "x");
  EXPECT_EQ(recorder.Stops(kReported).size(), 1u);
}

TEST(ProcessEventsTest, InAnotherPidNamespaceTheServicePolls) {
  // A grandchild in a new PID namespace (made as root; skipped where refused)
  // reports through its exit code what it sees. This process has no other
  // thread at this point, so the children may run ordinary code.
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    if (unshare(CLONE_NEWPID) != 0) _exit(10);
    const pid_t grandchild = fork();
    if (grandchild == 0) {
      if (platform::posix::SeesConnectorIds()) _exit(1);
      ProcessEventMonitor service;
      const std::uint64_t id = service.Subscribe(ProcessEventKind::Start, [](const ProcessEvent&) {});
      const bool polling = id != 0 && service.Origin() == ProcessEventOrigin::Polling;
      service.Unsubscribe(id);
      _exit(polling ? 0 : 2);
    }
    int status = 0;
    if (grandchild < 0 || waitpid(grandchild, &status, 0) != grandchild) _exit(11);
    _exit(WIFEXITED(status) ? WEXITSTATUS(status) : 12);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  if (WEXITSTATUS(status) == 10) GTEST_SKIP() << "no right to make a PID namespace";
  EXPECT_EQ(WEXITSTATUS(status), 0) << "1: ids taken as the connector's; 2: not polling";
  EXPECT_TRUE(platform::posix::SeesConnectorIds()) << "this process runs in the first namespace";
}

TEST(ProcessEventsTest, ServiceRunsOnlyWhileSubscribedAndDeliversOnlyTheKindAsked) {
  for (const bool polling : {false, true}) {
    SCOPED_TRACE(polling ? "polling" : "connector or its fallback");
    ProcessEventMonitorOptions options;
    options.ForcePolling = polling;
    options.PollInterval = std::chrono::milliseconds(50);
    ProcessEventMonitor service(options);
    const std::size_t threads = CountEntries("/proc/self/task");
    const std::size_t descriptors = CountEntries("/proc/self/fd");
    EXPECT_EQ(service.Origin(), ProcessEventOrigin::None);
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
    EXPECT_NE(service.Origin(), ProcessEventOrigin::None);
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
    EXPECT_EQ(service.Origin(), ProcessEventOrigin::None);
    EXPECT_EQ(CountEntries("/proc/self/task"), threads) << "threads joined";
    EXPECT_EQ(CountEntries("/proc/self/fd"), descriptors) << "socket and wake-up descriptor closed";
    std::lock_guard<std::mutex> lock(mutex);
    for (const ProcessEvent& event : stops) EXPECT_EQ(event.Kind, ProcessEventKind::Stop);
  }
}

TEST(ProcessEventsTest, ProcessWideServiceStartsAndStopsWithItsSubscriptions) {
  const std::size_t threads = CountEntries("/proc/self/task");
  std::atomic<int> calls{0};
  platform::posix::ProcessEvents& events = platform::posix::SystemProcessEvents();
  const std::uint64_t first =
      events.Subscribe(ProcessEventKind::Start, [&](const ProcessEvent&) { calls.fetch_add(1); });
  const std::uint64_t second =
      events.Subscribe(ProcessEventKind::Stop, [&](const ProcessEvent&) { calls.fetch_add(1); });
  ASSERT_NE(first, 0u);
  ASSERT_NE(second, 0u);
  EXPECT_NE(first, second);
  EXPECT_EQ(CountEntries("/proc/self/task"), threads + 2);
  events.Unsubscribe(first);
  EXPECT_EQ(CountEntries("/proc/self/task"), threads + 2) << "one subscription left";
  events.Unsubscribe(second);
  EXPECT_EQ(CountEntries("/proc/self/task"), threads);
}

}  // namespace
