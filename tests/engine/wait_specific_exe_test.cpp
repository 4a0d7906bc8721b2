// Install method 2 driven by scripted process services and a fake clock: the
// search of the process list (matching, the first match only, the opening
// search's trace, the debug privilege, failures) and the wait that follows.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/text.h"
#include "tests/support/worker_fixture.h"

namespace {

using List = std::vector<platform::ProcessEntry>;

const std::string kEnter = "====Enter INSTALLMETHOD::WaitSpecificExe====";
const std::string kLeave = "====Leave INSTALLMETHOD::WaitSpecificExe====";
// The privilege steps that come before every snapshot: the fake's first token
// is "token 1", and so on.
Lines PrivilegeCalls(int token) {
  const std::string label = "token " + std::to_string(token);
  return {"OpenToken", "LookupPrivilege", "EnablePrivilege 20 " + label, "Close " + label};
}

// Index of the first occurrence of call, or calls.size().
std::size_t IndexOf(const Lines& calls, const std::string& call) {
  return static_cast<std::size_t>(std::find(calls.begin(), calls.end(), call) - calls.begin());
}

// What a slot holds before a search that must leave it alone.
const platform::Handle kSentinel = reinterpret_cast<platform::Handle>(0x77);

// Explorer first, then two setups: "setup" matches MySetup.exe (id 20) first.
const List kThreeSetups = {{4, u"explorer.exe"}, {20, u"MySetup.exe"}, {30, u"setup.exe"}};

// The program's own process id, as the fakes give it.
constexpr platform::ProcessId kOwnId = 9000;

// Stops a run that would not end by itself (a fault under test) instead of
// letting it search, wait or read the clock for ever: at the 10000th search,
// wait or reading the worker is asked to terminate, and the test's
// expectations fail.
void GuardAgainstRunaway(FakeProcesses& processes, FakeClock& clock, ExecuteProgram* const& worker) {
  constexpr int kRunaway = 10000;
  clock.OnNow = [onNow = clock.OnNow, &worker](long n) {
    if (onNow) onNow(n);
    if (n == kRunaway) worker->Terminate();
  };
  processes.OnSnapshot = [onSnapshot = processes.OnSnapshot, &worker](int n) {
    if (onSnapshot) onSnapshot(n);
    if (n == kRunaway) worker->Terminate();
  };
  processes.OnWait = [onWait = processes.OnWait, &worker](int n) {
    if (onWait) onWait(n);
    if (n == kRunaway) worker->Terminate();
  };
}

class SpecificExeTest : public WorkerFixture {
 protected:
  SpecificExeTest() { DebugConsoleInstance(true); }

  // Runs one method-2 request to its end; returns the trace lines.
  Lines Run() {
    RunOn(mProcesses, mClock);
    return Trace();
  }
  // Runs one method-2 request to its end on the given fakes.
  void RunOn(FakeProcesses& processes, FakeClock& clock) {
    GuardAgainstRunaway(processes, clock, mWorker);
    RunWorker(INSTALLMETHOD::WaitSpecificExe);
  }

  // The given processes list kThreeSetups, and "setup" is the name looked for.
  void ThreeSetupsLookedFor(FakeProcesses& processes) {
    processes.ProcessList = kThreeSetups;
    mMethod.SpecificExeName = u"setup";
  }
  void ThreeSetupsLookedFor() { ThreeSetupsLookedFor(mProcesses); }

  // The wait is for the first process whose executable name holds name,
  // rather than for the launched program.
  void SearchFor(std::u16string name) {
    mMethod.SearchSpecificExe = true;
    mMethod.SpecificExeName = std::move(name);
  }

  // A worker that is never started, for calling the search directly.
  ExecuteProgram& Idle() {
    if (!mIdle) mIdle = std::make_unique<ExecuteProgram>(true, mParam, &mMethod, INSTALLMETHOD::WaitSpecificExe);
    return *mIdle;
  }

  std::unique_ptr<ExecuteProgram> mIdle;
};

// --- the search --------------------------------------------------------------

TEST_F(SpecificExeTest, ANameMatchesWhereverItOccursInTheExecutableNameIgnoringCase) {
  struct Case {
    const char* name;
    std::u16string wanted;
    List list;
    bool matches;
    platform::ProcessId opened;  // the id an opening search opens
    std::u16string found;        // its "Exe Found : " text
  };
  const Case cases[] = {
      {"first match only", u"setup", kThreeSetups, true, 20, u"MySetup.exe"},
      {"upper-case name, lower-case process", u"SETUP.EXE", {{4, u"explorer.exe"}, {30, u"setup.exe"}}, true, 30,
       u"setup.exe"},
      {"inside the name", u"etup6", {{7, u"Setup64.exe"}}, true, 7, u"Setup64.exe"},
      {"letters beyond ASCII", u"installé", {{9, u"INSTALLÉ.EXE"}}, true, 9, u"INSTALLÉ.EXE"},
      {"no process has it", u"tool", kThreeSetups, false, 0, u""},
      {"longer than the executable name", u"setup.exe.old", kThreeSetups, false, 0, u""},
      {"empty name never matches", u"", kThreeSetups, false, 0, u""},
      {"empty name, empty executable name", u"", {{5, u""}}, false, 0, u""},
      {"empty list", u"setup", {}, false, 0, u""},
      {"the program itself is passed over", u"setup", {{kOwnId, u"ToolbarSetup.exe"}, {30, u"setup.exe"}}, true, 30,
       u"setup.exe"},
      {"the program alone has the name", u"setup", {{4, u"explorer.exe"}, {kOwnId, u"ToolbarSetup.exe"}}, false, 0,
       u""},
      {"passed over by its id, whatever its name", u"setup", {{kOwnId, u"setup.exe"}, {31, u"MySetup.exe"}}, true, 31,
       u"MySetup.exe"},
      {"another process of the program's name", u"setup", {{kOwnId + 1, u"ToolbarSetup.exe"}}, true, kOwnId + 1,
       u"ToolbarSetup.exe"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CaseFakes fakes;
    fakes.Processes.OwnId = kOwnId;
    fakes.Processes.ProcessList = c.list;
    mMethod.SpecificExeName = c.wanted;
    ExecuteProgram worker(true, mParam, &mMethod, INSTALLMETHOD::WaitSpecificExe);

    EXPECT_EQ(worker.FindSpecificExe(nullptr, false), c.matches) << "searching call";
    platform::Handle slot = nullptr;
    EXPECT_EQ(worker.FindSpecificExe(&slot, true), c.matches) << "opening call";
    const Lines calls = fakes.Processes.Snapshot().Calls;
    if (c.matches) {
      EXPECT_EQ(Count(calls, "Open " + std::to_string(c.opened)), 1);
      EXPECT_EQ(std::count_if(calls.begin(), calls.end(), [](const std::string& s) { return s.starts_with("Open "); }),
                1)
          << "only the first match is opened";
      ASSERT_EQ(fakes.Console.Writes().size(), 4u);
      EXPECT_EQ(fakes.Console.Writes()[2], platform::WideToAnsi(u"Exe Found : " + c.found + u"\n"))
          << "as listed, not upper-cased";
      EXPECT_NE(slot, nullptr);
      fakes.Processes.CloseHandle(slot);  // the caller owns it
    } else {
      EXPECT_EQ(slot, nullptr);
      EXPECT_TRUE(fakes.Console.Writes().empty());
    }
    EXPECT_TRUE(fakes.Processes.EveryHandleClosedOnce());
  }
}

TEST_F(SpecificExeTest, TheSearchStopsReadingAtTheFirstMatch) {
  ThreeSetupsLookedFor();
  EXPECT_TRUE(Idle().FindSpecificExe(nullptr, false));
  Lines expected = PrivilegeCalls(1);
  for (const char* call : {"Snapshot", "First", "Next", "Close snapshot 1"}) expected.push_back(call);
  EXPECT_EQ(mProcesses.Snapshot().Calls, expected) << "explorer.exe read, MySetup.exe matched, setup.exe never read";
}

TEST_F(SpecificExeTest, ASearchingCallTracesNothingAndLeavesTheSlotAlone) {
  ThreeSetupsLookedFor();
  platform::Handle slot = kSentinel;
  EXPECT_TRUE(Idle().FindSpecificExe(&slot, false));
  EXPECT_EQ(slot, kSentinel);
  EXPECT_TRUE(mConsole.Writes().empty());
  const Lines calls = mProcesses.Snapshot().Calls;
  EXPECT_EQ(IndexOf(calls, "Open 20"), calls.size()) << "nothing is opened";
  EXPECT_EQ(IndexOf(calls, "LastError"), calls.size());
  EXPECT_TRUE(mProcesses.EveryHandleClosedOnce());
}

TEST_F(SpecificExeTest, AnOpeningSearchTracesFourLinesWithSignedHandlesAndTheErrorReadAfterTheFirst) {
  // Handles from 0xFFFFFFF0: token, snapshot, then the opened process at
  // 0xFFFFFFF8, which reads -8 as a signed 32-bit number.
  mProcesses.HandleBase = 0xFFFFFFF0u;
  ThreeSetupsLookedFor();
  // The error code tells how many lines had been written when it was read.
  mProcesses.OnLastError = [this] { return static_cast<std::uint32_t>(1000 + mConsole.Writes().size()); };
  platform::Handle slot = nullptr;
  EXPECT_TRUE(Idle().FindSpecificExe(&slot, true));
  EXPECT_EQ(Trace(), (Lines{"Handle : -8", "Error Code : 1001", "Exe Found : MySetup.exe", "Handle : -8"}));
  EXPECT_EQ(reinterpret_cast<std::uintptr_t>(slot), 0xFFFFFFF8u);
  const FakeProcesses::Record record = mProcesses.Snapshot();
  EXPECT_EQ(record.Closes.count(slot), 0u) << "the opened handle is the caller's";
  Lines expected = PrivilegeCalls(1);
  for (const char* call : {"Snapshot", "First", "Next", "Open 20", "LastError", "Close snapshot 1"})
    expected.push_back(call);
  EXPECT_EQ(record.Calls, expected);
  mProcesses.CloseHandle(slot);
  EXPECT_TRUE(mProcesses.EveryHandleClosedOnce());
}

TEST_F(SpecificExeTest, AFailedOpenStillMatchesStoresNullAndTracesTheErrorCode) {
  ThreeSetupsLookedFor();
  mProcesses.OpensBeforeFailure = 0;
  mProcesses.LastErrorCode = 5;
  platform::Handle slot = kSentinel;
  EXPECT_TRUE(Idle().FindSpecificExe(&slot, true));
  EXPECT_EQ(slot, nullptr);
  EXPECT_EQ(Trace(), (Lines{"Handle : 0", "Error Code : 5", "Exe Found : MySetup.exe", "Handle : 0"}));
  EXPECT_TRUE(mProcesses.EveryHandleClosedOnce());
}

TEST_F(SpecificExeTest, AnErrorCodeWithTheHighBitSetIsTracedAsASignedNumber) {
  ThreeSetupsLookedFor();
  mProcesses.OpensBeforeFailure = 0;
  mProcesses.LastErrorCode = 0x80070005;  // an HRESULT-style code
  platform::Handle slot = kSentinel;
  EXPECT_TRUE(Idle().FindSpecificExe(&slot, true));
  EXPECT_EQ(Trace(),
            (Lines{"Handle : 0", "Error Code : -2147024891", "Exe Found : MySetup.exe", "Handle : 0"}));
}

TEST_F(SpecificExeTest, AnOpeningSearchWithoutASlotClosesWhatItOpened) {
  ThreeSetupsLookedFor();
  EXPECT_TRUE(Idle().FindSpecificExe(nullptr, true));
  EXPECT_EQ(Trace().size(), 4u);
  EXPECT_TRUE(mProcesses.EveryHandleClosedOnce());
}

TEST_F(SpecificExeTest, AnUnreadableSnapshotFindsNothingAndTracesNothing) {
  struct Case {
    const char* name;
    bool snapshotFails;
    bool firstEntryFails;
    Lines tail;  // the calls after the privilege steps
  };
  const Case cases[] = {
      {"no snapshot", true, false, {"Snapshot"}},
      {"first entry unreadable", false, true, {"Snapshot", "First", "Close snapshot 1"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CaseFakes fakes;
    ThreeSetupsLookedFor(fakes.Processes);
    fakes.Processes.SnapshotFails = c.snapshotFails;
    fakes.Processes.FirstEntryFails = c.firstEntryFails;
    ExecuteProgram worker(true, mParam, &mMethod, INSTALLMETHOD::WaitSpecificExe);
    platform::Handle slot = kSentinel;
    EXPECT_FALSE(worker.FindSpecificExe(&slot, true));
    EXPECT_EQ(slot, kSentinel);
    EXPECT_TRUE(fakes.Console.Writes().empty());
    Lines expected = PrivilegeCalls(1);
    expected.insert(expected.end(), c.tail.begin(), c.tail.end());
    EXPECT_EQ(fakes.Processes.Snapshot().Calls, expected);
    EXPECT_TRUE(fakes.Processes.EveryHandleClosedOnce());
  }
}

TEST_F(SpecificExeTest, TheDebugPrivilegeIsEnabledBeforeEverySearchAndFailsSilently) {
  struct Case {
    const char* name;
    bool tokenOpens;
    bool privilegeFound;
    Lines calls;
  };
  const Case cases[] = {
      {"enabled", true, true, PrivilegeCalls(1)},
      {"no token: nothing else", false, true, {"OpenToken"}},
      {"no privilege: token closed", true, false, {"OpenToken", "LookupPrivilege", "Close token 1"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CaseFakes fakes;
    fakes.Processes.TokenOpens = c.tokenOpens;
    fakes.Processes.PrivilegeFound = c.privilegeFound;
    ThreeSetupsLookedFor(fakes.Processes);
    ExecuteProgram worker(true, mParam, &mMethod, INSTALLMETHOD::WaitSpecificExe);

    worker.EnableDebugPrivilege();
    EXPECT_EQ(fakes.Processes.Snapshot().Calls, c.calls);
    EXPECT_TRUE(fakes.Console.Writes().empty());

    EXPECT_TRUE(worker.FindSpecificExe(nullptr, false)) << "the search goes on whatever the privilege did";
    const Lines calls = fakes.Processes.Snapshot().Calls;
    const std::size_t snapshot = IndexOf(calls, "Snapshot");
    ASSERT_LT(snapshot, calls.size());
    EXPECT_EQ(Lines(calls.begin() + static_cast<long>(c.calls.size()), calls.begin() + static_cast<long>(snapshot)),
              c.tokenOpens ? (c.privilegeFound ? PrivilegeCalls(2)
                                               : Lines{"OpenToken", "LookupPrivilege", "Close token 2"})
                           : c.calls);
    EXPECT_TRUE(fakes.Console.Writes().empty());
    EXPECT_TRUE(fakes.Processes.EveryHandleClosedOnce());
  }
}

TEST_F(SpecificExeTest, AProcessThatEndedBeforeTheOpeningSearchIsNotFound) {
  mProcesses.ListForSnapshot = [](int n) { return n == 1 ? kThreeSetups : List{{4, u"explorer.exe"}}; };
  mMethod.SpecificExeName = u"setup";
  EXPECT_TRUE(Idle().FindSpecificExe(nullptr, false));
  platform::Handle slot = kSentinel;
  EXPECT_FALSE(Idle().FindSpecificExe(&slot, true));
  EXPECT_EQ(slot, kSentinel);
  EXPECT_TRUE(mConsole.Writes().empty());
  EXPECT_TRUE(mProcesses.EveryHandleClosedOnce());
}

// --- the wait ------------------------------------------------------------------

TEST_F(SpecificExeTest, WithoutSearchingTheLaunchedProgramIsWaitedFor) {
  mProcesses.WaitsBeforeEnd = 3;
  ThreeSetupsLookedFor();  // but not searched for
  EXPECT_EQ(Run(), (Lines{"Install Method = 2", kEnter, "Break by handle closed", kLeave}));
  const FakeProcesses::Record record = mProcesses.Snapshot();
  EXPECT_EQ(record.Calls,
            (Lines{"Launch", "Wait 200", "Wait 200", "Wait 200", "Wait 200", "Close launched"}))
      << "no search and no open by id";
  EXPECT_EQ(record.Launched.File, mParam.FileName);
  EXPECT_EQ(record.Launched.Parameters, u"/r:NVKM");
  EXPECT_TRUE(mFlag);
  ASSERT_FALSE(record.FlagAtWait.empty());
  EXPECT_EQ(record.FlagAtWait.front(), false) << "the fake watches no flag here";
  EXPECT_EQ(HandBacks(), 1);
  EXPECT_TRUE(mClock.Sleeps().empty()) << "the waits pause, not the clock";
  EXPECT_TRUE(mProcesses.EveryHandleClosedOnce());
}

TEST_F(SpecificExeTest, SearchingWaitsForTheFirstMatchingProcessInsteadOfTheLaunchedOne) {
  // The helper shows up in the third snapshot and stays.
  const List helper = {{4, u"explorer.exe"}, {4242, u"Norvik_TB_Installer.exe"}, {77, u"LongHelperSetupProgram.exe"}};
  mProcesses.ListForSnapshot = [&helper](int n) { return n < 3 ? List(helper.begin(), helper.begin() + 2) : helper; };
  mProcesses.WaitsBeforeEnd = 2;
  SearchFor(u"SetupProgram");
  const Lines trace = Run();
  ASSERT_EQ(trace.size(), 8u);
  EXPECT_EQ(Lines(trace.begin(), trace.begin() + 2), (Lines{"Install Method = 2", kEnter}));
  EXPECT_TRUE(trace[2].starts_with("Handle : ")) << trace[2];
  EXPECT_EQ(trace[3], "Error Code : 0");
  EXPECT_EQ(trace[4], "Exe Found : LongHelperSetupProgram.exe");
  EXPECT_EQ(trace[5], trace[2]);
  EXPECT_EQ(Lines(trace.begin() + 6, trace.end()), (Lines{"Break by handle closed", kLeave}));

  const FakeProcesses::Record record = mProcesses.Snapshot();
  EXPECT_EQ(Count(record.Calls, "Snapshot"), 4) << "three searching calls, one opening call";
  EXPECT_EQ(Count(record.Calls, "Open 77"), 1);
  EXPECT_LT(IndexOf(record.Calls, "Close launched"), IndexOf(record.Calls, "Open 77"))
      << "the launched handle is let go before the opening search";
  EXPECT_EQ(record.WaitedOn, (Lines{"opened 1", "opened 1", "opened 1"}));
  ASSERT_FALSE(record.Calls.empty());
  EXPECT_EQ(record.Calls.back(), "Close opened 1");
  EXPECT_EQ(mClock.SleepsOn(mWorkerThread), (std::vector<std::uint32_t>{200, 200, 200}))
      << "a pause after each search, none while waiting";
  EXPECT_TRUE(mFlag);
  EXPECT_TRUE(mProcesses.EveryHandleClosedOnce());
}

TEST_F(SpecificExeTest, ANameThatNeverAppearsIsSearchedEvery200msUntilTermination) {
  struct Case {
    const char* name;
    std::u16string wanted;
  };
  const Case cases[] = {{"no such process", u"NoSuchProgram"}, {"empty name", u""}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CaseFakes fakes;
    fakes.Processes.ProcessList = {{4, u"explorer.exe"}, {4242, u"Norvik_TB_Installer.exe"}};
    fakes.Processes.OnSnapshot = [this](int n) {
      if (n == 25) mWorker->Terminate();
    };
    mParam.RemoveStaged = true;
    SearchFor(c.wanted);
    TimeOutAfter(1);  // five seconds of searching pass: the time-out is not looked at
    mRemoveStagedAtEnd = true;
    RunOn(fakes.Processes, fakes.Clock);
    const std::vector<std::string> writes = fakes.Console.Writes();
    EXPECT_EQ(writes, (Lines{"Install Method = 2\n", kEnter + "\n", "Break by user terminate\n", kLeave + "\n"}));
    const std::vector<FakeClock::Pause> sleeps = fakes.Clock.Sleeps();
    EXPECT_EQ(sleeps.size(), 25u);
    EXPECT_TRUE(std::all_of(sleeps.begin(), sleeps.end(), [](const FakeClock::Pause& p) { return p.Milliseconds == 200; }));
    const FakeProcesses::Record record = fakes.Processes.Snapshot();
    EXPECT_EQ(Count(record.Calls, "Snapshot"), 25);
    EXPECT_TRUE(record.WaitedOn.empty()) << "nothing is waited on while searching";
    ASSERT_FALSE(record.Calls.empty());
    EXPECT_EQ(record.Calls.back(), "Close launched") << "the launched handle is kept until the end";
    EXPECT_FALSE(mRemoveStagedAtEnd);
    EXPECT_TRUE(fakes.Processes.EveryHandleClosedOnce());
  }
}

TEST_F(SpecificExeTest, TheLaunchedInstallerMatchesItself) {
  mProcesses.ProcessList = {{4, u"explorer.exe"}, {4242, u"Norvik_TB_Installer.exe"}};
  mProcesses.WaitsBeforeEnd = 0;
  SearchFor(u"tb_installer");
  const Lines trace = Run();
  ASSERT_EQ(trace.size(), 8u);
  EXPECT_EQ(trace[4], "Exe Found : Norvik_TB_Installer.exe");
  EXPECT_EQ(trace[6], "Break by handle closed");
  const FakeProcesses::Record record = mProcesses.Snapshot();
  EXPECT_EQ(Count(record.Calls, "Open 4242"), 1);
  EXPECT_EQ(record.WaitedOn, (Lines{"opened 1"})) << "waited on the opened handle, the launched one is closed";
  EXPECT_EQ(mClock.Sleeps().size(), 1u);
  EXPECT_TRUE(mProcesses.EveryHandleClosedOnce());
}

TEST_F(SpecificExeTest, TheProgramItselfIsNeverWaitedFor) {
  // The program's own name holds the name looked for; the helper that has it
  // too shows up in the third snapshot.
  const List helper = {{kOwnId, u"ToolbarSetup.exe"}, {4242, u"Norvik_TB_Installer.exe"}, {77, u"SetupHelper.exe"}};
  mProcesses.OwnId = kOwnId;
  mProcesses.ListForSnapshot = [&helper](int n) { return n < 3 ? List(helper.begin(), helper.begin() + 2) : helper; };
  mProcesses.WaitsBeforeEnd = 2;
  SearchFor(u"Setup");
  const Lines trace = Run();
  ASSERT_EQ(trace.size(), 8u);
  EXPECT_EQ(trace[4], "Exe Found : SetupHelper.exe");
  EXPECT_EQ(Lines(trace.begin() + 6, trace.end()), (Lines{"Break by handle closed", kLeave}));
  const FakeProcesses::Record record = mProcesses.Snapshot();
  EXPECT_EQ(Count(record.Calls, "Snapshot"), 4) << "the searches before the helper came found nothing";
  EXPECT_EQ(Count(record.Calls, "Open " + std::to_string(kOwnId)), 0);
  EXPECT_EQ(record.WaitedOn, (Lines{"opened 1", "opened 1", "opened 1"}));
  EXPECT_TRUE(mProcesses.EveryHandleClosedOnce());
}

TEST_F(SpecificExeTest, AMatchThatEndsBeforeItIsOpenedLeavesANullHandleWaitedOnWithAPauseEachPass) {
  struct Case {
    const char* name;
    bool byTimeOut;
    long waits;
    std::string last;
  };
  const Case cases[] = {
      {"until termination", false, 50, "Break by user terminate"},
      // The pauses are the only time that passes: the search's and 29 more
      // make 6 s, which the 30th waiting pass finds beyond the 5 s.
      {"until the time-out", true, 29, "Break by time out"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CaseFakes fakes;
    // Listed at the searching call, gone at the opening call.
    fakes.Processes.ListForSnapshot = [](int n) { return n == 1 ? kThreeSetups : List{{4, u"explorer.exe"}}; };
    if (!c.byTimeOut) {
      fakes.Processes.OnWait = [&](int n) {
        if (n == 50) mWorker->Terminate();
      };
    }
    SearchFor(u"setup");
    mMethod.UseTimeout = c.byTimeOut ? 1 : 0;
    mMethod.TimeoutSeconds = 5;
    RunOn(fakes.Processes, fakes.Clock);
    EXPECT_EQ(fakes.Console.Writes(), (Lines{"Install Method = 2\n", kEnter + "\n", c.last + "\n", kLeave + "\n"}))
        << "no open, so no trace of one";
    const FakeProcesses::Record record = fakes.Processes.Snapshot();
    EXPECT_EQ(record.WaitedOn, Lines(static_cast<std::size_t>(c.waits), "none"));
    EXPECT_EQ(Count(record.Calls, "Snapshot"), 2) << "no search once a match was seen";
    const std::vector<FakeClock::Pause> sleeps = fakes.Clock.Sleeps();
    EXPECT_EQ(sleeps.size(), static_cast<std::size_t>(1 + c.waits))
        << "one pause after the search, one in each waiting pass";
    EXPECT_TRUE(std::all_of(sleeps.begin(), sleeps.end(), [](const FakeClock::Pause& p) { return p.Milliseconds == 200; }));
    EXPECT_LT(IndexOf(record.Calls, "Close launched"), IndexOf(record.Calls, "Wait 200"));
    EXPECT_TRUE(fakes.Processes.EveryHandleClosedOnce());
  }
}

TEST_F(SpecificExeTest, TheTimeOutCountsFromTheStartOnceTheProcessIsFound) {
  mProcesses.ListForSnapshot = [](int n) { return n < 6 ? List{} : kThreeSetups; };
  mProcesses.WaitsBeforeEnd = -1;
  mProcesses.OnWait = [this](int) { mClock.Advance(1); };
  SearchFor(u"setup");
  TimeOutAfter(3);
  const Lines trace = Run();
  ASSERT_FALSE(trace.empty());
  EXPECT_EQ(Lines(trace.end() - 2, trace.end()), (Lines{"Break by time out", kLeave}));
  // Five searches and the pair that finds: six pauses, 1.2 s. The waiting
  // passes then see 1, 2, 3 seconds and wait; the pass at 4 seconds ends it.
  EXPECT_EQ(mProcesses.Snapshot().WaitedOn.size(), 3u);
  EXPECT_TRUE(mProcesses.EveryHandleClosedOnce());
}

TEST_F(SpecificExeTest, IgnoringTheProcessEndNeverWaitsOnItAndPausesEachPass) {
  mProcesses.ProcessList = kThreeSetups;
  mProcesses.WaitsBeforeEnd = 0;  // the process has ended, but nobody asks
  SearchFor(u"setup");
  mMethod.IgnoreProcessEnd = true;
  TimeOutAfter(5);
  // The sixth handle issued (launched, token, snapshot, token, snapshot) is 0x1014.
  EXPECT_EQ(Run(), (Lines{"Install Method = 2", kEnter, "Handle : 4116", "Error Code : 0", "Exe Found : MySetup.exe",
                          "Handle : 4116", "Break by time out", kLeave}));
  EXPECT_TRUE(mProcesses.Snapshot().WaitedOn.empty());
  // The pauses are the only time that passes: the search's and 29 more make
  // 6 s, which the 30th waiting pass finds beyond the 5 s.
  EXPECT_EQ(mClock.SleepsOn(mWorkerThread), std::vector<std::uint32_t>(30, 200))
      << "one pause after the search, then one in each waiting pass";
  EXPECT_TRUE(mProcesses.EveryHandleClosedOnce());
}

TEST_F(SpecificExeTest, WithoutWaitingTheHandleIsClosedAtOnce) {
  mParam.WaitForExit = false;
  SearchFor(u"setup");
  mProcesses.ProcessList = kThreeSetups;
  EXPECT_EQ(Run(), (Lines{"Install Method = 2", kEnter, kLeave}));
  EXPECT_EQ(mProcesses.Snapshot().Calls, (Lines{"Launch", "Close launched"}));
  EXPECT_TRUE(mFlag);
  EXPECT_EQ(HandBacks(), 1);
  EXPECT_TRUE(mClock.Sleeps().empty());
}

TEST_F(SpecificExeTest, AFailedLaunchRunsNoLoopButEntersAndLeaves) {
  mFlag = true;
  mProcesses.LaunchSucceeds = false;
  SearchFor(u"setup");
  mProcesses.ProcessList = kThreeSetups;
  EXPECT_EQ(Run(), (Lines{"Install Method = 2", kEnter, kLeave}));
  EXPECT_EQ(mProcesses.Snapshot().Calls, (Lines{"Launch"}));
  EXPECT_FALSE(mFlag);
  EXPECT_EQ(HandBacks(), 1);
}

TEST_F(SpecificExeTest, ALaunchWithoutAHandleWaitsOnNothingWithAPauseEachPassUntilTheTimeOut) {
  mProcesses.LaunchGivesHandle = false;
  TimeOutAfter(5);
  EXPECT_EQ(Run(), (Lines{"Install Method = 2", kEnter, "Break by time out", kLeave}));
  const FakeProcesses::Record record = mProcesses.Snapshot();
  // 30 pauses make 6 s, which the 31st pass finds beyond the 5 s.
  EXPECT_EQ(record.WaitedOn, Lines(30, "none"));
  EXPECT_EQ(mClock.SleepsOn(mWorkerThread), std::vector<std::uint32_t>(30, 200));
}

}  // namespace
