// The /proc scan and what the Linux process services make of zombies: an
// ended process nobody reaps is not listed and cannot be opened by id, except
// a launched child whose launch handle is still held.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <optional>
#include <thread>

#include "platform/posix/base/proc_scan.h"
#include "platform/process.h"
#include "tests/platform/standin.h"

namespace {

using platform::Handle;
using platform::posix::ProcInfo;

std::optional<ProcInfo> Scanned(std::uint32_t id) {
  for (const ProcInfo& info : platform::posix::ScanProcesses()) {
    if (info.Id == id) return info;
  }
  return std::nullopt;
}

bool Listed(platform::ProcessServices& processes, platform::ProcessId id) {
  const Handle snapshot = processes.SnapshotProcesses();
  platform::ProcessEntry entry;
  bool found = false;
  for (bool more = processes.FirstProcess(snapshot, entry); more; more = processes.NextProcess(snapshot, entry)) {
    found = found || entry.Id == id;
  }
  processes.CloseHandle(snapshot);
  return found;
}

// Waits up to a generous 30 s until the scan shows the process as a zombie.
bool BecomesZombie(std::uint32_t id) {
  for (int pass = 0; pass < 300; ++pass) {
    const std::optional<ProcInfo> info = Scanned(id);
    if (info.has_value() && info->Zombie) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  return false;
}

// A child of this process, forked outside the process services (so no
// launch handle holds it), that runs until Finish() and then stays a zombie:
// nobody reaps it before this object goes.
class UnreapedChild {
 public:
  UnreapedChild() {
    if (pipe2(mRelease, O_CLOEXEC) != 0) return;
    mId = fork();
    if (mId == 0) {
      close(mRelease[1]);
      char byte;
      while (read(mRelease[0], &byte, 1) < 0 && errno == EINTR) {
      }
      _exit(0);
    }
    close(mRelease[0]);
    if (mId < 0) mId = 0;
  }
  ~UnreapedChild() {
    Finish();
    if (mId > 0) waitpid(mId, nullptr, 0);
  }
  UnreapedChild(const UnreapedChild&) = delete;
  UnreapedChild& operator=(const UnreapedChild&) = delete;

  std::uint32_t Id() const { return static_cast<std::uint32_t>(mId); }
  // Lets it end; it is not reaped before this object goes.
  void Finish() {
    if (mRelease[1] >= 0) close(mRelease[1]);
    mRelease[1] = -1;
  }

 private:
  pid_t mId = 0;
  int mRelease[2] = {-1, -1};
};

TEST(ProcScanTest, ScanGivesIdsParentsNamesAndStartTimes) {
  const std::vector<ProcInfo> all = platform::posix::ScanProcesses();
  ASSERT_FALSE(all.empty());
  EXPECT_TRUE(std::is_sorted(all.begin(), all.end(), [](const ProcInfo& a, const ProcInfo& b) { return a.Id < b.Id; }));
  const std::optional<ProcInfo> own = Scanned(static_cast<std::uint32_t>(getpid()));
  ASSERT_TRUE(own.has_value());
  EXPECT_EQ(own->ParentId, static_cast<std::uint32_t>(getppid()));
  EXPECT_EQ(own->Name, "nvk_platform_process_tests");
  EXPECT_FALSE(own->Zombie);
  EXPECT_GT(own->StartTicks, 0u);

  // The cheap pass reads the same fields but no names.
  for (const ProcInfo& info : platform::posix::ScanProcesses(platform::posix::ProcNames::Skip)) {
    EXPECT_TRUE(info.Name.empty()) << info.Id;
    if (info.Id == own->Id) {
      EXPECT_EQ(info.StartTicks, own->StartTicks);
    }
  }
}

TEST(ProcScanTest, EndedProcessNobodyReapsIsNotListedAndCannotBeOpened) {
  platform::ProcessServices& processes = platform::SystemProcesses();
  UnreapedChild child;
  ASSERT_NE(child.Id(), 0u);

  // Running: listed, openable, not a zombie.
  std::optional<ProcInfo> info = Scanned(child.Id());
  ASSERT_TRUE(info.has_value());
  EXPECT_FALSE(info->Zombie);
  EXPECT_EQ(info->ParentId, static_cast<std::uint32_t>(getpid()));
  EXPECT_TRUE(Listed(processes, child.Id()));
  Handle opened = processes.OpenProcessById(child.Id());
  EXPECT_NE(opened, nullptr);
  processes.CloseHandle(opened);

  // Ended, not reaped: the scan reports the zombie; the list and open-by-id treat it as gone.
  child.Finish();
  ASSERT_TRUE(BecomesZombie(child.Id()));
  EXPECT_FALSE(Listed(processes, child.Id()));
  opened = processes.OpenProcessById(child.Id());
  EXPECT_EQ(opened, nullptr);
  processes.CloseHandle(opened);
}

TEST(ProcScanTest, LaunchedChildEndedWhileItsHandleIsHeldStillOpens) {
  platform::ProcessServices& processes = platform::SystemProcesses();
  standin::TempFolder folder;
  standin::ScopedEnvironment log("NVK_STANDIN_LOG", standin::Utf8(folder.Path() / "runs.log"));
  platform::LaunchRecord record;
  record.File = standin::InstallerPath();
  Handle launched = nullptr;
  ASSERT_TRUE(processes.Launch(record, &launched));
  const platform::ProcessId id = processes.ProcessIdOf(launched);
  ASSERT_TRUE(standin::WaitUntilEnded(processes, launched));
  ASSERT_TRUE(BecomesZombie(id)) << "held unreaped for its launch handle";

  EXPECT_FALSE(Listed(processes, id)) << "ended: not in the list";
  const Handle opened = processes.OpenProcessById(id);
  ASSERT_NE(opened, nullptr);
  EXPECT_EQ(processes.ProcessIdOf(opened), id);
  EXPECT_EQ(processes.Wait(opened, 0), platform::kWaitObject0);
  processes.CloseHandle(opened);
  processes.CloseHandle(launched);
  EXPECT_EQ(processes.OpenProcessById(id), nullptr) << "reaped with its launch handle";
}

}  // namespace
