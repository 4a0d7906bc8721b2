// The process tracker driven by scripted events and process services: the
// start handler's decision table, the stop handler, the finished test, the
// launch, and the handlers' silence once destruction has begun.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <set>
#include <thread>

#include "process/process_engine.h"
#include "tests/support/fake_event_properties.h"
#include "tests/support/service_fakes.h"

namespace {

using Ids = common::ProcessIdSet;
using Sets = ProcessEngine::IdSets;

constexpr std::uint32_t kRoot = 100;

class ProcessEngineTest : public ServiceFakesTest {
 protected:
  ProcessEngineTest() {
    DebugConsoleInstance(true);
    mProcesses.LaunchedId = kRoot;
  }

  // The trace lines written since the last call, without their line feeds.
  Lines TakeLines() {
    Lines lines = Trace(mSeen);
    mSeen += lines.size();
    return lines;
  }
  // The process services' calls since the last call.
  Lines TakeCalls() {
    const Lines calls = mProcesses.Snapshot().Calls;
    Lines out(calls.begin() + static_cast<std::ptrdiff_t>(mCallsSeen), calls.end());
    mCallsSeen = calls.size();
    return out;
  }

  void Launch(std::uint32_t id = kRoot) {
    mProcesses.LaunchedId = id;
    ASSERT_TRUE(mTracker->LaunchProcess(mRequest));
  }
  void Start(std::uint32_t parent, std::uint32_t id) {
    FakeEventProperties event = StartEvent(parent, id);
    mTracker->OnProcessStart(event);
  }
  void Stop(std::uint32_t id) {
    FakeEventProperties event = StopEvent(id);
    mTracker->OnProcessStop(event);
  }
  // Drops the lines and calls made so far.
  void Settle() {
    TakeLines();
    TakeCalls();
  }

  ExeParameter mRequest = InstallerRequest();
  std::unique_ptr<ProcessEngine> mTracker = std::make_unique<ProcessEngine>();
  std::size_t mSeen = 0;
  std::size_t mCallsSeen = 0;
};

// One row of the start handler's table: how the state is reached, the event,
// the lines after "System Create PPID = " and the sets afterwards.
struct StartRow {
  const char* Name;
  void (*Prepare)(ProcessEngineTest&);
  std::uint32_t Parent;
  std::uint32_t Id;
  Lines After;
  Sets Expected;
};

}  // namespace

// Friend-free access to the fixture's helpers for the table's set-ups.
class StartTableTest : public ProcessEngineTest {
 public:
  void DoLaunch(std::uint32_t id = kRoot) { Launch(id); }
  void DoStart(std::uint32_t parent, std::uint32_t id) { Start(parent, id); }
  void DoStop(std::uint32_t id) { Stop(id); }
  void Run(const StartRow& row) {
    SCOPED_TRACE(row.Name);
    row.Prepare(*this);
    Settle();
    FakeEventProperties event = StartEvent(row.Parent, row.Id);
    mTracker->OnProcessStart(event);
    Lines expected{"====Enter ProcCreateIndicate====", "System Create PPID = " + std::to_string(row.Parent)};
    expected.insert(expected.end(), row.After.begin(), row.After.end());
    expected.push_back("====Leave ProcCreateIndicate====");
    EXPECT_EQ(TakeLines(), expected);
    EXPECT_EQ(mTracker->SetsForTesting(), row.Expected);
    // Once a launch has begun, the id of a start outside the tree is read too
    // (it is remembered in case its parent joins later).
    const bool launched = !row.Expected.PIDSet.empty();
    if (launched) {
      EXPECT_EQ(event.Log(), (Lines{"Read ParentProcessId", "Read ProcessId", "Release ProcessId",
                                    "Release ParentProcessId"}))
          << "the new id's variant goes before the parent's";
    } else {
      EXPECT_EQ(event.Log(), (Lines{"Read ParentProcessId", "Release ParentProcessId"}))
          << "before any launch the new process's id is not read";
    }
    mTracker = std::make_unique<ProcessEngine>();
  }
};

TEST_F(StartTableTest, EveryRowOfTheStartHandlersDecisionTable) {
  auto launched = [](ProcessEngineTest& t) { static_cast<StartTableTest&>(t).DoLaunch(); };
  // The launched process and two descendants: three monitored ids.
  auto threeMonitored = [](ProcessEngineTest& t) {
    auto& s = static_cast<StartTableTest&>(t);
    s.DoLaunch();
    s.DoStart(kRoot, 101);
    s.DoStart(kRoot, 102);
  };
  // The launched process and three descendants: the monitored set is full.
  auto fourMonitored = [](ProcessEngineTest& t) {
    auto& s = static_cast<StartTableTest&>(t);
    s.DoLaunch();
    s.DoStart(kRoot, 101);
    s.DoStart(101, 102);
    s.DoStart(102, 103);
  };
  const StartRow rows[] = {
      {"before any launch", [](ProcessEngineTest&) {}, 7, 200, {}, Sets{}},
      {"parent outside the tree", launched, 7, 200, {}, Sets{{100}, {}, {}, {100}}},
      {"id already in the tree", [](ProcessEngineTest& t) {
         auto& s = static_cast<StartTableTest&>(t);
         s.DoLaunch();
         s.DoStart(kRoot, 200);
       },
       kRoot, 200, {"System Create PID = 200"}, Sets{{100, 200}, {}, {}, {100, 200}}},
      {"new id, one monitored", launched, kRoot, 200, {"System Create PID = 200", "Create PID = 200"},
       Sets{{100, 200}, {}, {}, {100, 200}}},
      {"new id, three monitored", threeMonitored, 102, 200, {"System Create PID = 200", "Create PID = 200"},
       Sets{{100, 101, 102, 200}, {}, {}, {100, 101, 102, 200}}},
      {"new id, four monitored", fourMonitored, 103, 200, {"System Create PID = 200", "Create PID = 200"},
       Sets{{100, 101, 102, 103, 200}, {}, {}, {100, 101, 102, 103}}},
      {"stopped earlier, one monitored", [](ProcessEngineTest& t) {
         auto& s = static_cast<StartTableTest&>(t);
         s.DoLaunch();
         s.DoStop(200);
       },
       kRoot, 200, {"System Create PID = 200", "Delete PID = 200", "Create PID = 200"},
       Sets{{100, 200}, {}, {200}, {100, 200}}},
      {"stopped earlier, four monitored", [](ProcessEngineTest& t) {
         auto& s = static_cast<StartTableTest&>(t);
         s.DoLaunch();
         s.DoStop(200);
         s.DoStart(kRoot, 101);
         s.DoStart(kRoot, 102);
         s.DoStart(kRoot, 103);
       },
       101, 200, {"System Create PID = 200", "Delete PID = 200", "Create PID = 200"},
       Sets{{100, 101, 102, 103, 200}, {}, {200}, {100, 101, 102, 103}}},
      // An id cannot be in the tree and wait as an untracked stop at once:
      // the launch takes the launched id's early stop as its stop.
      {"stopped before its launch was recorded", [](ProcessEngineTest& t) {
         auto& s = static_cast<StartTableTest&>(t);
         s.DoStop(kRoot);
         s.DoLaunch();
       },
       kRoot, kRoot, {"System Create PID = 100"}, Sets{{100}, {}, {100}, {100}}},
  };
  for (const StartRow& row : rows) Run(row);
}

TEST_F(ProcessEngineTest, StopHandlerRecordsMembersAndKeepsOtherStopsAside) {
  Launch();
  Start(kRoot, 200);
  Settle();
  FakeEventProperties member = StopEvent(200);
  mTracker->OnProcessStop(member);
  EXPECT_EQ(TakeLines(), (Lines{"====Enter ProcDeleteIndicate====", "System Delete PID = 200", "Delete PID = 200",
                                "====Leave ProcDeleteIndicate===="}));
  EXPECT_EQ(member.Log(), (Lines{"Read ProcessId", "Release ProcessId"}));
  Stop(300);
  EXPECT_EQ(TakeLines(), (Lines{"====Enter ProcDeleteIndicate====", "System Delete PID = 300", "Tmp Delete PID = 300",
                                "====Leave ProcDeleteIndicate===="}));
  EXPECT_EQ(mTracker->SetsForTesting(), (Sets{{100, 200}, {300}, {200}, {100, 200}}));
}

TEST_F(ProcessEngineTest, PropertiesThatCannotBeReadChangeNothing) {
  Launch();
  Settle();
  const Sets before = mTracker->SetsForTesting();

  FakeEventProperties noParent;
  noParent.Set(process::kProcessIdProperty, 200);
  mTracker->OnProcessStart(noParent);
  EXPECT_EQ(TakeLines(), (Lines{"====Enter ProcCreateIndicate====", "====Leave ProcCreateIndicate===="}));
  EXPECT_EQ(noParent.Log(), (Lines{"Read ParentProcessId", "Release ParentProcessId"}));

  FakeEventProperties noId;
  noId.Set(process::kParentProcessIdProperty, kRoot);
  mTracker->OnProcessStart(noId);
  EXPECT_EQ(TakeLines(), (Lines{"====Enter ProcCreateIndicate====", "System Create PPID = 100",
                                "====Leave ProcCreateIndicate===="}));
  EXPECT_EQ(noId.Log(), (Lines{"Read ParentProcessId", "Read ProcessId", "Release ProcessId", "Release ParentProcessId"}));

  FakeEventProperties noStopId;
  mTracker->OnProcessStop(noStopId);
  EXPECT_EQ(TakeLines(), (Lines{"====Enter ProcDeleteIndicate====", "====Leave ProcDeleteIndicate===="}));
  EXPECT_EQ(noStopId.Log(), (Lines{"Read ProcessId", "Release ProcessId"}));

  EXPECT_EQ(mTracker->SetsForTesting(), before);
}

TEST_F(ProcessEngineTest, IdsAboveTheSignedRangeAreKeptAndWrittenAsNegativeNumbers) {
  Launch();
  Start(kRoot, 0xFFFFFFFFu);
  Stop(0xFFFFFFFEu);
  EXPECT_EQ(mTracker->SetsForTesting(), (Sets{{-1, 100}, {-2}, {}, {-1, 100}}));
  const Lines lines = TakeLines();
  EXPECT_NE(std::find(lines.begin(), lines.end(), "Create PID = -1"), lines.end());
  EXPECT_NE(std::find(lines.begin(), lines.end(), "Tmp Delete PID = -2"), lines.end());
}

TEST_F(ProcessEngineTest, LaunchRecordsTheRootAndReleasesComEitherWay) {
  EXPECT_EQ(mTracker->GetProcessHandle(), nullptr);
  Launch();
  const FakeProcesses::Record record = mProcesses.Snapshot();
  EXPECT_EQ(record.Calls, (Lines{"Launch", "ProcessIdOf"}));
  EXPECT_EQ(record.Launched.File, mRequest.FileName);
  EXPECT_EQ(record.Launched.Parameters, u"/r:NVKM");
  EXPECT_EQ(record.Launched.Directory, kFolder);
  EXPECT_EQ(record.Launched.ShowCommand, 1);
  EXPECT_EQ(mTracker->GetProcessHandle(), record.Issued.at(0));
  EXPECT_EQ(TakeLines(), Lines{"this->mPIDSet.insert(dwId) = 100"});
  EXPECT_EQ(mTracker->SetsForTesting(), (Sets{{100}, {}, {}, {100}}));
  EXPECT_EQ(mCom.CallsOn(std::this_thread::get_id()), (Lines{"CoInitializeEx 6", "CoUninitialize"}));
  EXPECT_TRUE(record.Closes.empty()) << "the tracker never closes the launch handle";
}

TEST_F(ProcessEngineTest, FailedLaunchRecordsAndTracesNothing) {
  mProcesses.LaunchSucceeds = false;
  Stop(5);
  Settle();
  EXPECT_FALSE(mTracker->LaunchProcess(mRequest));
  EXPECT_EQ(mTracker->GetProcessHandle(), nullptr);
  EXPECT_TRUE(TakeLines().empty());
  EXPECT_EQ(mTracker->SetsForTesting(), (Sets{{}, {5}, {}, {}}));
  EXPECT_EQ(mCom.CallsOn(std::this_thread::get_id()), (Lines{"CoInitializeEx 6", "CoUninitialize"}));
}

TEST_F(ProcessEngineTest, LaunchWithoutHandleRecordsIdZero) {
  mProcesses.LaunchGivesHandle = false;
  EXPECT_TRUE(mTracker->LaunchProcess(mRequest));
  EXPECT_EQ(mTracker->GetProcessHandle(), nullptr);
  EXPECT_EQ(TakeLines(), Lines{"this->mPIDSet.insert(dwId) = 0"});
  EXPECT_EQ(mTracker->SetsForTesting(), (Sets{{0}, {}, {}, {0}}));
}

TEST_F(ProcessEngineTest, FreshAndClearedTrackersReportFinished) {
  EXPECT_TRUE(mTracker->IsProcessTreeFinished());
  EXPECT_TRUE(TakeCalls().empty()) << "nothing launched: nothing to ask";
  Launch();
  Start(kRoot, 200);
  Stop(200);
  Stop(300);
  EXPECT_EQ(mTracker->SetsForTesting(), (Sets{{100, 200}, {300}, {200}, {100, 200}}));
  mTracker->ClearPIDSets();
  EXPECT_EQ(mTracker->SetsForTesting(), Sets{});
  Settle();
  EXPECT_TRUE(mTracker->IsProcessTreeFinished());
  EXPECT_TRUE(TakeLines().empty());
  EXPECT_EQ(TakeCalls(), Lines{"Wait 0"}) << "only the launched process's own handle is asked";
}

// The processes that still run, as the fake's waits and opens see them.
class RunningSet {
 public:
  explicit RunningSet(FakeProcesses& processes, std::set<platform::ProcessId> running) : mRunning(std::move(running)) {
    processes.RunningId = [this](platform::ProcessId id) { return Has(id); };
    processes.OpenableId = [this](platform::ProcessId id) { return Has(id) || mOpenableEnded.count(id) != 0; };
  }
  void End(platform::ProcessId id) {
    std::lock_guard<std::mutex> lock(mMutex);
    mRunning.erase(id);
  }
  // Ended, but still opened (a handle that is already signalled).
  void EndButStayOpenable(platform::ProcessId id) {
    std::lock_guard<std::mutex> lock(mMutex);
    mRunning.erase(id);
    mOpenableEnded.insert(id);
  }

 private:
  bool Has(platform::ProcessId id) {
    std::lock_guard<std::mutex> lock(mMutex);
    return mRunning.count(id) != 0;
  }
  std::mutex mMutex;
  std::set<platform::ProcessId> mRunning;
  std::set<platform::ProcessId> mOpenableEnded;
};

TEST_F(ProcessEngineTest, WhileTheLaunchedProcessRunsTheTreeIsNotFinished) {
  RunningSet running(mProcesses, {kRoot});
  Launch();
  Settle();
  // Without notifications, and with every stop recorded: its own handle decides.
  EXPECT_FALSE(mTracker->IsProcessTreeFinished());
  EXPECT_TRUE(TakeLines().empty());
  EXPECT_EQ(TakeCalls(), Lines{"Wait 0"});
  Stop(kRoot);
  Settle();
  EXPECT_FALSE(mTracker->IsProcessTreeFinished()) << "a recorded stop does not outweigh a running process";
  // Three helpers came and went; the installer itself still works.
  Start(kRoot, 201);
  Start(kRoot, 202);
  Start(kRoot, 203);
  for (std::uint32_t id : {201u, 202u, 203u}) Stop(id);
  Settle();
  EXPECT_FALSE(mTracker->IsProcessTreeFinished());
  EXPECT_EQ(TakeCalls(), Lines{"Wait 0"});
  running.End(kRoot);
  EXPECT_TRUE(mTracker->IsProcessTreeFinished());
}

TEST_F(ProcessEngineTest, WithoutNotificationsAnEndedLaunchStillNeverFinishes) {
  Launch();
  Settle();
  for (int pass = 0; pass < 3; ++pass) {
    EXPECT_FALSE(mTracker->IsProcessTreeFinished());
    EXPECT_EQ(TakeLines(), Lines{"this->mLimitMonitorPID.size() < 2"});
  }
  EXPECT_EQ(TakeCalls(), (Lines{"Wait 0", "Wait 0", "Wait 0"})) << "nothing is opened";
}

TEST_F(ProcessEngineTest, StopOfTheLaunchedProcessAloneFinishesWithoutProbing) {
  Launch();
  Stop(kRoot);
  Settle();
  EXPECT_TRUE(mTracker->IsProcessTreeFinished());
  EXPECT_TRUE(TakeLines().empty());
  EXPECT_EQ(TakeCalls(), Lines{"Wait 0"});
}

TEST_F(ProcessEngineTest, EveryMemberWithoutAStopIsProbedNotOnlyTheMonitoredOnes) {
  struct Case {
    const char* Name;
    std::set<platform::ProcessId> Running;  // the launched process 300 has ended in every case
    std::set<platform::ProcessId> OpenableEnded;
    std::uint64_t StartOf204;
    bool Finished;
    Lines Probes;
  };
  // Launched 300; descendants 201 < 202 < 203 < 204, joined at process clock
  // 1000; 202 has stopped. 204 is beyond the monitored four.
  const Case cases[] = {
      {"first member alive", {201}, {}, 0, false, {"Open 201", "Wait 0", "StartTime 201", "Close opened 1"}},
      {"a stopped member is not asked", {202}, {}, 0, true,
       {"Open 201", "Open 203", "Open 204"}},
      {"only the unmonitored member alive", {204}, {}, 0, false,
       {"Open 201", "Open 203", "Open 204", "Wait 0", "StartTime 204", "Close opened 3"}},
      {"an opened handle that is already signalled", {}, {204}, 0, true,
       {"Open 201", "Open 203", "Open 204", "Wait 0", "Close opened 3"}},
      {"its id taken by a process that started after it joined", {204}, {}, 1001, true,
       {"Open 201", "Open 203", "Open 204", "Wait 0", "StartTime 204", "Close opened 3"}},
      {"a process that started when it joined", {204}, {}, 1000, false,
       {"Open 201", "Open 203", "Open 204", "Wait 0", "StartTime 204", "Close opened 3"}},
      {"nothing alive", {}, {}, 0, true, {"Open 201", "Open 203", "Open 204"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    FakeProcesses processes;
    processes.LaunchedId = 300;
    RunningSet running(processes, c.Running);
    for (platform::ProcessId id : c.OpenableEnded) running.EndButStayOpenable(id);
    processes.StartTimeOfId = [&c](platform::ProcessId id) { return id == 204 ? c.StartOf204 : 0u; };
    ProcessEngine tracker;
    ASSERT_TRUE(tracker.LaunchProcess(mRequest));
    for (std::uint32_t id : {201u, 202u, 203u, 204u}) {
      FakeEventProperties start = StartEvent(300, id);
      tracker.OnProcessStart(start);
    }
    FakeEventProperties stop = StopEvent(202);
    tracker.OnProcessStop(stop);
    TakeLines();
    const std::size_t before = processes.Snapshot().Calls.size();
    EXPECT_EQ(tracker.IsProcessTreeFinished(), c.Finished);
    const Lines calls = processes.Snapshot().Calls;
    Lines expected{"Wait 0"};  // the launched process, through its own handle
    expected.insert(expected.end(), c.Probes.begin(), c.Probes.end());
    EXPECT_EQ(Lines(calls.begin() + static_cast<std::ptrdiff_t>(before), calls.end()), expected);
    EXPECT_EQ(TakeLines(), (Lines{"this->mLimitMonitorPID[0] = 201", "this->mLimitMonitorPID[1] = 202",
                                  "this->mLimitMonitorPID[2] = 203", "this->mLimitMonitorPID[3] = 300"}))
        << "every monitored id, after the probes, whatever they found";
    tracker.ClearPIDSets();
    processes.CloseHandle(tracker.GetProcessHandle());
    EXPECT_TRUE(processes.EveryHandleClosedOnce());
  }
}

TEST_F(ProcessEngineTest, AStartTimeThatCannotBeReadCountsAsEnded) {
  RunningSet running(mProcesses, {201});
  mProcesses.StartTimeFails = true;
  Launch();
  Start(kRoot, 201);
  EXPECT_TRUE(mTracker->IsProcessTreeFinished());
  mProcesses.StartTimeFails = false;
  EXPECT_FALSE(mTracker->IsProcessTreeFinished());
}

TEST_F(ProcessEngineTest, TreeFinishesWhenEveryMemberHasEnded) {
  RunningSet running(mProcesses, {kRoot, 200, 201});
  Launch();
  Start(kRoot, 200);
  Start(200, 201);
  for (std::uint32_t id : {201u, kRoot}) {
    Stop(id);
    running.End(id);
    EXPECT_FALSE(mTracker->IsProcessTreeFinished()) << "200 still runs";
  }
  running.End(200);
  EXPECT_TRUE(mTracker->IsProcessTreeFinished()) << "ended before its stop was reported";
  Stop(200);
  Settle();
  EXPECT_TRUE(mTracker->IsProcessTreeFinished());
  EXPECT_EQ(TakeCalls(), Lines{"Wait 0"}) << "equal sizes answer without probing";
}

TEST_F(ProcessEngineTest, AStopOfAnEarlierProcessWithTheSameIdDoesNotEndANewMember) {
  RunningSet running(mProcesses, {200});
  Launch();
  Stop(200);  // an unrelated process that had the id before
  Settle();
  Start(kRoot, 200);
  EXPECT_EQ(TakeLines(), (Lines{"====Enter ProcCreateIndicate====", "System Create PPID = 100",
                                "System Create PID = 200", "Create PID = 200", "====Leave ProcCreateIndicate===="}))
      << "a process with the id runs: the stop was not its own";
  EXPECT_EQ(mTracker->SetsForTesting(), (Sets{{100, 200}, {}, {}, {100, 200}}));
  Stop(kRoot);
  EXPECT_FALSE(mTracker->IsProcessTreeFinished()) << "the new 200 still runs";
  running.End(200);
  Stop(200);
  EXPECT_TRUE(mTracker->IsProcessTreeFinished());
}

TEST_F(ProcessEngineTest, AStopThatCameBeforeItsStartEndsTheMemberFromItsStart) {
  RunningSet running(mProcesses, {});
  Launch();
  Stop(200);  // its own stop, reported before its start
  Start(kRoot, 200);
  Stop(kRoot);
  Settle();
  EXPECT_EQ(mTracker->SetsForTesting(), (Sets{{100, 200}, {}, {100, 200}, {100, 200}}));
  EXPECT_TRUE(mTracker->IsProcessTreeFinished());
  EXPECT_EQ(TakeCalls(), Lines{"Wait 0"});
}

TEST_F(ProcessEngineTest, StopBeforeTheLaunchIsRecordedCountsAsItsStop) {
  Stop(kRoot);
  Settle();
  Launch();
  EXPECT_EQ(TakeLines(), (Lines{"this->mPIDSet.insert(dwId) = 100", "Delete PID = 100"}));
  EXPECT_EQ(mTracker->SetsForTesting(), (Sets{{100}, {}, {100}, {100}}));
  EXPECT_TRUE(mTracker->IsProcessTreeFinished());
  EXPECT_TRUE(TakeLines().empty());
}

// The events of a launch whose child and grandchild may be reported in any
// order around the launch record: each is delivered before the launch
// returns (inside the launch call) or after it.
TEST_F(ProcessEngineTest, StartsReportedBeforeTheirParentJoinedAreAdoptedInEveryOrder) {
  enum Event { kRecord, kChild, kGrandchild, kChildStop, kGrandchildStop };
  std::vector<Event> order{kRecord, kChild, kGrandchild, kChildStop, kGrandchildStop};
  std::sort(order.begin(), order.end());
  int orders = 0;
  do {
    ++orders;
    std::string name;
    for (Event e : order) name += "RCGcg"[e];
    SCOPED_TRACE(name);
    CaseFakes fakes;
    fakes.Processes.LaunchedId = kRoot;
    ProcessEngine tracker;
    auto deliver = [&tracker](Event e) {
      FakeEventProperties event = e == kChild        ? StartEvent(kRoot, 200)
                                  : e == kGrandchild ? StartEvent(200, 300)
                                  : e == kChildStop  ? StopEvent(200)
                                                     : StopEvent(300);
      if (e == kChild || e == kGrandchild) {
        tracker.OnProcessStart(event);
      } else {
        tracker.OnProcessStop(event);
      }
    };
    const auto record = std::find(order.begin(), order.end(), kRecord);
    fakes.Processes.OnLaunch = [&] {
      for (auto e = order.begin(); e != record; ++e) deliver(*e);
    };
    ASSERT_TRUE(tracker.LaunchProcess(mRequest));
    for (auto e = record + 1; e != order.end(); ++e) deliver(*e);

    EXPECT_EQ(tracker.SetsForTesting(), (Sets{{100, 200, 300}, {}, {200, 300}, {100, 200, 300}}));
    Lines lines;
    for (const std::string& write : fakes.Console.Writes()) lines.push_back(write.substr(0, write.size() - 1));
    for (const char* line : {"System Create PID = 200", "Create PID = 200", "System Create PID = 300",
                             "Create PID = 300", "Delete PID = 200", "Delete PID = 300"}) {
      EXPECT_EQ(Count(lines, line), 1) << line;
    }
    const auto at = [&lines](const std::string& line) { return std::find(lines.begin(), lines.end(), line); };
    EXPECT_LT(at("System Create PID = 200"), at("Create PID = 200"));
    EXPECT_LT(at("Create PID = 200"), at("System Create PID = 300")) << "a grandchild joins after its parent";
    EXPECT_LT(at("System Create PID = 300"), at("Create PID = 300"));
    // A stop that came before the join is written between the two lines of the join.
    const bool childStoppedFirst = std::find(order.begin(), order.end(), kChildStop) <
                                   std::max(std::find(order.begin(), order.end(), kChild), record);
    EXPECT_EQ(at("Delete PID = 200") < at("Create PID = 200"), childStoppedFirst);
    EXPECT_EQ(Count(lines, "Tmp Delete PID = 200"), childStoppedFirst ? 1 : 0);
    EXPECT_EQ(Count(lines, "Tmp Delete PID = 100"), 0);
    EXPECT_TRUE(tracker.IsProcessTreeFinished()) << "every member's stop is known";
  } while (std::next_permutation(order.begin(), order.end()));
  EXPECT_EQ(orders, 120);
}

TEST_F(ProcessEngineTest, AdoptedStartWritesTheLinesOfAStartInOrder) {
  mProcesses.OnLaunch = [this] {
    Start(kRoot, 200);
    Stop(200);
  };
  Launch();
  EXPECT_EQ(TakeLines(), (Lines{"====Enter ProcCreateIndicate====", "System Create PPID = 100",
                                "====Leave ProcCreateIndicate====", "====Enter ProcDeleteIndicate====",
                                "System Delete PID = 200", "Tmp Delete PID = 200", "====Leave ProcDeleteIndicate====",
                                "this->mPIDSet.insert(dwId) = 100", "System Create PID = 200", "Delete PID = 200",
                                "Create PID = 200"}));
}

TEST_F(ProcessEngineTest, RememberedStartsAreKeptForTwoSecondsAndAtMost8192) {
  Launch();
  // Two seconds old is still adopted; older is not.
  Start(500, 600);
  Start(501, 601);
  mClock.AdvanceMs(2000);
  Start(kRoot, 500);
  mClock.AdvanceMs(1);
  Start(kRoot, 501);
  Sets sets = mTracker->SetsForTesting();
  EXPECT_EQ(sets.PIDSet, (Ids{100, 500, 501, 600}));
  // A start of a process that is not in the tree: only the last 8192 are kept.
  for (std::uint32_t i = 0; i <= 8192; ++i) Start(10'000 + i, 50'000 + i);
  Start(kRoot, 10'000);  // the first, dropped
  Start(kRoot, 10'001);  // the second, still kept
  Start(kRoot, 18'192);  // the last
  sets = mTracker->SetsForTesting();
  EXPECT_EQ(sets.PIDSet.count(50'000), 0u);
  EXPECT_EQ(sets.PIDSet.count(50'001), 1u);
  EXPECT_EQ(sets.PIDSet.count(58'192), 1u);
}

TEST_F(ProcessEngineTest, AdoptionFollowsLongChainsWithoutRecursion) {
  Launch();
  // A chain reported backwards: each start before its parent's.
  constexpr std::uint32_t kLength = 5000;
  for (std::uint32_t i = kLength; i >= 1; --i) Start(1000 + i - 1, 1000 + i);
  Start(kRoot, 1000);
  EXPECT_EQ(mTracker->SetsForTesting().PIDSet.size(), kLength + 2);
}

TEST_F(ProcessEngineTest, AnAdoptedMemberJoinsAtTheTimeItsStartArrived) {
  RunningSet running(mProcesses, {201});
  Launch();
  // 201's start arrives at process clock 1000, its parent joins at 5000;
  // the process now holding id 201 started at 3000: a later process.
  mProcesses.StartTimeOfId = [](platform::ProcessId) { return 3000u; };
  Start(200, 201);
  mProcesses.ProcessClock = 5000;
  Start(kRoot, 200);
  EXPECT_EQ(mTracker->SetsForTesting().PIDSet, (Ids{100, 200, 201}));
  EXPECT_TRUE(mTracker->IsProcessTreeFinished());
  mProcesses.StartTimeOfId = [](platform::ProcessId) { return 1000u; };
  EXPECT_FALSE(mTracker->IsProcessTreeFinished());
}

namespace {

// Lets one handler stop inside its first property read until released.
class Gate {
 public:
  void WaitInside() {
    std::unique_lock<std::mutex> lock(mMutex);
    mInside = true;
    mChanged.notify_all();
    mChanged.wait(lock, [this] { return mOpen; });
  }
  void AwaitInside() {
    std::unique_lock<std::mutex> lock(mMutex);
    mChanged.wait(lock, [this] { return mInside; });
  }
  void Open() {
    std::lock_guard<std::mutex> lock(mMutex);
    mOpen = true;
    mChanged.notify_all();
  }

 private:
  std::mutex mMutex;
  std::condition_variable mChanged;
  bool mInside = false;
  bool mOpen = false;
};

}  // namespace

TEST_F(ProcessEngineTest, DestructionSilencesNewHandlersAndWaitsForTheRunningOne) {
  Launch();
  Gate gate;
  FakeEventProperties held = StartEvent(kRoot, 200);
  held.OnRead = [&gate](std::u16string_view) { gate.WaitInside(); };
  std::thread handler([&] { mTracker->OnProcessStart(held); });
  gate.AwaitInside();

  std::atomic<bool> destroyed{false};
  ProcessEngine* tracker = mTracker.release();
  std::thread destroyer([&] {
    delete tracker;
    destroyed = true;
  });

  // Handlers that start once the flag is set read nothing and write nothing.
  // Until the destroyer has set it they still run; the tracker stays alive
  // meanwhile because the held handler has not left.
  // A destroyer that did not wait would free the tracker meanwhile: stop
  // calling it then.
  FakeEventProperties probe = StopEvent(300);
  do {
    if (destroyed) break;
    probe = StopEvent(300);
    tracker->OnProcessStop(probe);
  } while (!probe.Log().empty());
  if (destroyed) {
    gate.Open();
    handler.join();
    destroyer.join();
    FAIL() << "the tracker went while a handler was still running";
  }
  Settle();
  FakeEventProperties start = StartEvent(kRoot, 201);
  tracker->OnProcessStart(start);
  FakeEventProperties stop = StopEvent(kRoot);
  tracker->OnProcessStop(stop);
  EXPECT_TRUE(start.Log().empty());
  EXPECT_TRUE(stop.Log().empty());
  EXPECT_TRUE(TakeLines().empty());

  for (int i = 0; i < 50 && !destroyed; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(2));
  EXPECT_FALSE(destroyed) << "the lock went while a handler still needed it";
  gate.Open();
  handler.join();
  destroyer.join();
  EXPECT_TRUE(destroyed);
  EXPECT_EQ(held.Log().back(), "Release ParentProcessId") << "the held handler finished its work";
}

#ifndef _WIN32
// The handlers as the event engine calls them, on the Linux service's own
// event objects (ids given as signed 32-bit variants, as the platform does).
#include "tests/support/linux_event_objects.h"
#include "platform/variant.h"

namespace {

void Deliver(WMIEventCallback handler, ProcessEngine& tracker, std::uint32_t parent, std::uint32_t id) {
  IWbemClassObject* object = NewProcessEventObject(parent, id);  // one reference, ours
  handler(object, &tracker);
  object->Release();
}

}  // namespace

TEST_F(ProcessEngineTest, HandlersReadTheEventObjectsOfTheService) {
  Launch();
  Settle();
  Deliver(&ProcessEngine::ProcCreateIndicate, *mTracker, kRoot, 200);
  Deliver(&ProcessEngine::ProcDeleteIndicate, *mTracker, kRoot, 200);
  EXPECT_EQ(TakeLines(), (Lines{"====Enter ProcCreateIndicate====", "System Create PPID = 100", "System Create PID = 200",
                                "Create PID = 200", "====Leave ProcCreateIndicate====",
                                "====Enter ProcDeleteIndicate====", "System Delete PID = 200", "Delete PID = 200",
                                "====Leave ProcDeleteIndicate===="}));
}

TEST_F(ProcessEngineTest, IdsThatDoNotConvertToUnsigned32BitCountAsFailedReads) {
  // 0x80000001 arrives as a negative signed value, which does not convert.
  Launch();
  Settle();
  const Sets before = mTracker->SetsForTesting();
  Deliver(&ProcessEngine::ProcCreateIndicate, *mTracker, 0x80000001u, 200);
  EXPECT_EQ(TakeLines(), (Lines{"====Enter ProcCreateIndicate====", "====Leave ProcCreateIndicate===="}));
  Deliver(&ProcessEngine::ProcCreateIndicate, *mTracker, kRoot, 0x80000001u);
  EXPECT_EQ(TakeLines(), (Lines{"====Enter ProcCreateIndicate====", "System Create PPID = 100",
                                "====Leave ProcCreateIndicate===="}));
  Deliver(&ProcessEngine::ProcDeleteIndicate, *mTracker, 0, 0x80000001u);
  EXPECT_EQ(TakeLines(), (Lines{"====Enter ProcDeleteIndicate====", "====Leave ProcDeleteIndicate===="}));
  EXPECT_EQ(mTracker->SetsForTesting(), before);
}

// Variants whose every conversion fails, counting the conversions asked for.
class FailingVariants final : public platform::VariantServices {
 public:
  int Conversions = 0;
  void VariantInit(VARIANT* variant) override { platform::SystemVariants().VariantInit(variant); }
  HRESULT VariantClear(VARIANT* variant) override { return platform::SystemVariants().VariantClear(variant); }
  HRESULT VariantChangeTypeEx(VARIANT*, VARIANT*, LCID, USHORT, VARTYPE) override {
    ++Conversions;
    return platform::kDispETypeMismatch;
  }
  LCID GetThreadLocale() override { return 0; }
};

TEST_F(ProcessEngineTest, HandlersConvertIdsThroughTheVariantsInPlaceForTheOverridesLifetime) {
  Launch();
  Settle();
  const Sets before = mTracker->SetsForTesting();
  FailingVariants failing;
  {
    platform::ScopedVariantsForTesting scope(failing);
    Deliver(&ProcessEngine::ProcCreateIndicate, *mTracker, kRoot, 200);
    EXPECT_EQ(TakeLines(), (Lines{"====Enter ProcCreateIndicate====", "====Leave ProcCreateIndicate===="}));
    EXPECT_EQ(failing.Conversions, 1) << "the parent's id was read through the fake";
    EXPECT_EQ(mTracker->SetsForTesting(), before);
  }
  Deliver(&ProcessEngine::ProcCreateIndicate, *mTracker, kRoot, 200);
  EXPECT_EQ(failing.Conversions, 1) << "the platform's variants are back";
  EXPECT_EQ(TakeLines(), (Lines{"====Enter ProcCreateIndicate====", "System Create PPID = 100", "System Create PID = 200",
                                "Create PID = 200", "====Leave ProcCreateIndicate===="}));
}
#endif
