// The worker driven by scripted process services: every path of install
// method 0, the copy request, other method numbers and the hand-back.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <thread>
#include <vector>

#include "framework/paths.h"
#include "tests/support/fake_files.h"
#include "tests/support/fake_paths.h"
#include "tests/support/worker_fixture.h"

namespace {

class WorkerTest : public WorkerFixture {
 protected:
  WorkerTest() { mProcesses.WatchedFlag = &mFlag; }
};

TEST_F(WorkerTest, DialogRequestEndsWhenTheInstallerEnds) {
  mProcesses.WaitsBeforeEnd = 3;
  EXPECT_EQ(Run(0), (Lines{"Install Method = 0", "Break by handle closed"}));
  const FakeProcesses::Record record = mProcesses.Snapshot();
  EXPECT_EQ(record.Launched.File, mParam.FileName);
  EXPECT_EQ(record.Launched.Parameters, u"/r:NVKM");
  EXPECT_EQ(record.Launched.Directory, kFolder) << "the program's folder is the working folder";
  EXPECT_EQ(record.Launched.ShowCommand, 1);
  EXPECT_EQ(record.Calls,
            (Lines{"Launch", "ProcessIdOf", "Open 4242", "Wait 200", "Close opened 1", "Open 4242", "Wait 200",
                   "Close opened 2", "Open 4242", "Wait 200", "Close opened 3", "Open 4242", "Wait 200",
                   "Close launched", "Close opened 4"}))
      << "the launch handle is closed before the last opened one";
  EXPECT_TRUE(mProcesses.EveryHandleClosedOnce());
  EXPECT_TRUE(mFlag);
  ASSERT_FALSE(record.FlagAtWait.empty());
  EXPECT_EQ(record.FlagAtWait.front(), true) << "handed back before any waiting";
  EXPECT_EQ(HandBacks(), 1);
  EXPECT_TRUE(mNoticeOnMain);
  EXPECT_EQ(WorkerComCalls(), (Lines{"CoInitializeEx 6", "CoUninitialize", "CoUninitialize", "CoUninitialize"}))
      << "the run's own pair, then the event engine's two releases when the tracker goes";
  EXPECT_EQ(mCom.CallsOn(mWorkerThread).size(), 4u) << "all on the worker";
  EXPECT_TRUE(mClock.Sleeps().empty()) << "method 0 waits on the process, never on the clock";
}

TEST_F(WorkerTest, FailedOpenEndsTheWait) {
  mProcesses.OpensBeforeFailure = 2;
  mProcesses.WaitsBeforeEnd = -1;
  EXPECT_EQ(Run(0), (Lines{"Install Method = 0", "Break by OpenProcess Fail"}));
  EXPECT_TRUE(mProcesses.EveryHandleClosedOnce());
  EXPECT_TRUE(mFlag);
}

TEST_F(WorkerTest, TerminationRequestEndsTheWaitAndKeepsTheStagedFolder) {
  mParam.RemoveStaged = true;
  mProcesses.WaitsBeforeEnd = -1;
  mProcesses.OnWait = [this](int count) {
    if (count == 5) mWorker->Terminate();
  };
  EXPECT_EQ(Run(0), (Lines{"Install Method = 0", "Break by user terminate"}));
  EXPECT_EQ(Count(mProcesses.Snapshot().Calls, "Wait 200"), 5);
  EXPECT_TRUE(mProcesses.EveryHandleClosedOnce());
  EXPECT_FALSE(mRemoveStagedAtEnd) << "a terminated run keeps its staged folder";
}

TEST_F(WorkerTest, RemoveStagedStaysSetWhenTheRunEndsByItself) {
  mParam.RemoveStaged = true;
  mProcesses.WaitsBeforeEnd = 2;
  EXPECT_EQ(Run(0), (Lines{"Install Method = 0", "Break by handle closed"}));
  EXPECT_TRUE(mRemoveStagedAtEnd);
}

TEST_F(WorkerTest, TerminationIsCheckedBeforeTheTimeOut) {
  // Both are due at the same pass: the termination request names the reason.
  mParam.RemoveStaged = true;
  TimeOutAfter(5);
  mProcesses.WaitsBeforeEnd = -1;
  mProcesses.OnWait = [this](int count) {
    if (count == 3) {
      mClock.Advance(60);
      mWorker->Terminate();
    }
  };
  EXPECT_EQ(Run(0), (Lines{"Install Method = 0", "Break by user terminate"}));
  EXPECT_FALSE(mRemoveStagedAtEnd);
}

TEST_F(WorkerTest, TimeOutAloneKeepsRemoveStaged) {
  mParam.RemoveStaged = true;
  TimeOutAfter(5);
  mProcesses.WaitsBeforeEnd = -1;
  mProcesses.OnWait = [this](int count) {
    if (count == 3) mClock.Advance(60);
  };
  EXPECT_EQ(Run(0), (Lines{"Install Method = 0", "Break by time out"}));
  EXPECT_TRUE(mRemoveStagedAtEnd);
}

TEST_F(WorkerTest, TimeOutCountsWholeSecondsFromTheStartIncludingTimeBeforeTheLaunch) {
  struct Case {
    const char* name;
    std::int32_t useTimeout;
    std::int32_t seconds;
    std::int64_t beforeLaunch;  // seconds that pass between the start and the launch
    long expectedWaits;         // each wait takes one second
    const char* last;
  };
  const Case cases[] = {
      // Passes see 0, 1, ... 5 seconds and wait; the pass at 6 seconds ends it.
      {"5 s", 1, 5, 0, 6, "Break by time out"},
      {"5 s, 2 s before the launch", 1, 5, 2, 4, "Break by time out"},
      {"zero: once a second has passed", 1, 0, 0, 1, "Break by time out"},
      {"negative: at once", 1, -1, 0, 0, "Break by time out"},
      {"UseTimeout 2 means none", 2, 1, 0, 13, "Break by handle closed"},
      {"UseTimeout 0 means none", 0, 1, 0, 13, "Break by handle closed"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CaseFakes fakes;
    fakes.Processes.WaitsBeforeEnd = 12;
    fakes.Processes.OnLaunch = [&fakes, &c] { fakes.Clock.Advance(c.beforeLaunch); };
    fakes.Processes.OnWait = [&fakes](int) { fakes.Clock.Advance(1); };
    mMethod.UseTimeout = c.useTimeout;
    mMethod.TimeoutSeconds = c.seconds;
    RunWorker(0);
    const std::vector<std::string> writes = fakes.Console.Writes();
    ASSERT_FALSE(writes.empty());
    EXPECT_EQ(writes.back(), std::string(c.last) + "\n");
    EXPECT_EQ(Count(fakes.Processes.Snapshot().Calls, "Wait 200"), c.expectedWaits);
    EXPECT_TRUE(fakes.Processes.EveryHandleClosedOnce());
  }
}

TEST_F(WorkerTest, NoWaitWhenAskedNotToOrWithoutAHandle) {
  mParam.WaitForExit = false;
  EXPECT_EQ(Run(0), (Lines{"Install Method = 0"}));
  FakeProcesses::Record record = mProcesses.Snapshot();
  EXPECT_EQ(record.Calls, (Lines{"Launch", "Close launched"})) << "launched, handle closed at once";
  EXPECT_TRUE(mFlag);
  EXPECT_EQ(HandBacks(), 1);
}

TEST_F(WorkerTest, LaunchWithoutAProcessHandleWaitsForNothing) {
  mProcesses.LaunchGivesHandle = false;
  EXPECT_EQ(Run(0), (Lines{"Install Method = 0"}));
  EXPECT_EQ(mProcesses.Snapshot().Calls, (Lines{"Launch"}));
  EXPECT_TRUE(mFlag);
}

TEST_F(WorkerTest, FailedLaunchHandsBackFalseAndRunsNoLoop) {
  mFlag = true;
  mProcesses.LaunchSucceeds = false;
  EXPECT_EQ(Run(0), (Lines{"Install Method = 0"}));
  EXPECT_EQ(mProcesses.Snapshot().Calls, (Lines{"Launch"}));
  EXPECT_FALSE(mFlag);
  EXPECT_EQ(HandBacks(), 1);
}

TEST_F(WorkerTest, IgnoringTheProcessEndPausesEachPassInsteadOfWaiting) {
  struct Case {
    const char* name;
    bool byTimeOut;
    long passes;  // opens by id, each followed by its pause
    const char* last;
  };
  const Case cases[] = {
      {"until termination", false, 25, "Break by user terminate"},
      // The pauses are the only time that passes: 30 of them make 6 s, which
      // the 31st pass finds beyond the 5 s.
      {"until the time-out", true, 30, "Break by time out"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CaseFakes fakes;
    fakes.Processes.WaitsBeforeEnd = 0;  // the process has ended, but nobody asks
    fakes.Processes.OnLaunch = [this] { mWorkerThread = std::this_thread::get_id(); };
    // The run without a time-out is asked to terminate at its 25th pass; the
    // other only at its 10000th, should it never end by itself (a fault
    // under test).
    fakes.Processes.OnOpen = [this, &c](int count) {
      if (count == (c.byTimeOut ? 10000 : 25)) mWorker->Terminate();
    };
    mMethod.IgnoreProcessEnd = true;
    mMethod.UseTimeout = c.byTimeOut ? 1 : 0;
    mMethod.TimeoutSeconds = 5;
    RunWorker(0);
    EXPECT_EQ(fakes.Console.Writes(), (Lines{"Install Method = 0\n", std::string(c.last) + "\n"}));
    const Lines calls = fakes.Processes.Snapshot().Calls;
    EXPECT_EQ(Count(calls, "Open 4242"), c.passes);
    EXPECT_EQ(Count(calls, "Wait 200"), 0);
    EXPECT_EQ(fakes.Clock.SleepsOn(mWorkerThread), std::vector<std::uint32_t>(c.passes, 200))
        << "each pass pauses as long as the wait it leaves out";
    EXPECT_EQ(fakes.Clock.Sleeps().size(), static_cast<std::size_t>(c.passes)) << "all on the worker";
    EXPECT_TRUE(fakes.Processes.EveryHandleClosedOnce());
  }
}

TEST_F(WorkerTest, DestroyingARunningWorkerEndsItsRunBeforeTheTrackerGoes) {
  mProcesses.WaitsBeforeEnd = -1;  // the installer never ends
  std::atomic<int> waits{0};
  mProcesses.OnWait = [&waits](int count) { waits = count; };
  DebugConsoleInstance(true);
  RunScenario([&](ScenarioForm& form) {
    auto* worker = new ExecuteProgram(true, mParam, &mMethod, INSTALLMETHOD::WaitLaunchedExe);
    worker->FreeOnTerminate = false;
    worker->Start();
    // Serves the worker's hand-back until it is waiting on the installer.
    while (waits < 2) {
      framework::CheckSynchronize();
      std::this_thread::yield();
    }
    delete worker;
    form.Close();
  });
  EXPECT_EQ(Trace(), (Lines{"Install Method = 0", "Break by user terminate"})) << "the run was asked to end";
  EXPECT_EQ(mCom.CallsOn(mWorkerThread), (Lines{"CoInitializeEx 6", "CoUninitialize", "CoUninitialize",
                                                "CoUninitialize"}))
      << "the run ended on its thread, the tracker's two releases last";
  EXPECT_EQ(mCom.CallsOn(mMainThread), (Lines{"CoInitialize", "CoInitializeEx 2", "CoInitializeSecurity",
                                              "CoUninitialize"}))
      << "the application's initialisation and the tracker's connection attempt; the destructor found the "
         "tracker gone";
  EXPECT_TRUE(mProcesses.EveryHandleClosedOnce());
}

TEST_F(WorkerTest, OtherMethodNumbersLaunchNothingAndHandNothingBack) {
  mFlag = true;
  EXPECT_EQ(Run(3), (Lines{"Install Method = 3"}));
  EXPECT_TRUE(mProcesses.Snapshot().Calls.empty());
  EXPECT_TRUE(mFlag) << "ResultFlag untouched";
  EXPECT_EQ(HandBacks(), 0);
  EXPECT_EQ(WorkerComCalls(), (Lines{"CoInitializeEx 6", "CoUninitialize", "CoUninitialize", "CoUninitialize"}))
      << "COM all the same, and the tracker's teardown";
}

TEST_F(WorkerTest, NullResultFlagIsNotWritten) {
  mParam.ResultFlag = nullptr;
  mProcesses.WaitsBeforeEnd = 0;
  EXPECT_EQ(Run(0), (Lines{"Install Method = 0", "Break by handle closed"}));
  EXPECT_EQ(HandBacks(), 1);
}

TEST_F(WorkerTest, CopyRequestIsRecognisedInAnyCaseAndTracesNothing) {
  const std::u16string names[] = {u"COPYFILE", u"copyfile", u"CopyFile"};
  std::size_t runs = 0;
  for (const std::u16string& name : names) {
    mFlag = true;
    mParam.FileName = kFolder + name;
    mParam.Parameters = u"/r:NVKM";  // fewer than two items: the copy fails
    EXPECT_TRUE(Run(0).empty());
    EXPECT_FALSE(mFlag);
    EXPECT_TRUE(mProcesses.Snapshot().Calls.empty());
    EXPECT_EQ(HandBacks(), 1);
    EXPECT_EQ(WorkerComCalls(), Lines(2 * ++runs, "CoUninitialize"))
        << "no COM of the run's own; only the event engine's two releases at the tracker's teardown";
  }
  mParam.FileName = kFolder + u"COPYFILE.EXE";
  mProcesses.WaitsBeforeEnd = 0;
  EXPECT_EQ(Run(0), (Lines{"Install Method = 0", "Break by handle closed"})) << "not a copy request";
}

TEST_F(WorkerTest, CopyRequestCopiesHandsBackAndFinishesWithoutComTraceOrLaunch) {
  FakeFiles files;
  files.AddFile(P(u"/src/a.txt"), "a");
  files.AddFile(P(u"/src/sub/b.txt"), "b");
  mParam.FileName = kFolder + u"COPYFILE";
  mParam.Parameters = P(u"/src/") + u"," + P(u"/dst") + u",/E";
  mParam.StageSource = u"1";  // a copy request never stages
  files.Temp = P(u"/tmp/");
  EXPECT_TRUE(Run(0).empty());
  EXPECT_TRUE(mFlag);
  EXPECT_EQ(HandBacks(), 1);
  EXPECT_TRUE(files.Has(P(u"/dst/sub/b.txt")));
  EXPECT_FALSE(files.Has(P(u"/tmp")));
  EXPECT_TRUE(mProcesses.Snapshot().Calls.empty());
  EXPECT_EQ(WorkerComCalls(), Lines(2, "CoUninitialize"))
      << "no COM of the run's own; the tracker is torn down all the same (the event engine's two releases)";
  EXPECT_TRUE(mNoticeOnMain);
}

class StagedWorkerTest : public WorkerTest {
 protected:
  StagedWorkerTest() {
    mFiles.Temp = P(u"/tmp/");
    mFiles.AddFolder(P(u"/tmp"));
    mFiles.AddFile(mParam.FileName, "program");
    mFiles.AddFile(kFolder + u"setup.ini", "BootOption=1\n");
    mParam.StageSource = u"1";
    mParam.BootOptionFile = u"setup.ini";
  }
  // A path in the staged folder, named after the installer's folder.
  std::u16string Staged(std::u16string_view rest) {
    return P(u"/tmp/" + ExtractFileName(ExcludeTrailingPathDelimiter(kFolder)) + std::u16string(rest));
  }
  FakeFiles mFiles;
};

TEST_F(StagedWorkerTest, LaunchesTheStagedCopyAndRemovesItAfterTheRun) {
  mParam.RemoveStaged = true;
  mProcesses.WaitsBeforeEnd = 1;
  EXPECT_EQ(Run(0), (Lines{"Install Method = 0", "Break by handle closed"}));
  const FakeProcesses::Record record = mProcesses.Snapshot();
  EXPECT_EQ(record.Launched.File, Staged(u"/Norvik_TB_Installer.exe"));
  EXPECT_EQ(record.Launched.Directory, Staged(u"/"));
  EXPECT_FALSE(mFiles.Has(Staged(u""))) << "removed after the run";
  EXPECT_TRUE(mFiles.Has(mParam.FileName)) << "the source stays";
  EXPECT_EQ(WorkerComCalls(), (Lines{"CoInitializeEx 6", "CoUninitialize", "CoUninitialize", "CoUninitialize"}));
}

TEST_F(StagedWorkerTest, StagedCopyStaysWithoutRemoveStaged) {
  mProcesses.WaitsBeforeEnd = 1;
  Run(0);
  ASSERT_TRUE(mFiles.Has(Staged(u"/setup.ini")));
  EXPECT_EQ(mFiles.Find(Staged(u"/setup.ini"))->Data, "BootOption=0\r\n");
}

TEST_F(StagedWorkerTest, StagedCopyStaysAfterATermination) {
  mParam.RemoveStaged = true;
  mProcesses.WaitsBeforeEnd = -1;
  mProcesses.OnWait = [this](int count) {
    if (count == 2) mWorker->Terminate();
  };
  EXPECT_EQ(Run(0), (Lines{"Install Method = 0", "Break by user terminate"}));
  EXPECT_TRUE(mFiles.Has(Staged(u"/Norvik_TB_Installer.exe")));
}

TEST_F(StagedWorkerTest, SettingsFileFailureEndsTheRunBeforeComLaunchAndHandBack) {
  mFiles.FailOn("ReadFile", Staged(u"/setup.ini"));
  mFlag = true;
  EXPECT_TRUE(Run(0).empty());
  EXPECT_TRUE(mProcesses.Snapshot().Calls.empty());
  EXPECT_EQ(HandBacks(), 0);
  EXPECT_TRUE(mFlag) << "nothing handed back";
  EXPECT_EQ(WorkerComCalls(), Lines(2, "CoUninitialize"))
      << "no COM of the run's own, but the tracker is torn down: the event engine's two releases";
  EXPECT_FALSE(mFiles.Has(Staged(u""))) << "nothing was launched from it, RemoveStaged or not";
  EXPECT_TRUE(mNoticeOnMain) << "the run still ends normally";
}

TEST_F(StagedWorkerTest, RefusedStagedFolderHandsBackAFailedLaunch) {
  mFiles.AddFolder(Staged(u""), true);
  mFiles.AddFile(Staged(u"/theirs.exe"), "theirs");
  mParam.RemoveStaged = true;
  mFlag = true;
  EXPECT_TRUE(Run(0).empty());
  EXPECT_TRUE(mProcesses.Snapshot().Calls.empty());
  EXPECT_EQ(HandBacks(), 1);
  EXPECT_FALSE(mFlag);
  EXPECT_EQ(WorkerComCalls(), Lines(2, "CoUninitialize")) << "only the tracker's teardown";
  EXPECT_TRUE(mFiles.Changes().empty()) << "nothing emptied, copied or removed";
}

TEST(TimedOut, StrictlyLessThanTheWholeSecondsElapsed) {
  FakeClock clock;
  InstallMethodParam method;
  ExecuteProgram worker(true, ExeParameter{}, &method, 0);
  const std::int64_t start = clock.Now();
  EXPECT_TRUE(worker.TimedOut(start, -1));
  EXPECT_FALSE(worker.TimedOut(start, 0));
  clock.Advance(1);
  EXPECT_TRUE(worker.TimedOut(start, 0));
  EXPECT_FALSE(worker.TimedOut(start, 1));
  clock.Advance(5);
  EXPECT_FALSE(worker.TimedOut(start, 6));
  EXPECT_TRUE(worker.TimedOut(start, 5));
}

}  // namespace
