// Install method 1 on the real platform: the stand-in installer starts two
// children and ends at once; the worker waits for the whole tree. On Linux
// the tracker hears of it through the real event service; under Wine no
// notification arrives, so only the time-out ends the wait.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <fstream>
#include <string>
#include <thread>

#include "diag/debug_console.h"
#include "diag/debug_console_testing.h"
#include "engine/execute_program.h"
#include "tests/platform/standin.h"
#include "tests/support/fake_console.h"
#include "tests/support/headless_app.h"

namespace {

using Clock = std::chrono::steady_clock;
using Lines = std::vector<std::string>;

const std::string kWorkerLines[] = {"Install Method = ", "Break by "};

// The worker's own lines of a trace, without the tracker's and the sink's.
Lines WorkerLines(const std::vector<std::string>& writes) {
  Lines out;
  for (const std::string& write : writes) {
    const std::string line = write.substr(0, write.size() - 1);
    for (const std::string& prefix : kWorkerLines)
      if (line.rfind(prefix, 0) == 0) out.push_back(line);
  }
  return out;
}

class RealProcessTreeWait : public ::testing::Test {
 protected:
  RealProcessTreeWait() {
    mParam.FileName = standin::InstallerPath();
    mParam.Parameters = u"/r:NVKM";
    mParam.StageSource = u"0";
    mParam.WaitForExit = true;
    mParam.ShowCommand = 1;
    mParam.ResultFlag = &mFlag;
  }

  // Runs method 1 to its end; the time the worker ended.
  Clock::time_point Run() {
    DebugConsoleInstance(true);
    Clock::time_point ended;
    RunScenario([this, &ended](ScenarioForm& form) {
      auto* worker = new ExecuteProgram(true, mParam, &mMethod, INSTALLMETHOD::WaitProcessTree);
      worker->OnTerminate = [&ended, &form](TObject*) {
        ended = Clock::now();
        form.Close();
      };
      mLaunched = Clock::now();
      worker->Start();
    });
    return ended;
  }

  FakeConsole mConsole;
  diag_testing::ScopedConsoleServices mConsoleScope{mConsole};
  standin::TempFolder mFolder;
  ExeParameter mParam;
  InstallMethodParam mMethod;
  bool mFlag = false;
  Clock::time_point mLaunched;
};

#ifndef _WIN32

// "ended" once the process is gone or a zombie.
bool HasEnded(std::uint32_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
  const std::size_t close = text.rfind(')');
  return close == std::string::npos || close + 2 >= text.size() || text[close + 2] == 'Z';
}

TEST_F(RealProcessTreeWait, WaitEndsWithTheLastProcessOfTheTree) {
  const auto log = mFolder.Path() / "standin.log";
  standin::ScopedEnvironment logEnv("NVK_STANDIN_LOG", standin::Utf8(log));
  standin::ScopedEnvironment children("NVK_STANDIN_CHILDREN", "2");
  standin::ScopedEnvironment sleeps("NVK_STANDIN_CHILD_SLEEPS_MS", "1000,3000");
  standin::ScopedEnvironment grandchildren("NVK_STANDIN_GRANDCHILDREN", "1,0");
  standin::ScopedEnvironment grandchildSleep("NVK_STANDIN_GRANDCHILD_SLEEP_MS", "500");
  mMethod.UseTimeout = 1;
  mMethod.TimeoutSeconds = 30;  // a bound against hanging, far beyond the tree's life

  // The last member, watched from outside every 10 ms: the last time it was
  // seen running. Its end comes after that; the wait may end before the next
  // look, so the end itself need not be seen.
  std::atomic<bool> stop{false};
  std::atomic<std::uint32_t> lastChild{0};
  Clock::time_point lastSeenRunning{};
  std::thread watcher([&] {
    while (!stop) {
      if (lastChild == 0) {
        const std::vector<standin::StandInRun> runs = standin::ReadRuns(log);
        if (runs.size() == 4) {
          // The 3-s child: started by the installer, starting nobody.
          for (const standin::StandInRun& run : runs) {
            const bool child = run.Starter == std::to_string(runs[0].Pid);
            const bool parentOfSome = std::any_of(runs.begin(), runs.end(), [&](const standin::StandInRun& other) {
              return other.Starter == std::to_string(run.Pid);
            });
            if (child && !parentOfSome) lastChild = run.Pid;
          }
        }
      } else if (!HasEnded(lastChild)) {
        lastSeenRunning = Clock::now();
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  });
  const Clock::time_point ended = Run();
  const bool lastEndedBeforeWorker = lastChild != 0 && HasEnded(lastChild);
  stop = true;
  watcher.join();

  EXPECT_TRUE(mFlag);
  EXPECT_EQ(WorkerLines(mConsole.Writes()), (Lines{"Install Method = 1", "Break by handle closed"}));
  const std::vector<standin::StandInRun> runs = standin::ReadRuns(log);
  ASSERT_EQ(runs.size(), 4u) << "the installer, two children, one grandchild";
  ASSERT_NE(lastChild.load(), 0u);
  EXPECT_TRUE(lastEndedBeforeWorker) << "the wait ended while the 3-s child still ran";
  ASSERT_NE(lastSeenRunning, Clock::time_point{}) << "the 3-s child was never seen running";
  const double afterLast = std::chrono::duration<double>(ended - lastSeenRunning).count();
  EXPECT_LT(afterLast, 2.0) << "the wait went on too long after the tree had ended";
  std::printf("tree last seen running %.3f s after the launch; the wait ended at most %.3f s after its end\n",
              std::chrono::duration<double>(lastSeenRunning - mLaunched).count(), afterLast);
}

#else

TEST_F(RealProcessTreeWait, WithoutNotificationsTheTimeOutEndsTheWait) {
  mMethod.UseTimeout = 1;
  mMethod.TimeoutSeconds = 1;
  Run();
  EXPECT_TRUE(mFlag);
  EXPECT_EQ(WorkerLines(mConsole.Writes()), (Lines{"Install Method = 1", "Break by time out"}));
}

#endif

}  // namespace
