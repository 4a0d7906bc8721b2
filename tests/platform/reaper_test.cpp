// Launched children on Linux are reaped when their launch handle is closed:
// at once when they have ended, by the reaper when they still run. Nothing
// else in the process waits for children.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <fstream>
#include <thread>

#include "platform/posix/launch/reaper.h"
#include "platform/process.h"
#include "tests/platform/standin.h"

extern char** environ;

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

// True once the process has left /proc, within a generous minute (or the
// given number of tenths of a second).
bool GoneSoon(platform::ProcessId id, int tenths = 600) {
  for (int pass = 0; pass < tenths; ++pass) {
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

// A reaper whose wake-up descriptor could not be made still reaps: it looks
// for handed-over children at a bounded interval instead of waiting on
// nothing for ever.
class ReaperWithoutWakeUpTest : public ReaperTest {
 protected:
  // A child of this process started directly, with its pid and pidfd.
  struct Child {
    pid_t Pid = 0;
    platform::posix::UniqueFd Pidfd;
  };

  Child Spawn() {
    std::string path = standin::Utf8(std::filesystem::path(standin::InstallerPath()));
    char* argv[] = {path.data(), nullptr};
    Child child;
    EXPECT_EQ(posix_spawn(&child.Pid, path.c_str(), nullptr, nullptr, argv, environ), 0);
    child.Pidfd.Reset(static_cast<int>(syscall(SYS_pidfd_open, child.Pid, 0)));
    EXPECT_TRUE(child.Pidfd.IsValid());
    return child;
  }

  // The wake-up descriptor made while no descriptor is left to the process.
  static platform::posix::UniqueFd WakeWithoutDescriptors() {
    rlimit saved{};
    getrlimit(RLIMIT_NOFILE, &saved);
    const int lowestFree = open("/dev/null", O_RDONLY);  // the lowest free descriptor
    close(lowestFree);
    rlimit exhausted = saved;
    exhausted.rlim_cur = static_cast<rlim_t>(lowestFree);
    setrlimit(RLIMIT_NOFILE, &exhausted);
    platform::posix::UniqueFd wake = platform::posix::Reaper::MakeWake();
    setrlimit(RLIMIT_NOFILE, &saved);
    return wake;
  }
};

TEST_F(ReaperWithoutWakeUpTest, ChildrenHandedOverAreReapedByPolling) {
  platform::posix::UniqueFd wake = WakeWithoutDescriptors();
  ASSERT_FALSE(wake.IsValid()) << "the wake-up descriptor was made after all";
  platform::posix::Reaper reaper(std::move(wake));

  // One child still running when handed over, one handed over later.
  Child running = Spawn();
  reaper.Collect(std::move(running.Pidfd));
  EXPECT_NE(ProcessState(static_cast<platform::ProcessId>(running.Pid)), 0);
  standin::Release(mGo);
  EXPECT_TRUE(GoneSoon(static_cast<platform::ProcessId>(running.Pid), 100)) << "left as a zombie";

  Child later = Spawn();
  reaper.Collect(std::move(later.Pidfd));
  EXPECT_TRUE(GoneSoon(static_cast<platform::ProcessId>(later.Pid), 100)) << "left as a zombie";
}

}  // namespace
