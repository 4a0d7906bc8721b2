// Install method 1 on real process trees of the shapes installers really
// have (Linux, through the real event service): every process of the tree
// has ended when the wait ends, and the wait ends by the tree's end, not by
// its time-out. The Unprivileged suites run as user 65534 (their ctest entry
// drops the privileges first; as root they fail): there the kernel's process
// events are refused, and the tree helper follows the tree.
#include <gtest/gtest.h>

#include <errno.h>
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "platform/posix/base/proc_scan.h"
#include "platform/posix/events/process_events.h"
#include "platform/process.h"
#include "tests/platform/standin.h"
#include "tests/support/tree_run.h"

namespace {

using Lines = std::vector<std::string>;
using platform::posix::ProcInfo;

class ProcessTreeShapes : public ::testing::Test {
 protected:
  tree_run::TreeRun Run(const std::string& shape, const std::function<void()>& duringRun = {}) {
    return mRunner.Run(shape, standin::Utf8(mFolder.Path() / "tree.log"), 30, 20, duringRun);
  }

  // The tracker's last lines, to tell why a wait went wrong.
  static std::string TrackerTail(const tree_run::TreeRun& run) {
    std::string tail = "the tracker's last lines:";
    const std::size_t from = run.TrackerLines.size() > 30 ? run.TrackerLines.size() - 30 : 0;
    for (std::size_t i = from; i < run.TrackerLines.size(); ++i) tail += "\n  " + run.TrackerLines[i];
    return tail;
  }

  // The worker's lines, every process ended before the wait did, and how
  // many processes the tree had.
  static void ExpectWaitedForTheWholeTree(const tree_run::TreeRun& run, std::size_t processes) {
    EXPECT_EQ(run.WorkerLines, (Lines{"Install Method = 1", "Break by handle closed"})) << TrackerTail(run);
    EXPECT_EQ(run.Processes.size(), processes);
    for (const tree_run::TreeProcess& process : run.Processes) {
      EXPECT_GE(process.EndedNs, 0) << process.Id << " never ended";
      EXPECT_LE(process.EndedNs, run.WaitEndedNs)
          << process.Id << " ended " << (process.EndedNs - run.WaitEndedNs) / 1e9 << " s after the wait; "
          << TrackerTail(run);
    }
  }

  standin::TempFolder mFolder;
  tree_run::ShapeRunner mRunner;
};

TEST_F(ProcessTreeShapes, ThreeHelpersThenTheInstallersOwnWork) {
  ExpectWaitedForTheWholeTree(Run("helpers"), 4);
}

TEST_F(ProcessTreeShapes, ChildrenOutliveTheInstallerByDifferentTimes) {
  ExpectWaitedForTheWholeTree(Run("children"), 5);
}

TEST_F(ProcessTreeShapes, AChildForkedAtOnceLeavesAGrandchild) {
  ExpectWaitedForTheWholeTree(Run("early"), 3);
}

TEST_F(ProcessTreeShapes, ADoubleForkedDaemonInASessionOfItsOwn) {
  ExpectWaitedForTheWholeTree(Run("daemon"), 3);
}

TEST_F(ProcessTreeShapes, ThreeHundredChildrenAtOnce) {
  ExpectWaitedForTheWholeTree(Run("many"), 301);
}

// The end of a process's first thread is not the process's end.
TEST_F(ProcessTreeShapes, AChildWhoseFirstThreadEndsWhileAnotherWorksOn) {
  ExpectWaitedForTheWholeTree(Run("threads"), 2);
}

// Unprivileged: the same shapes, an installer that ends at once, and an
// orphan of this program's own child that must stay outside the tree. After
// each run the helper is gone and nothing of the tree is left a zombie.
class UnprivilegedProcessTreeShapes : public ProcessTreeShapes {
 protected:
  void SetUp() override {
    ASSERT_NE(geteuid(), 0u) << "runs only as an unprivileged user: start it through nvk_unprivileged_run";
  }

  // Up to a generous 30 s for the helper to end and be reaped; then no
  // process of the tree may be left as a zombie (an orphan the helper did
  // not reap would stay one: process 1 here reaps nothing).
  static void ExpectNothingLeftBehind(const tree_run::TreeRun& run) {
    const std::uint32_t self = static_cast<std::uint32_t>(getpid());
    std::vector<ProcInfo> children;
    for (int look = 0; look < 300; ++look) {
      children.clear();
      for (const ProcInfo& info : platform::posix::ScanProcesses()) {
        if (info.ParentId == self && (info.Zombie || info.Name == "nvk_tree_helper")) children.push_back(info);
      }
      if (children.empty()) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    for (const ProcInfo& child : children) {
      ADD_FAILURE() << "child " << child.Id << " (" << child.Name << ") left" << (child.Zombie ? " a zombie" : "");
    }
    for (const tree_run::TreeProcess& process : run.Processes) {
      ProcInfo info;
      EXPECT_FALSE(platform::posix::ReadProcStat(process.Id, info) && info.Zombie)
          << process.Id << " of the tree was left a zombie under " << info.ParentId;
    }
  }
};

TEST_F(UnprivilegedProcessTreeShapes, ThreeHelpersThenTheInstallersOwnWork) {
  const tree_run::TreeRun run = Run("helpers");
  ExpectWaitedForTheWholeTree(run, 4);
  ExpectNothingLeftBehind(run);
}

TEST_F(UnprivilegedProcessTreeShapes, ChildrenOutliveTheInstallerByDifferentTimes) {
  const tree_run::TreeRun run = Run("children");
  ExpectWaitedForTheWholeTree(run, 5);
  ExpectNothingLeftBehind(run);
}

TEST_F(UnprivilegedProcessTreeShapes, AChildForkedAtOnceLeavesAGrandchild) {
  const tree_run::TreeRun run = Run("early");
  ExpectWaitedForTheWholeTree(run, 3);
  ExpectNothingLeftBehind(run);
}

TEST_F(UnprivilegedProcessTreeShapes, ADoubleForkedDaemonInASessionOfItsOwn) {
  const tree_run::TreeRun run = Run("daemon");
  ExpectWaitedForTheWholeTree(run, 3);
  ExpectNothingLeftBehind(run);
}

TEST_F(UnprivilegedProcessTreeShapes, ThreeHundredChildrenAtOnce) {
  const tree_run::TreeRun run = Run("many");
  ExpectWaitedForTheWholeTree(run, 301);
  ExpectNothingLeftBehind(run);
}

TEST_F(UnprivilegedProcessTreeShapes, AChildWhoseFirstThreadEndsWhileAnotherWorksOn) {
  const tree_run::TreeRun run = Run("threads");
  ExpectWaitedForTheWholeTree(run, 2);
  ExpectNothingLeftBehind(run);
}

TEST_F(UnprivilegedProcessTreeShapes, AnInstallerThatEndsAtOnceStartingNothing) {
  const tree_run::TreeRun run = Run("quick");
  ExpectWaitedForTheWholeTree(run, 1);
  ExpectNothingLeftBehind(run);
}

// While the installer runs, this program starts a child of its own that
// leaves an orphan of 6 s and ends at once (as xdg-open leaves a browser).
// The orphan never joins the tree: the wait ends with the tree, the orphan
// still running.
TEST_F(UnprivilegedProcessTreeShapes, AnOrphanOfTheProgramsOwnChildStaysOutsideTheTree) {
  const std::string ownLog = standin::Utf8(mFolder.Path() / "own.log");
  const tree_run::TreeRun run = Run("early", [&ownLog] {
    platform::LaunchRecord record;
    record.File = tree_run::ShapesProgram();
    record.Parameters = platform::Utf8ToWide("leaves " + ownLog);
    platform::Handle own = nullptr;
    ASSERT_TRUE(platform::SystemProcesses().Launch(record, &own));
    platform::SystemProcesses().Wait(own, 5000);
    platform::SystemProcesses().CloseHandle(own);
  });
  ExpectWaitedForTheWholeTree(run, 3);
  const std::vector<tree_run::TreeProcess> own = tree_run::ReadLog(ownLog);
  ASSERT_EQ(own.size(), 2u) << "the program's child and the orphan it left";
  const std::uint32_t orphan = own[1].Id;
  ProcInfo info;
  EXPECT_TRUE(platform::posix::ReadProcStat(orphan, info) && !info.Zombie) << "the orphan ended before the tree";
  const std::string joined = "Create PID = " + std::to_string(orphan);
  EXPECT_EQ(std::count(run.TrackerLines.begin(), run.TrackerLines.end(), joined), 0) << "the orphan joined the tree";
  kill(static_cast<pid_t>(orphan), SIGKILL);
  ExpectNothingLeftBehind(run);
}

// A file that cannot be run fails the followed launch with the error a plain
// launch gives, and the helper that tried is reaped.
TEST_F(UnprivilegedProcessTreeShapes, AFileThatCannotRunFailsTheLaunchAndLeavesNoHelper) {
  using platform::posix::ProcessEventKind;
  const std::filesystem::path file = mFolder.Path() / "not-a-program";
  std::ofstream(file) << "data\n";
  std::filesystem::permissions(file, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
  platform::posix::ProcessEvents& events = platform::posix::SystemProcessEvents();
  const std::uint64_t subscription = events.Subscribe(ProcessEventKind::Start, [](auto&) {});
  ASSERT_NE(subscription, 0u);
  EXPECT_EQ(events.Origin(), platform::posix::ProcessEventOrigin::Polling);
  platform::LaunchRecord record;
  record.File = platform::Utf8ToWide(standin::Utf8(file));
  record.FollowTree = true;
  platform::Handle launched = nullptr;
  EXPECT_FALSE(platform::SystemProcesses().Launch(record, &launched));
  EXPECT_EQ(platform::SystemProcesses().LastError(), static_cast<std::uint32_t>(EACCES));
  EXPECT_EQ(launched, nullptr);
  events.Unsubscribe(subscription);
  ExpectNothingLeftBehind(tree_run::TreeRun{});
}

// A user whose descriptor limit is low: the helper can watch only some of
// the 300 children that keep coming and follows the rest by its scans,
// which must still read /proc (a scan that could not is no sign that they
// ended). Its ctest entry runs this suite alone, as the limit set here holds
// for the rest of the process.
class UnprivilegedFewDescriptors : public UnprivilegedProcessTreeShapes {
 protected:
  void SetUp() override {
    UnprivilegedProcessTreeShapes::SetUp();
    const rlimit few{kDescriptors, kDescriptors};
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &few), 0) << std::strerror(errno);
  }
  static constexpr rlim_t kDescriptors = 64;
};

TEST_F(UnprivilegedFewDescriptors, ThreeHundredChildrenOneAfterAnother) {
  const tree_run::TreeRun run = Run("stream");
  ExpectWaitedForTheWholeTree(run, 301);
  ExpectNothingLeftBehind(run);
}

}  // namespace
