// Install method 1 and the tracker's lifetime in the worker, on scripted
// process services, a fake clock and a fake event service.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <thread>

#include "tests/support/worker_fixture.h"

#ifndef _WIN32
#include "tests/support/linux_event_objects.h"
#include "tests/support/fake_wmi.h"
#endif

namespace {

// Each worker starts at a lower priority; its priority at the end is kept.
class ProcessTreeWaitTest : public WorkerFixture {
 protected:
  ProcessTreeWaitTest() { mProcesses.LaunchedId = 4242; }

  void Starting(ExecuteProgram& worker) override { worker.SetPriority(TThreadPriority::tpLower); }
  void Ended(ExecuteProgram& worker) override { mPriorityAtEnd = worker.Priority(); }

  std::vector<std::uint32_t> WorkerSleeps() { return mClock.SleepsOn(mWorkerThread); }

  TThreadPriority mPriorityAtEnd = TThreadPriority::tpIdle;
};

const std::string kRootLine = "this->mPIDSet.insert(dwId) = 4242";
const std::string kNoDescendant = "this->mLimitMonitorPID.size() < 2";

TEST_F(ProcessTreeWaitTest, WithoutNotificationsOnlyTheTimeOutEndsTheWait) {
  TimeOutAfter(1);
  // 150 ms passes on a clock that moves only by them: more than one whole
  // second has passed at the 15th check, after 14 pauses (2.1 s).
  Lines expected{"Install Method = 1", kRootLine};
  expected.insert(expected.end(), 14, kNoDescendant);
  expected.push_back("Break by time out");
  EXPECT_EQ(Run(1), expected);
  EXPECT_EQ(WorkerSleeps(), std::vector<std::uint32_t>(14, 150));
  EXPECT_TRUE(mFlag);
  // Each finished test asks the launched process's own handle first (it has
  // ended here, so the test goes on to the descendants it never heard of).
  Lines calls{"Launch", "ProcessIdOf"};
  calls.insert(calls.end(), 14, "Wait 0");  // one per finished test
  calls.push_back("Close launched");
  EXPECT_EQ(mProcesses.Snapshot().Calls, calls);
  EXPECT_TRUE(mProcesses.EveryHandleClosedOnce());
  EXPECT_EQ(mPriorityAtEnd, TThreadPriority::tpNormal);
  EXPECT_EQ(mCom.CallsOn(mWorkerThread), (Lines{"CoInitializeEx 6", "CoInitializeEx 6", "CoUninitialize",
                                               "CoUninitialize", "CoUninitialize", "CoUninitialize"}))
      << "the run's pair around the tracker's pair, then the event engine's two releases at the end of method 1";
}

TEST_F(ProcessTreeWaitTest, IgnoreProcessEndAsksNothingOfTheTracker) {
  mMethod.IgnoreProcessEnd = true;
  TimeOutAfter(0);
  EXPECT_EQ(Run(1), (Lines{"Install Method = 1", kRootLine, "Break by time out"}));
  EXPECT_EQ(WorkerSleeps(), std::vector<std::uint32_t>(7, 150)) << "0 s is passed after 1.05 s";
  EXPECT_TRUE(mProcesses.EveryHandleClosedOnce());
}

TEST_F(ProcessTreeWaitTest, TerminationEndsTheWaitAtTheTopOfAPass) {
  mParam.RemoveStaged = true;
  std::thread stopper([this] {
    while (!mStarted || mClock.Sleeps().size() < 3) std::this_thread::yield();
    mWorker->Terminate();  // the worker cannot end by itself: no time-out, no notifications
  });
  const Lines lines = Run(1);
  stopper.join();
  ASSERT_GE(lines.size(), 3u);
  EXPECT_EQ(lines.back(), "Break by user terminate");
  EXPECT_EQ(Count(lines, kNoDescendant), static_cast<long>(WorkerSleeps().size()))
      << "one finished test per pass, each followed by its pause";
  EXPECT_TRUE(mProcesses.EveryHandleClosedOnce());
}

TEST_F(ProcessTreeWaitTest, NoWaitWhenAskedNotTo) {
  mParam.WaitForExit = false;
  EXPECT_EQ(Run(1), (Lines{"Install Method = 1", kRootLine}));
  EXPECT_TRUE(WorkerSleeps().empty());
  EXPECT_EQ(mProcesses.Snapshot().Calls, (Lines{"Launch", "ProcessIdOf", "Close launched"}));
  EXPECT_TRUE(mFlag);
  EXPECT_EQ(mPriorityAtEnd, TThreadPriority::tpNormal);
}

TEST_F(ProcessTreeWaitTest, LaunchWithoutHandleWaitsForNothing) {
  mProcesses.LaunchGivesHandle = false;
  EXPECT_EQ(Run(1), (Lines{"Install Method = 1", "this->mPIDSet.insert(dwId) = 0"}));
  EXPECT_TRUE(WorkerSleeps().empty());
  EXPECT_TRUE(mFlag);
}

TEST_F(ProcessTreeWaitTest, FailedLaunchHandsBackFalseAndRunsNoLoop) {
  mFlag = true;
  mProcesses.LaunchSucceeds = false;
  EXPECT_EQ(Run(1), Lines{"Install Method = 1"});
  EXPECT_FALSE(mFlag);
  EXPECT_TRUE(WorkerSleeps().empty());
  EXPECT_EQ(mPriorityAtEnd, TThreadPriority::tpNormal);
}

TEST_F(ProcessTreeWaitTest, OtherMethodsLeaveThePriorityAlone) {
  mProcesses.WaitsBeforeEnd = 0;
  EXPECT_EQ(Run(0), (Lines{"Install Method = 0", "Break by handle closed"}));
  EXPECT_EQ(mPriorityAtEnd, TThreadPriority::tpLower);
}

TEST_F(ProcessTreeWaitTest, EveryWorkerConnectsItsTrackerOnTheCreatingThread) {
  // The fake event service refuses the connection, so nothing is subscribed.
  const std::thread::id main = std::this_thread::get_id();
  for (std::int32_t method : {0, 1, 3}) {
    SCOPED_TRACE(method);
    const std::size_t before = mCom.CallsOn(main).size();
    mProcesses.WaitsBeforeEnd = 0;
    mParam.WaitForExit = false;
    Run(method);
    const Lines calls = mCom.CallsOn(main);
    EXPECT_EQ(Lines(calls.begin() + static_cast<std::ptrdiff_t>(before), calls.end()),
              (Lines{"CoInitialize", "CoInitializeEx 2", "CoInitializeSecurity", "CoUninitialize"}))
        << "the application's own initialisation, then the tracker's connection attempt";
  }
}

TEST_F(ProcessTreeWaitTest, WorkerThatNeverRanStillDestroysItsTracker) {
  const std::thread::id main = std::this_thread::get_id();
  RunScenario([this](ScenarioForm& form) {
    auto* worker = new ExecuteProgram(true, mParam, &mMethod, INSTALLMETHOD::WaitProcessTree);
    delete worker;
    form.Close();
  });
  EXPECT_EQ(mCom.CallsOn(main), (Lines{"CoInitialize", "CoInitializeEx 2", "CoInitializeSecurity", "CoUninitialize",
                                       "CoUninitialize", "CoUninitialize"}))
      << "the application's initialisation, the connection attempt, then the event engine's two releases when "
         "the tracker goes";
  EXPECT_TRUE(mProcesses.Snapshot().Calls.empty());
}

#ifndef _WIN32
// With the scripted management service: the tracker's handlers hear of the
// tree through the event engine, and the wait ends at the first pass that
// finds the tree finished.
TEST_F(ProcessTreeWaitTest, NotificationsEndTheWaitOnceTheTreeHasEnded) {
  FakeWmi wmi;
  TimeOutAfter(3600);  // against hanging only: 24,000 passes of the fake clock
  // The installer runs until its stop has been reported.
  std::atomic<bool> installerEnded{false};
  mProcesses.RunningId = [&installerEnded](platform::ProcessId id) { return id == 4242 && !installerEnded; };
  std::thread service([&] {
    while (!mStarted || mClock.Sleeps().size() < 2) std::this_thread::yield();
    // The service hands each object to both queries: a start for the start
    // handler and a stop for the stop handler.
    IWbemClassObject* child = NewProcessEventObject(4242, 5000);  // a child of the installer came and went
    IWbemClassObject* installer = NewProcessEventObject(1, 4242);  // the installer itself ended
    EXPECT_EQ(wmi.Deliver({child}), 2);
    EXPECT_EQ(wmi.Deliver({installer}), 2);
    installerEnded = true;
    child->Release();
    installer->Release();
  });
  const Lines lines = Run(1);
  service.join();

  Lines worker;
  for (const std::string& line : lines)
    if (line.rfind("Install Method", 0) == 0 || line.rfind("Break by", 0) == 0) worker.push_back(line);
  EXPECT_EQ(worker, (Lines{"Install Method = 1", "Break by handle closed"}));
  for (const char* expected : {"Create PID = 5000", "Delete PID = 5000", "Delete PID = 4242"})
    EXPECT_NE(std::find(lines.begin(), lines.end(), expected), lines.end()) << expected;
  // The queries were made on the main thread's apartment, so the worker's
  // cancel may be refused; still, once the tracker is gone nothing reaches it.
  const std::size_t written = mConsole.Writes().size();
  IWbemClassObject* late = NewProcessEventObject(4242, 6000);
  wmi.Deliver({late});
  late->Release();
  const std::vector<std::string> writes = mConsole.Writes();
  const Lines after(writes.begin() + static_cast<std::ptrdiff_t>(written), writes.end());
  // The sinks still trace their deliveries; no handler line follows.
  const Lines sinkOnly{"=====Enter Indicate Event=====\n", "lObjectCount = 1\n", "=====Leave Indicate Event=====\n"};
  Lines twice = sinkOnly;
  twice.insert(twice.end(), sinkOnly.begin(), sinkOnly.end());
  EXPECT_EQ(after, twice) << "a handler ran after the tracker's teardown";
  EXPECT_TRUE(mProcesses.EveryHandleClosedOnce());
}
#endif

}  // namespace
