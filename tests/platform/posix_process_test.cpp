// What the Linux process services add so that a launch looks as it does on
// Windows: descriptors, signals, letter case of the launch path, and failures.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <map>
#include <optional>

#include "platform/process.h"
#include "platform/startup.h"
#include "platform/text.h"
#include "tests/platform/standin.h"
#include "tests/support/c_library_signals.h"

namespace {

using platform::Handle;
using standin::StandInRun;
namespace fs = std::filesystem;

class PosixLaunchTest : public ::testing::Test {
 protected:
  platform::ProcessServices& mProcesses = platform::SystemProcesses();
  standin::TempFolder mFolder;
  fs::path mLog = mFolder.Path() / "runs.log";
  standin::ScopedEnvironment mLogVariable{"NVK_STANDIN_LOG", standin::Utf8(mLog)};

  // Launches the file with its folder as working folder, waits for its end;
  // the run recorded, or nothing when the launch failed.
  std::optional<StandInRun> RunToEnd(const std::u16string& file) {
    platform::LaunchRecord record;
    record.File = file;
    record.Directory = common::FolderPart(file, common::kLinuxPathDelimiters);
    Handle process = nullptr;
    if (!mProcesses.Launch(record, &process)) {
      EXPECT_EQ(process, nullptr);
      return std::nullopt;
    }
    const platform::ProcessId id = mProcesses.ProcessIdOf(process);
    EXPECT_TRUE(standin::WaitUntilEnded(mProcesses, process));
    mProcesses.CloseHandle(process);
    for (const StandInRun& run : standin::ReadRuns(mLog)) {
      if (run.Pid == id) return run;
    }
    ADD_FAILURE() << "no record of " << platform::WideToUtf8(file);
    return std::nullopt;
  }

  // A copy of the stand-in at the path (relative to the test folder).
  fs::path CopyStandIn(const fs::path& relative) {
    const fs::path target = mFolder.Path() / relative;
    fs::create_directories(target.parent_path());
    fs::copy_file(fs::path(standin::InstallerPath()), target);
    return target;
  }
};

TEST_F(PosixLaunchTest, InstallerGetsOnlyDescriptorsZeroToTwo) {
  // A descriptor this process opened without close-on-exec must not leak.
  int leaky[2];
  ASSERT_EQ(pipe(leaky), 0);
  const std::optional<StandInRun> run = RunToEnd(standin::InstallerPath());
  close(leaky[0]);
  close(leaky[1]);
  ASSERT_TRUE(run.has_value());
  EXPECT_EQ(run->Fds, (std::vector<int>{0, 1, 2}));
}

TEST_F(PosixLaunchTest, InstallerStartsWithDefaultSignalsAndEmptyMask) {
  GiveTheCLibraryItsSignalHandlers();
  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  struct sigaction previousPipe {};
  ASSERT_EQ(sigaction(SIGPIPE, &ignore, &previousPipe), 0);
  sigset_t blocked;
  sigemptyset(&blocked);
  sigaddset(&blocked, SIGUSR1);
  sigaddset(&blocked, SIGTERM);
  sigset_t previousMask;
  ASSERT_EQ(pthread_sigmask(SIG_BLOCK, &blocked, &previousMask), 0);

  const std::optional<StandInRun> run = RunToEnd(standin::InstallerPath());

  pthread_sigmask(SIG_SETMASK, &previousMask, nullptr);
  sigaction(SIGPIPE, &previousPipe, nullptr);
  ASSERT_TRUE(run.has_value());
  EXPECT_EQ(run->SigIgn, "0000000000000000");
  EXPECT_EQ(run->SigBlk, "0000000000000000");
}

TEST_F(PosixLaunchTest, WindowsStylePathWithParentStepsLaunches) {
  const fs::path copy = CopyStandIn("inst/setup.exe");
  std::u16string path = standin::Wide(mFolder.Path()) + u"\\inst\\missing\\..\\setup.exe";
  const std::optional<StandInRun> run = RunToEnd(path);
  ASSERT_TRUE(run.has_value());
  EXPECT_EQ(fs::path(run->Exe), copy);
  EXPECT_EQ(fs::path(run->Cwd), copy.parent_path());
}

TEST_F(PosixLaunchTest, LaunchPathIsMatchedWithoutRegardToCase) {
  const fs::path copy = CopyStandIn("Mixed Case/Norvik_TB_Installer.exe");
  const std::u16string upper =
      standin::Wide(mFolder.Path()) + platform::UpperCase(u"/Mixed Case/Norvik_TB_Installer.exe");
  const std::optional<StandInRun> run = RunToEnd(upper);
  ASSERT_TRUE(run.has_value());
  EXPECT_EQ(fs::path(run->Exe), copy);
  EXPECT_EQ(fs::path(run->Cwd), copy.parent_path()) << "the working folder is the matched folder";
}

TEST_F(PosixLaunchTest, ExactMatchWinsThenFirstInSortedOrder) {
  const fs::path upper = CopyStandIn("pick/TOOL.exe");
  const fs::path lower = CopyStandIn("pick/tool.EXE");
  const std::u16string folder = standin::Wide(mFolder.Path() / "pick") + u"/";
  struct Case {
    std::u16string Name;
    fs::path Expected;
  };
  for (const Case& c : {Case{u"tool.EXE", lower}, Case{u"TOOL.exe", upper}, Case{u"Tool.Exe", upper}}) {
    const std::optional<StandInRun> run = RunToEnd(folder + c.Name);
    ASSERT_TRUE(run.has_value()) << platform::WideToUtf8(c.Name);
    EXPECT_EQ(fs::path(run->Exe), c.Expected) << platform::WideToUtf8(c.Name);
  }
}

TEST_F(PosixLaunchTest, FolderMissingOrNonExecutableFileFailsTheLaunch) {
  const fs::path folder = mFolder.Path() / "a folder";
  fs::create_directories(folder);
  const fs::path plain = mFolder.Path() / "plain.exe";
  fs::copy_file(fs::path(standin::InstallerPath()), plain);
  fs::permissions(plain, fs::perms::owner_read | fs::perms::owner_write);
  for (const fs::path& path : {folder, plain, mFolder.Path() / "missing.exe"}) {
    errno = 0;
    EXPECT_FALSE(RunToEnd(standin::Wide(path)).has_value()) << path;
    EXPECT_NE(mProcesses.LastError(), 0u) << path;
  }
}

TEST_F(PosixLaunchTest, MissingWorkingFolderFailsTheLaunch) {
  platform::LaunchRecord record;
  record.File = standin::InstallerPath();
  record.Directory = standin::Wide(mFolder.Path() / "nowhere");
  Handle process = nullptr;
  EXPECT_FALSE(mProcesses.Launch(record, &process));
  EXPECT_EQ(process, nullptr);
}

TEST_F(PosixLaunchTest, ProcessNamesAreExecutableBaseNames) {
  const fs::path go = mFolder.Path() / "go";
  standin::ScopedEnvironment waitFile("NVK_STANDIN_WAIT_FILE", standin::Utf8(go));
  platform::LaunchRecord record;
  record.File = standin::ToolPath();
  Handle launched = nullptr;
  ASSERT_TRUE(mProcesses.Launch(record, &launched));
  const platform::ProcessId id = mProcesses.ProcessIdOf(launched);

  std::map<platform::ProcessId, std::u16string> names;
  Handle snapshot = mProcesses.SnapshotProcesses();
  platform::ProcessEntry entry;
  for (bool more = mProcesses.FirstProcess(snapshot, entry); more; more = mProcesses.NextProcess(snapshot, entry)) {
    names[entry.Id] = entry.ExeFile;
  }
  // Read to the end, the snapshot reports no more entries until read afresh.
  EXPECT_FALSE(mProcesses.NextProcess(snapshot, entry));
  EXPECT_TRUE(mProcesses.FirstProcess(snapshot, entry));
  mProcesses.CloseHandle(snapshot);
  EXPECT_FALSE(mProcesses.FirstProcess(snapshot, entry)) << "a closed snapshot reads nothing";

  EXPECT_EQ(names[id], u"tool.exe");
  EXPECT_EQ(names[static_cast<platform::ProcessId>(getpid())], platform::Utf8ToWide(
      fs::path(platform::WideToUtf8(platform::SystemFiles().OwnExecutablePath())).filename().string()));
  standin::Release(go);
  EXPECT_TRUE(standin::WaitUntilEnded(mProcesses, launched));
  mProcesses.CloseHandle(launched);
}

// Started with its standard descriptors closed, the program opens them on
// /dev/null (so that no file it opens later becomes its standard output) and
// holds nothing else open; a broken pipe does not end it.
TEST(ProcessPreparationTest, ClosedStandardDescriptorsAreOpenedAndNothingElse) {
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    // Only calls that are safe after fork in a threaded process.
    for (int fd = 0; fd < 64; ++fd) close(fd);
    platform::SystemStartup().PrepareProcess();
    int failures = 0;
    for (int fd = 0; fd <= 2; ++fd) failures += fcntl(fd, F_GETFD) == -1 ? 1 : 0;
    failures += (fcntl(0, F_GETFL) & O_ACCMODE) == O_RDONLY ? 0 : 1;
    failures += (fcntl(1, F_GETFL) & O_ACCMODE) == O_WRONLY ? 0 : 1;
    failures += fcntl(3, F_GETFD) == -1 ? 0 : 1;
    struct sigaction pipe {};
    sigaction(SIGPIPE, nullptr, &pipe);
    failures += pipe.sa_handler == SIG_IGN ? 0 : 1;
    _exit(failures);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "checks failed in the prepared process";
}

}  // namespace
