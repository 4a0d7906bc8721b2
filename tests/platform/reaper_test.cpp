// Launched children on Linux are reaped when their launch handle is closed:
// at once when they have ended, by the reaper when they still run. Nothing
// else in the process waits for children.
#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <thread>

#include "platform/process.h"
#include "tests/platform/standin.h"

namespace {

using platform::Handle;
namespace fs = std::filesystem;

// The process's state letter from /proc (R, S, Z, ...), or 0 when it is gone.
char ProcessState(platform::ProcessId id) {
  std::ifstream stat("/proc/" + std::to_string(id) + "/stat");
  std::string line;
  if (!std::getline(stat, line)) return 0;
  const std::size_t close = line.rfind(')');
  return close == std::string::npos || close + 2 >= line.size() ? 0 : line[close + 2];
}

// True once the process has left /proc, within a generous minute.
bool GoneSoon(platform::ProcessId id) {
  for (int pass = 0; pass < 600; ++pass) {
    if (ProcessState(id) == 0) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  return false;
}

class ReaperTest : public ::testing::Test {
 protected:
  platform::ProcessServices& mProcesses = platform::SystemProcesses();
  standin::TempFolder mFolder;
  standin::ScopedEnvironment mLogVariable{"NVK_STANDIN_LOG", standin::Utf8(mFolder.Path() / "runs.log")};
  fs::path mGo = mFolder.Path() / "go";
  standin::ScopedEnvironment mWaitFile{"NVK_STANDIN_WAIT_FILE", standin::Utf8(mGo)};

  Handle Launch() {
    platform::LaunchRecord record;
    record.File = standin::InstallerPath();
    Handle process = nullptr;
    EXPECT_TRUE(mProcesses.Launch(record, &process));
    EXPECT_NE(process, nullptr);
    return process;
  }
};

TEST_F(ReaperTest, EndedChildIsKeptWhileItsHandleIsHeldAndReapedOnClose) {
  standin::Release(mGo);
  const Handle process = Launch();
  const platform::ProcessId id = mProcesses.ProcessIdOf(process);
  ASSERT_TRUE(standin::WaitUntilEnded(mProcesses, process));
  EXPECT_EQ(ProcessState(id), 'Z') << "held for its handle";
  mProcesses.CloseHandle(process);
  EXPECT_EQ(ProcessState(id), 0) << "reaped by the close itself";
}

TEST_F(ReaperTest, ChildStillRunningAtCloseIsReapedWhenItEnds) {
  const Handle process = Launch();
  const platform::ProcessId id = mProcesses.ProcessIdOf(process);
  mProcesses.CloseHandle(process);
  const char state = ProcessState(id);
  EXPECT_NE(state, 0);
  EXPECT_NE(state, 'Z');
  // Another handle still sees it run, and end.
  const Handle opened = mProcesses.OpenProcessById(id);
  ASSERT_NE(opened, nullptr);
  EXPECT_EQ(mProcesses.Wait(opened, 0), platform::kWaitTimeout);
  standin::Release(mGo);
  EXPECT_TRUE(standin::WaitUntilEnded(mProcesses, opened));
  mProcesses.CloseHandle(opened);
  EXPECT_TRUE(GoneSoon(id)) << "left as a zombie";
}

TEST_F(ReaperTest, ManyThreadsLaunchAndCloseWhileChildrenRun) {
  constexpr int kThreads = 4;
  constexpr int kPerThread = 3;
  std::vector<platform::ProcessId> ids[kThreads];
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([this, &ids, t] {
      for (int i = 0; i < kPerThread; ++i) {
        const Handle process = Launch();
        ids[t].push_back(mProcesses.ProcessIdOf(process));
        EXPECT_EQ(mProcesses.Wait(process, 0), platform::kWaitTimeout);
        mProcesses.CloseHandle(process);
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  standin::Release(mGo);
  for (const auto& list : ids) {
    for (platform::ProcessId id : list) EXPECT_TRUE(GoneSoon(id)) << id;
  }
}

}  // namespace
