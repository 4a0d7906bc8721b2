// The event service's knowledge of running processes: which kernel reports
// and which scan results become starts and stops (duplicates, reused ids,
// late reports, zombies and the order of new processes).
#include <gtest/gtest.h>

#include <algorithm>

#include "platform/posix/events/known_processes.h"

namespace {

using platform::posix::KnownProcesses;
using platform::posix::ProcessEvent;
using platform::posix::ProcessEventKind;
using platform::posix::ProcInfo;

constexpr auto kStart = ProcessEventKind::Start;
constexpr auto kStop = ProcessEventKind::Stop;

ProcInfo Running(std::uint32_t id, std::uint32_t parent, std::uint64_t ticks, const char* name = "p") {
  ProcInfo info;
  info.Id = id;
  info.ParentId = parent;
  info.StartTicks = ticks;
  info.Name = name;
  return info;
}

ProcInfo Zombie(std::uint32_t id, std::uint32_t parent, std::uint64_t ticks) {
  ProcInfo info = Running(id, parent, ticks);
  info.Zombie = true;
  info.Exiting = true;
  return info;
}

ProcInfo Exiting(std::uint32_t id, std::uint32_t parent, std::uint64_t ticks) {
  ProcInfo info = Running(id, parent, ticks);
  info.Exiting = true;
  return info;
}

struct Expected {
  ProcessEventKind Kind;
  std::uint32_t Id;
  std::uint32_t Parent;
};

void ExpectEvents(const std::vector<ProcessEvent>& events, const std::vector<Expected>& expected) {
  ASSERT_EQ(events.size(), expected.size());
  for (std::size_t i = 0; i < events.size(); ++i) {
    EXPECT_EQ(events[i].Kind, expected[i].Kind) << i;
    EXPECT_EQ(events[i].ProcessId, expected[i].Id) << i;
    EXPECT_EQ(events[i].ParentProcessId, expected[i].Parent) << i;
  }
}

class KnownProcessesTest : public ::testing::Test {
 protected:
  void SetUp() override { mKnown.Reset({Running(1, 0, 5, "init"), Running(50, 1, 100, "shell"), Zombie(60, 1, 120)}); }

  KnownProcesses mKnown;
  std::vector<ProcessEvent> mEvents;
};

TEST_F(KnownProcessesTest, ResetKnowsTheRunningWithoutEventsAndLeavesZombiesOut) {
  EXPECT_EQ(mKnown.Size(), 2u);
  mKnown.Ended(60, 130, mEvents);
  ExpectEvents(mEvents, {});
}

TEST_F(KnownProcessesTest, KernelReportsBecomeStartsAndStopsOnce) {
  mKnown.Started(70, 50, 200, mEvents);
  mKnown.Started(70, 50, 200, mEvents);  // the same report again (read before and after a scan)
  mKnown.Started(70, 50, 201, mEvents);  // the same process, its start rounded the other way
  mKnown.Ended(70, 210, mEvents);
  mKnown.Ended(70, 210, mEvents);
  mKnown.Ended(71, 210, mEvents);  // never known
  ExpectEvents(mEvents, {{kStart, 70, 50}, {kStop, 70, 50}});
}

TEST_F(KnownProcessesTest, StopOfAProcessKnownFromTheScanCarriesItsParentAndName) {
  mKnown.Ended(50, 300, mEvents);
  ExpectEvents(mEvents, {{kStop, 50, 1}});
  EXPECT_EQ(mEvents[0].ProcessName, "shell");
}

TEST_F(KnownProcessesTest, ReusedIdEndsTheOldProcessFirstAndLateReportsAreIgnored) {
  mKnown.Started(50, 1, 400, mEvents);  // 50 started again: the old one has ended unseen
  mKnown.Ended(50, 150, mEvents);       // the old one's end, read late: not the new one's
  mKnown.Started(50, 1, 100, mEvents);  // the old one's start, read late
  ExpectEvents(mEvents, {{kStop, 50, 1}, {kStart, 50, 1}});
  mEvents.clear();
  mKnown.Ended(50, 450, mEvents);
  ExpectEvents(mEvents, {{kStop, 50, 1}});
}

TEST_F(KnownProcessesTest, ResyncStopsTheEndedAndStartsTheNewParentsFirst) {
  mKnown.Started(70, 50, 200, mEvents);
  mKnown.Started(71, 50, 201, mEvents);
  mKnown.Started(72, 50, 202, mEvents);
  mEvents.clear();
  // 70 is gone, 71 a zombie, 72 exiting, 50 replaced under its id; 90 started
  // before 80 (its parent, id wrapped), both unseen.
  mKnown.Resync({Running(1, 0, 5), Running(50, 1, 500), Zombie(71, 50, 201), Exiting(72, 50, 202),
                 Running(80, 90, 301), Running(90, 1, 300), Zombie(95, 1, 302)},
                mEvents);
  std::vector<ProcessEvent> stops(mEvents.begin(), mEvents.begin() + 4);
  std::sort(stops.begin(), stops.end(), [](const ProcessEvent& a, const ProcessEvent& b) { return a.ProcessId < b.ProcessId; });
  ExpectEvents(stops, {{kStop, 50, 1}, {kStop, 70, 50}, {kStop, 71, 50}, {kStop, 72, 50}});
  ExpectEvents(std::vector<ProcessEvent>(mEvents.begin() + 4, mEvents.end()),
               {{kStart, 90, 1}, {kStart, 80, 90}, {kStart, 50, 1}});
  // Nothing changed since: nothing to report.
  mEvents.clear();
  mKnown.Resync({Running(1, 0, 5), Running(50, 1, 500), Running(80, 90, 301), Running(90, 1, 300)}, mEvents);
  ExpectEvents(mEvents, {});
}

// The kernel's stamps and /proc's start times of one process differ by at
// most one tick, either way; two ticks apart they belong to two processes
// under one id. Shell 50 is known to have started at tick 100.
TEST_F(KnownProcessesTest, StartTimesWithinOneTickAreTheSameProcessAndTwoTicksApartAreNot) {
  using Report = void (*)(KnownProcesses&, std::vector<ProcessEvent>&);
  const std::vector<Expected> none;
  const std::vector<Expected> replaced = {{kStop, 50, 1}, {kStart, 50, 1}};
  const std::vector<Expected> ended = {{kStop, 50, 1}};
  const struct {
    const char* What;
    Report Apply;
    std::vector<Expected> Events;
  } cases[] = {
      {"start reported one tick later", [](KnownProcesses& k, auto& e) { k.Started(50, 1, 101, e); }, none},
      {"start reported two ticks later", [](KnownProcesses& k, auto& e) { k.Started(50, 1, 102, e); }, replaced},
      {"end reported one tick before the start", [](KnownProcesses& k, auto& e) { k.Ended(50, 99, e); }, ended},
      {"end reported two ticks before the start", [](KnownProcesses& k, auto& e) { k.Ended(50, 98, e); }, none},
      {"scanned one tick later", [](KnownProcesses& k, auto& e) { k.Resync({Running(1, 0, 5), Running(50, 1, 101)}, e); },
       none},
      {"scanned two ticks later", [](KnownProcesses& k, auto& e) { k.Resync({Running(1, 0, 5), Running(50, 1, 102)}, e); },
       replaced},
      {"scanned one tick earlier", [](KnownProcesses& k, auto& e) { k.Resync({Running(1, 0, 5), Running(50, 1, 99)}, e); },
       none},
      {"scanned two ticks earlier", [](KnownProcesses& k, auto& e) { k.Resync({Running(1, 0, 5), Running(50, 1, 98)}, e); },
       replaced},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.What);
    KnownProcesses known;
    known.Reset({Running(1, 0, 5, "init"), Running(50, 1, 100, "shell")});
    std::vector<ProcessEvent> events;
    c.Apply(known, events);
    ExpectEvents(events, c.Events);
  }
}

}  // namespace
