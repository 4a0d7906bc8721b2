// Install method 2 driven by scripted process services and a fake clock: the
// search of the process list (matching, the first match only, the opening
// search's trace, the debug privilege, failures) and the wait that follows.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "diag/debug_console.h"
#include "diag/debug_console_testing.h"
#include "engine/execute_program.h"
#include "tests/support/fake_clock.h"
#include "tests/support/fake_com.h"
#include "tests/support/fake_console.h"
#include "platform/text.h"
#include "tests/support/fake_processes.h"
#include "tests/support/headless_app.h"

namespace {

using Lines = std::vector<std::string>;
using List = std::vector<platform::ProcessEntry>;

const std::string kEnter = "====Enter INSTALLMETHOD::WaitSpecificExe====";
const std::string kLeave = "====Leave INSTALLMETHOD::WaitSpecificExe====";
// The privilege steps that come before every snapshot: the fake's first token
// is "token 1", and so on.
Lines PrivilegeCalls(int token) {
  const std::string label = "token " + std::to_string(token);
  return {"OpenToken", "LookupPrivilege", "EnablePrivilege 20 " + label, "Close " + label};
}

long Count(const Lines& calls, const std::string& call) { return std::count(calls.begin(), calls.end(), call); }

// Index of the first occurrence of call, or calls.size().
std::size_t IndexOf(const Lines& calls, const std::string& call) {
  return static_cast<std::size_t>(std::find(calls.begin(), calls.end(), call) - calls.begin());
}

// Stops a run that would not end by itself (a fault under test) instead of
// letting it search or wait for ever: at the 10000th search or wait the
// worker is asked to terminate, and the test's expectations fail.
void GuardAgainstRunaway(FakeProcesses& processes, ExecuteProgram* const& worker) {
  constexpr int kRunaway = 10000;
  processes.OnSnapshot = [onSnapshot = processes.OnSnapshot, &worker](int n) {
    if (onSnapshot) onSnapshot(n);
    if (n == kRunaway) worker->Terminate();
  };
  processes.OnWait = [onWait = processes.OnWait, &worker](int n) {
    if (onWait) onWait(n);
    if (n == kRunaway) worker->Terminate();
  };
}

class SpecificExeTest : public ::testing::Test {
 protected:
  SpecificExeTest() {
    DebugConsoleInstance(true);
#ifdef _WIN32
    mParam.FileName = u"C:\\Setup\\Norvik_TB_Installer.exe";
#else
    mParam.FileName = u"/opt/setup/Norvik_TB_Installer.exe";
#endif
    mParam.Parameters = u"/r:NVKM";
    mParam.StageSource = u"0";
    mParam.WaitForExit = true;
    mParam.ShowCommand = 1;
    mParam.ResultFlag = &mFlag;
    mProcesses.OnLaunch = [this] { mWorkerThread = std::this_thread::get_id(); };
  }

  // The trace lines written so far, without their line feeds.
  Lines Trace() {
    Lines lines;
    for (const std::string& write : mConsole.Writes()) lines.push_back(write.substr(0, write.size() - 1));
    return lines;
  }

  // Runs one method-2 request to its end; returns the trace lines.
  Lines Run() {
    GuardAgainstRunaway(mProcesses, mWorker);
    mBackend = RunScenario([this](ScenarioForm& form) {
      mWorker = new ExecuteProgram(true, mParam, &mMethod, INSTALLMETHOD::WaitSpecificExe);
      mWorker->OnTerminate = [this, &form](TObject*) {
        mRemoveStagedAtEnd = mWorker->Request().RemoveStaged;
        form.Close();
      };
      mWorker->Start();
    });
    return Trace();
  }

  // Synchronize calls made by the worker, beside its termination notice.
  int HandBacks() const { return mBackend->WakeCount() - 1; }

  // A worker that is never started, for calling the search directly.
  ExecuteProgram& Idle() {
    if (!mIdle) mIdle = std::make_unique<ExecuteProgram>(true, mParam, &mMethod, INSTALLMETHOD::WaitSpecificExe);
    return *mIdle;
  }

  FakeConsole mConsole;
  diag_testing::ScopedConsoleServices mConsoleScope{mConsole};
  FakeProcesses mProcesses;
  FakeClock mClock;
  FakeCom mCom;
  ExeParameter mParam;
  InstallMethodParam mMethod;
  bool mFlag = false;
  ExecuteProgram* mWorker = nullptr;
  std::unique_ptr<ExecuteProgram> mIdle;
  framework::HeadlessBackend* mBackend = nullptr;
  bool mRemoveStagedAtEnd = false;
  std::thread::id mWorkerThread;
};

const List kThreeSetups = {{4, u"explorer.exe"}, {20, u"MySetup.exe"}, {30, u"setup.exe"}};

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
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FakeConsole console;
    diag_testing::ScopedConsoleServices consoleScope(console);
    DebugConsoleInstance(true);
    FakeProcesses processes;
    processes.ProcessList = c.list;
    mMethod.SpecificExeName = c.wanted;
    ExecuteProgram worker(true, mParam, &mMethod, INSTALLMETHOD::WaitSpecificExe);

    EXPECT_EQ(worker.FindSpecificExe(nullptr, false), c.matches) << "searching call";
    platform::Handle slot = nullptr;
    EXPECT_EQ(worker.FindSpecificExe(&slot, true), c.matches) << "opening call";
    const Lines calls = processes.Snapshot().Calls;
    if (c.matches) {
      EXPECT_EQ(Count(calls, "Open " + std::to_string(c.opened)), 1);
      EXPECT_EQ(std::count_if(calls.begin(), calls.end(), [](const std::string& s) { return s.starts_with("Open "); }),
                1)
          << "only the first match is opened";
      ASSERT_EQ(console.Writes().size(), 4u);
      EXPECT_EQ(console.Writes()[2], platform::WideToAnsi(u"Exe Found : " + c.found + u"\n"))
          << "as listed, not upper-cased";
      EXPECT_NE(slot, nullptr);
      processes.CloseHandle(slot);  // the caller owns it
    } else {
      EXPECT_EQ(slot, nullptr);
      EXPECT_TRUE(console.Writes().empty());
    }
    EXPECT_TRUE(processes.EveryHandleClosedOnce());
  }
}

TEST_F(SpecificExeTest, TheSearchStopsReadingAtTheFirstMatch) {
  mProcesses.ProcessList = kThreeSetups;
  mMethod.SpecificExeName = u"setup";
  EXPECT_TRUE(Idle().FindSpecificExe(nullptr, false));
  Lines expected = PrivilegeCalls(1);
  for (const char* call : {"Snapshot", "First", "Next", "Close snapshot 1"}) expected.push_back(call);
  EXPECT_EQ(mProcesses.Snapshot().Calls, expected) << "explorer.exe read, MySetup.exe matched, setup.exe never read";
}

TEST_F(SpecificExeTest, ASearchingCallTracesNothingAndLeavesTheSlotAlone) {
  mProcesses.ProcessList = kThreeSetups;
  mMethod.SpecificExeName = u"setup";
  auto* const sentinel = reinterpret_cast<platform::Handle>(0x77);
  platform::Handle slot = sentinel;
  EXPECT_TRUE(Idle().FindSpecificExe(&slot, false));
  EXPECT_EQ(slot, sentinel);
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
  mProcesses.ProcessList = kThreeSetups;
  // The error code tells how many lines had been written when it was read.
  mProcesses.OnLastError = [this] { return static_cast<std::uint32_t>(1000 + mConsole.Writes().size()); };
  mMethod.SpecificExeName = u"setup";
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
  mProcesses.ProcessList = kThreeSetups;
  mProcesses.OpensBeforeFailure = 0;
  mProcesses.LastErrorCode = 5;
  mMethod.SpecificExeName = u"setup";
  platform::Handle slot = reinterpret_cast<platform::Handle>(0x77);
  EXPECT_TRUE(Idle().FindSpecificExe(&slot, true));
  EXPECT_EQ(slot, nullptr);
  EXPECT_EQ(Trace(), (Lines{"Handle : 0", "Error Code : 5", "Exe Found : MySetup.exe", "Handle : 0"}));
  EXPECT_TRUE(mProcesses.EveryHandleClosedOnce());
}

TEST_F(SpecificExeTest, AnOpeningSearchWithoutASlotClosesWhatItOpened) {
  mProcesses.ProcessList = kThreeSetups;
  mMethod.SpecificExeName = u"setup";
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
    FakeConsole console;
    diag_testing::ScopedConsoleServices consoleScope(console);
    DebugConsoleInstance(true);
    FakeProcesses processes;
    processes.ProcessList = kThreeSetups;
    processes.SnapshotFails = c.snapshotFails;
    processes.FirstEntryFails = c.firstEntryFails;
    mMethod.SpecificExeName = u"setup";
    ExecuteProgram worker(true, mParam, &mMethod, INSTALLMETHOD::WaitSpecificExe);
    auto* const sentinel = reinterpret_cast<platform::Handle>(0x77);
    platform::Handle slot = sentinel;
    EXPECT_FALSE(worker.FindSpecificExe(&slot, true));
    EXPECT_EQ(slot, sentinel);
    EXPECT_TRUE(console.Writes().empty());
    Lines expected = PrivilegeCalls(1);
    expected.insert(expected.end(), c.tail.begin(), c.tail.end());
    EXPECT_EQ(processes.Snapshot().Calls, expected);
    EXPECT_TRUE(processes.EveryHandleClosedOnce());
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
    FakeConsole console;
    diag_testing::ScopedConsoleServices consoleScope(console);
    DebugConsoleInstance(true);
    FakeProcesses processes;
    processes.TokenOpens = c.tokenOpens;
    processes.PrivilegeFound = c.privilegeFound;
    processes.ProcessList = kThreeSetups;
    mMethod.SpecificExeName = u"setup";
    ExecuteProgram worker(true, mParam, &mMethod, INSTALLMETHOD::WaitSpecificExe);

    worker.EnableDebugPrivilege();
    EXPECT_EQ(processes.Snapshot().Calls, c.calls);
    EXPECT_TRUE(console.Writes().empty());

    EXPECT_TRUE(worker.FindSpecificExe(nullptr, false)) << "the search goes on whatever the privilege did";
    const Lines calls = processes.Snapshot().Calls;
    const std::size_t snapshot = IndexOf(calls, "Snapshot");
    ASSERT_LT(snapshot, calls.size());
    EXPECT_EQ(Lines(calls.begin() + static_cast<long>(c.calls.size()), calls.begin() + static_cast<long>(snapshot)),
              c.tokenOpens ? (c.privilegeFound ? PrivilegeCalls(2)
                                               : Lines{"OpenToken", "LookupPrivilege", "Close token 2"})
                           : c.calls);
    EXPECT_TRUE(console.Writes().empty());
    EXPECT_TRUE(processes.EveryHandleClosedOnce());
  }
}

TEST_F(SpecificExeTest, AProcessThatEndedBeforeTheOpeningSearchIsNotFound) {
  mProcesses.ListForSnapshot = [](int n) { return n == 1 ? kThreeSetups : List{{4, u"explorer.exe"}}; };
  mMethod.SpecificExeName = u"setup";
  EXPECT_TRUE(Idle().FindSpecificExe(nullptr, false));
  auto* const sentinel = reinterpret_cast<platform::Handle>(0x77);
  platform::Handle slot = sentinel;
  EXPECT_FALSE(Idle().FindSpecificExe(&slot, true));
  EXPECT_EQ(slot, sentinel);
  EXPECT_TRUE(mConsole.Writes().empty());
  EXPECT_TRUE(mProcesses.EveryHandleClosedOnce());
}

// --- the wait ------------------------------------------------------------------

TEST_F(SpecificExeTest, WithoutSearchingTheLaunchedProgramIsWaitedFor) {
  mProcesses.WaitsBeforeEnd = 3;
  mProcesses.ProcessList = kThreeSetups;
  mMethod.SpecificExeName = u"setup";  // not looked for
  EXPECT_EQ(Run(), (Lines{"Install Method = 2", kEnter, "Break by handle closed", kLeave}));
  const FakeProcesses::Record record = mProcesses.Snapshot();
  EXPECT_EQ(record.Calls,
            (Lines{"Launch", "Wait 200", "Wait 200", "Wait 200", "Wait 200", "Close launched"}))
      << "no search and no open by id";
  EXPECT_EQ(record.Launched.File, mParam.FileName);
  EXPECT_EQ(record.Launched.Parameters, u"/r:NVKM");
  EXPECT_TRUE(mFlag);
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
  mMethod.SearchSpecificExe = true;
  mMethod.SpecificExeName = u"SetupProgram";
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
    FakeConsole console;
    diag_testing::ScopedConsoleServices consoleScope(console);
    DebugConsoleInstance(true);
    FakeProcesses processes;
    FakeClock clock;
    processes.ProcessList = {{4, u"explorer.exe"}, {4242, u"Norvik_TB_Installer.exe"}};
    ExecuteProgram* worker = nullptr;
    processes.OnSnapshot = [&worker](int n) {
      if (n == 25) worker->Terminate();
    };
    GuardAgainstRunaway(processes, worker);
    mParam.RemoveStaged = true;
    InstallMethodParam method;
    method.SearchSpecificExe = true;
    method.SpecificExeName = c.wanted;
    method.UseTimeout = 1;  // five seconds of searching pass: the time-out is not looked at
    method.TimeoutSeconds = 1;
    bool removeStaged = true;
    RunScenario([&](ScenarioForm& form) {
      worker = new ExecuteProgram(true, mParam, &method, INSTALLMETHOD::WaitSpecificExe);
      worker->OnTerminate = [&](TObject*) {
        removeStaged = worker->Request().RemoveStaged;
        form.Close();
      };
      worker->Start();
    });
    const std::vector<std::string> writes = console.Writes();
    EXPECT_EQ(writes, (Lines{"Install Method = 2\n", kEnter + "\n", "Break by user terminate\n", kLeave + "\n"}));
    const std::vector<FakeClock::Pause> sleeps = clock.Sleeps();
    EXPECT_EQ(sleeps.size(), 25u);
    EXPECT_TRUE(std::all_of(sleeps.begin(), sleeps.end(), [](const FakeClock::Pause& p) { return p.Milliseconds == 200; }));
    const FakeProcesses::Record record = processes.Snapshot();
    EXPECT_EQ(Count(record.Calls, "Snapshot"), 25);
    EXPECT_TRUE(record.WaitedOn.empty()) << "nothing is waited on while searching";
    EXPECT_EQ(record.Calls.back(), "Close launched") << "the launched handle is kept until the end";
    EXPECT_FALSE(removeStaged);
    EXPECT_TRUE(processes.EveryHandleClosedOnce());
  }
}

TEST_F(SpecificExeTest, TheLaunchedInstallerMatchesItself) {
  mProcesses.ProcessList = {{4, u"explorer.exe"}, {4242, u"Norvik_TB_Installer.exe"}};
  mProcesses.WaitsBeforeEnd = 0;
  mMethod.SearchSpecificExe = true;
  mMethod.SpecificExeName = u"tb_installer";
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

TEST_F(SpecificExeTest, AMatchThatEndsBeforeItIsOpenedLeavesANullHandleWaitedOnWithoutPause) {
  struct Case {
    const char* name;
    bool byTimeOut;
    std::string last;
  };
  const Case cases[] = {{"until termination", false, "Break by user terminate"},
                        {"until the time-out", true, "Break by time out"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FakeConsole console;
    diag_testing::ScopedConsoleServices consoleScope(console);
    DebugConsoleInstance(true);
    FakeProcesses processes;
    FakeClock clock;
    // Listed at the searching call, gone at the opening call.
    processes.ListForSnapshot = [](int n) { return n == 1 ? kThreeSetups : List{{4, u"explorer.exe"}}; };
    ExecuteProgram* worker = nullptr;
    processes.OnWait = [&](int n) {
      if (n == 50) {
        if (c.byTimeOut) {
          clock.Advance(10);
        } else {
          worker->Terminate();
        }
      }
    };
    GuardAgainstRunaway(processes, worker);
    InstallMethodParam method;
    method.SearchSpecificExe = true;
    method.SpecificExeName = u"setup";
    method.UseTimeout = c.byTimeOut ? 1 : 0;
    method.TimeoutSeconds = 5;
    RunScenario([&](ScenarioForm& form) {
      worker = new ExecuteProgram(true, mParam, &method, INSTALLMETHOD::WaitSpecificExe);
      worker->OnTerminate = [&form](TObject*) { form.Close(); };
      worker->Start();
    });
    EXPECT_EQ(console.Writes(), (Lines{"Install Method = 2\n", kEnter + "\n", c.last + "\n", kLeave + "\n"}))
        << "no open, so no trace of one";
    const FakeProcesses::Record record = processes.Snapshot();
    EXPECT_EQ(record.WaitedOn, Lines(50, "none"));
    EXPECT_EQ(Count(record.Calls, "Snapshot"), 2) << "no search once a match was seen";
    EXPECT_EQ(clock.Sleeps().size(), 1u) << "one pause after the search, none in the waiting passes";
    EXPECT_LT(IndexOf(record.Calls, "Close launched"), IndexOf(record.Calls, "Wait 200"));
    EXPECT_TRUE(processes.EveryHandleClosedOnce());
  }
}

TEST_F(SpecificExeTest, TheTimeOutCountsFromTheStartOnceTheProcessIsFound) {
  mProcesses.ListForSnapshot = [](int n) { return n < 6 ? List{} : kThreeSetups; };
  mProcesses.WaitsBeforeEnd = -1;
  mProcesses.OnWait = [this](int) { mClock.Advance(1); };
  mMethod.SearchSpecificExe = true;
  mMethod.SpecificExeName = u"setup";
  mMethod.UseTimeout = 1;
  mMethod.TimeoutSeconds = 3;
  const Lines trace = Run();
  ASSERT_FALSE(trace.empty());
  EXPECT_EQ(Lines(trace.end() - 2, trace.end()), (Lines{"Break by time out", kLeave}));
  // Five searches and the pair that finds: six pauses, 1.2 s. The waiting
  // passes then see 1, 2, 3 seconds and wait; the pass at 4 seconds ends it.
  EXPECT_EQ(mProcesses.Snapshot().WaitedOn.size(), 3u);
  EXPECT_TRUE(mProcesses.EveryHandleClosedOnce());
}

// A clock whose calendar time jumps far ahead after a number of readings, so
// that a loop that only reads the clock can be stopped by its time-out.
class JumpingClock final : public platform::Clock {
 public:
  explicit JumpingClock(int readings) : mReadings(readings) {}
  std::int64_t Now() override { return ++mRead > mReadings ? FakeClock::kStart + 3600 : FakeClock::kStart; }
  void Sleep(std::uint32_t) override { ++mSleeps; }
  int Readings() const { return mRead.load(); }
  int Sleeps() const { return mSleeps.load(); }

 private:
  const int mReadings;
  std::atomic<int> mRead{0};
  std::atomic<int> mSleeps{0};
  platform::ScopedClockForTesting mScope{*this};
};

TEST_F(SpecificExeTest, IgnoringTheProcessEndNeverWaitsOnIt) {
  mProcesses.ProcessList = kThreeSetups;
  mProcesses.WaitsBeforeEnd = 0;  // the process has ended, but nobody asks
  mMethod.SearchSpecificExe = true;
  mMethod.SpecificExeName = u"setup";
  mMethod.IgnoreProcessEnd = true;
  mMethod.UseTimeout = 1;
  mMethod.TimeoutSeconds = 60;
  JumpingClock clock(500);  // the start, then 499 passes, then an hour later
  // The sixth handle issued (launched, token, snapshot, token, snapshot) is 0x1014.
  EXPECT_EQ(Run(), (Lines{"Install Method = 2", kEnter, "Handle : 4116", "Error Code : 0", "Exe Found : MySetup.exe",
                          "Handle : 4116", "Break by time out", kLeave}));
  EXPECT_TRUE(mProcesses.Snapshot().WaitedOn.empty());
  EXPECT_EQ(clock.Readings(), 501);
  EXPECT_EQ(clock.Sleeps(), 1) << "one pause after the search; the passes run without one";
  EXPECT_TRUE(mProcesses.EveryHandleClosedOnce());
}

TEST_F(SpecificExeTest, WithoutWaitingTheHandleIsClosedAtOnce) {
  mParam.WaitForExit = false;
  mMethod.SearchSpecificExe = true;
  mMethod.SpecificExeName = u"setup";
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
  mMethod.SearchSpecificExe = true;
  mMethod.SpecificExeName = u"setup";
  mProcesses.ProcessList = kThreeSetups;
  EXPECT_EQ(Run(), (Lines{"Install Method = 2", kEnter, kLeave}));
  EXPECT_EQ(mProcesses.Snapshot().Calls, (Lines{"Launch"}));
  EXPECT_FALSE(mFlag);
  EXPECT_EQ(HandBacks(), 1);
}

TEST_F(SpecificExeTest, ALaunchWithoutAHandleWaitsOnNothingUntilTheTimeOut) {
  mProcesses.LaunchGivesHandle = false;
  mProcesses.OnWait = [this](int n) {
    if (n == 40) mClock.Advance(10);
  };
  mMethod.UseTimeout = 1;
  mMethod.TimeoutSeconds = 5;
  EXPECT_EQ(Run(), (Lines{"Install Method = 2", kEnter, "Break by time out", kLeave}));
  const FakeProcesses::Record record = mProcesses.Snapshot();
  EXPECT_EQ(record.WaitedOn, Lines(40, "none"));
  EXPECT_TRUE(mClock.Sleeps().empty());
}

}  // namespace
