// The tree helper's follower on a fake process table that behaves as the
// kernel does for a child subreaper: what it reports, in which order, and
// what it reaps.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "platform/posix/tree/tree_follower.h"

namespace {

using platform::posix::FollowerSystem;
using platform::posix::ProcInfo;
using platform::posix::TreeFollower;
using platform::posix::TreeReport;

constexpr std::uint32_t kHelper = 100;
constexpr std::uint32_t kProgram = 90;  // the program that started the helper
constexpr std::uint32_t kInstaller = 200;

// A process table: processes run, end (a zombie until their parent reaps
// them) and leave their children to the subreaper, as the kernel does.
class FakeSystem final : public FollowerSystem {
 public:
  enum class State { Running, Zombie };
  struct Process {
    std::uint32_t Parent = 0;
    std::uint64_t Start = 0;
    State Now = State::Running;
  };

  FakeSystem() {
    mProcesses[1] = Process{0, 1, State::Running};
    mProcesses[kProgram] = Process{1, 2, State::Running};
    mProcesses[kHelper] = Process{kProgram, 3, State::Running};
  }

  void Spawn(std::uint32_t id, std::uint32_t parent) { mProcesses[id] = Process{parent, ++mTicks, State::Running}; }
  // Ends a process: its children go to the helper; a child of a process
  // other than the helper is reaped by its parent at once when reaped is set.
  void End(std::uint32_t id, bool reapedByParent = true) {
    for (auto& [child, process] : mProcesses) {
      if (process.Parent == id) process.Parent = kHelper;
    }
    Process& ended = mProcesses.at(id);
    ended.Now = State::Zombie;
    if (ended.Parent != kHelper && reapedByParent) mProcesses.erase(id);
  }
  bool Exists(std::uint32_t id) const { return mProcesses.count(id) != 0; }
  std::vector<std::uint32_t> ZombieChildrenOfHelper() const {
    std::vector<std::uint32_t> zombies;
    for (const auto& [id, process] : mProcesses) {
      if (process.Parent == kHelper && process.Now == State::Zombie) zombies.push_back(id);
    }
    return zombies;
  }
  std::uint64_t StartOf(std::uint32_t id) const { return mProcesses.at(id).Start; }
  // Runs after the next scan has been taken (then forgotten).
  void AfterNextScan(std::function<void()> action) { mAfterScan = std::move(action); }

  std::vector<std::string> Reports() const { return mReports; }
  std::vector<std::uint32_t> ReapedIds() const { return mReaped; }

  std::uint32_t OwnId() override { return kHelper; }
  // The next count scans fail (the table cannot be read).
  void FailScans(int count) { mFailingScans = count; }

  bool Scan(std::vector<ProcInfo>& scan) override {
    scan.clear();
    if (mFailingScans > 0) {
      --mFailingScans;
      return false;
    }
    for (const auto& [id, process] : mProcesses) {
      ProcInfo info;
      info.Id = id;
      info.ParentId = process.Parent;
      info.StartTicks = process.Start;
      info.Zombie = process.Now == State::Zombie;
      scan.push_back(info);
    }
    if (mAfterScan) {
      auto action = std::move(mAfterScan);
      mAfterScan = nullptr;
      action();
    }
    return true;
  }
  std::string NameOf(std::uint32_t id) override { return Exists(id) ? "p" + std::to_string(id) : std::string(); }
  bool Watch(std::uint32_t id, std::uint64_t startTicks) override {
    const auto found = mProcesses.find(id);
    if (found == mProcesses.end() || found->second.Start != startTicks || found->second.Now != State::Running ||
        mRefused.count(id) != 0) {
      return false;
    }
    mWatched.insert(id);
    return true;
  }
  void Unwatch(std::uint32_t id) override { mWatched.erase(id); }
  void RefuseWatch(std::uint32_t id) { mRefused.insert(id); }
  std::vector<std::uint32_t> EndedWatched(int) override {
    std::vector<std::uint32_t> ended;
    for (const std::uint32_t id : mWatched) {
      const auto found = mProcesses.find(id);
      if (found == mProcesses.end() || found->second.Now != State::Running) ended.push_back(id);
    }
    return ended;
  }
  Reaped ReapOne() override {
    bool children = false;
    for (const auto& [id, process] : mProcesses) {
      if (process.Parent != kHelper) continue;
      children = true;
      if (process.Now == State::Zombie) {
        const std::uint32_t reaped = id;
        mProcesses.erase(reaped);
        mReaped.push_back(reaped);
        return Reaped{Reaped::Kind::Child, reaped};
      }
    }
    return Reaped{children ? Reaped::Kind::NoneEnded : Reaped::Kind::NoChildren, 0};
  }
  void Report(const TreeReport& report) override {
    const char* kind = report.What == TreeReport::Kind::Start ? "start " : "stop ";
    std::string line = kind + std::to_string(report.Id) + " under " + std::to_string(report.Parent);
    if (report.What == TreeReport::Kind::Start && report.Name[0] != '\0') line += std::string(" ") + report.Name;
    mReports.push_back(line);
  }

 private:
  std::map<std::uint32_t, Process> mProcesses;
  std::set<std::uint32_t> mWatched;
  std::set<std::uint32_t> mRefused;
  std::uint64_t mTicks = 10;
  std::function<void()> mAfterScan;
  int mFailingScans = 0;
  std::vector<std::string> mReports;
  std::vector<std::uint32_t> mReaped;
};

using Lines = std::vector<std::string>;

class TreeFollowerTest : public ::testing::Test {
 protected:
  TreeFollowerTest() {
    mSystem.Spawn(kInstaller, kHelper);
    EXPECT_TRUE(mSystem.Watch(kInstaller, mSystem.StartOf(kInstaller)));
  }

  // Rounds until the follower is done (at most a bound against looping).
  int RunToEnd() {
    int rounds = 1;
    while (mFollower.Round()) {
      if (++rounds > 50) return rounds;
    }
    return rounds;
  }

  FakeSystem mSystem;
  TreeFollower mFollower{mSystem, kInstaller, 11, true, 200};
};

TEST_F(TreeFollowerTest, AnInstallerThatEndsBeforeAnyScanIsReportedAndReaped) {
  mSystem.End(kInstaller);
  EXPECT_FALSE(mFollower.Round());
  EXPECT_EQ(mSystem.Reports(), (Lines{"stop 200 under 100"}));
  EXPECT_EQ(mSystem.ReapedIds(), (std::vector<std::uint32_t>{kInstaller}));
  EXPECT_FALSE(mSystem.Exists(kInstaller));
}

TEST_F(TreeFollowerTest, DescendantsAreReportedParentsFirstAndOutsidersNever) {
  mSystem.Spawn(300, kInstaller);
  mSystem.Spawn(301, 300);
  mSystem.Spawn(302, 301);
  mSystem.Spawn(400, kProgram);  // another child of the program
  mSystem.Spawn(401, 1);         // an orphan of the program's earlier child
  EXPECT_TRUE(mFollower.Round());
  EXPECT_EQ(mSystem.Reports(), (Lines{"start 300 under 200 p300", "start 301 under 300 p301",
                                      "start 302 under 301 p302"}));
  EXPECT_TRUE(mFollower.Round());  // nothing new
  EXPECT_EQ(mSystem.Reports().size(), 3u);
}

TEST_F(TreeFollowerTest, AnOrphanIsReportedBeforeTheStopOfTheProcessThatLeftIt) {
  mSystem.Spawn(300, kInstaller);
  EXPECT_TRUE(mFollower.Round());
  // 300 starts 301 and ends before the next scan: 301 comes to the helper.
  mSystem.Spawn(301, 300);
  mSystem.End(300);
  EXPECT_TRUE(mFollower.Round());
  EXPECT_EQ(mSystem.Reports(), (Lines{"start 300 under 200 p300", "start 301 under 200 p301", "stop 300 under 200"}));
  // The installer ends: it is reaped, its stop reported; 301 still runs.
  mSystem.End(kInstaller);
  EXPECT_TRUE(mFollower.Round());
  EXPECT_EQ(mSystem.Reports().back(), "stop 200 under 100");
  mSystem.End(301);
  EXPECT_FALSE(mFollower.Round());
  EXPECT_EQ(mSystem.Reports().back(), "stop 301 under 200");
  EXPECT_TRUE(mSystem.ZombieChildrenOfHelper().empty());
  EXPECT_EQ(mSystem.ReapedIds(), (std::vector<std::uint32_t>{kInstaller, 301}));
}

TEST_F(TreeFollowerTest, ADaemonLeftByTheEndedInstallerKeepsTheFollowerGoing) {
  // The installer forks 300, which forks the daemon 301 and ends; then the
  // installer ends; all before any scan.
  mSystem.Spawn(300, kInstaller);
  mSystem.Spawn(301, 300);
  mSystem.End(300);
  mSystem.End(kInstaller);
  EXPECT_TRUE(mFollower.Round());
  EXPECT_EQ(mSystem.Reports(), (Lines{"start 301 under 200 p301", "stop 200 under 100"}));
  EXPECT_TRUE(mFollower.Round());
  mSystem.End(301);
  EXPECT_EQ(RunToEnd(), 1);
  EXPECT_EQ(mSystem.Reports().back(), "stop 301 under 200");
  EXPECT_TRUE(mSystem.ZombieChildrenOfHelper().empty());
}

TEST_F(TreeFollowerTest, AnOrphanThatCameAndEndedBetweenTwoScansIsStillReportedAndReaped) {
  mSystem.Spawn(300, kInstaller);
  EXPECT_TRUE(mFollower.Round());
  // After the next scan: 300 starts 301 and ends, 301 comes to the helper
  // and ends too, all before the follower reaps.
  mSystem.AfterNextScan([this] {
    mSystem.Spawn(301, 300);
    mSystem.End(300);
    mSystem.End(301);
  });
  EXPECT_TRUE(mFollower.Round());
  EXPECT_EQ(mSystem.Reports(), (Lines{"start 300 under 200 p300", "start 301 under 200", "stop 301 under 200"}));
  mSystem.End(kInstaller);
  RunToEnd();
  EXPECT_EQ(mSystem.Reports(), (Lines{"start 300 under 200 p300", "start 301 under 200", "stop 301 under 200",
                                      "stop 200 under 100", "stop 300 under 200"}));
  EXPECT_TRUE(mSystem.ZombieChildrenOfHelper().empty());
}

TEST_F(TreeFollowerTest, AProcessThatCannotBeWatchedIsStoppedOnceAScanHasShownItEnded) {
  // 300 ends unreaped (its parent, the installer, has not waited yet) just
  // after the scan that found it: its watch fails; 301, which it left, is
  // found by that scan. 302 cannot be watched while it runs (no descriptor).
  mSystem.Spawn(300, kInstaller);
  mSystem.Spawn(301, 300);
  mSystem.Spawn(302, kInstaller);
  mSystem.RefuseWatch(302);
  mSystem.AfterNextScan([this] { mSystem.End(300, false); });
  EXPECT_TRUE(mFollower.Round());
  EXPECT_EQ(mSystem.Reports(), (Lines{"start 300 under 200 p300", "start 302 under 200 p302", "start 301 under 300 p301"}));
  EXPECT_TRUE(mFollower.Round());  // this scan shows 300 ended and 302 running
  EXPECT_EQ(mSystem.Reports().size(), 3u);
  EXPECT_TRUE(mFollower.Round());
  EXPECT_EQ(mSystem.Reports().back(), "stop 300 under 200");
  // Stopped once: later scans still list the zombie. 302 runs on unstopped.
  for (int round = 0; round < 3; ++round) EXPECT_TRUE(mFollower.Round());
  EXPECT_EQ(mSystem.Reports().size(), 4u);
  mSystem.End(302);
  EXPECT_TRUE(mFollower.Round());
  EXPECT_TRUE(mFollower.Round());
  EXPECT_EQ(mSystem.Reports().back(), "stop 302 under 200");
}

TEST_F(TreeFollowerTest, TheFollowerEndsOnlyWhenNoMemberAndNoChildIsLeft) {
  mSystem.Spawn(300, kInstaller);
  EXPECT_TRUE(mFollower.Round());
  mSystem.End(kInstaller);
  EXPECT_TRUE(mFollower.Round());  // 300 (now the helper's child) still runs
  EXPECT_TRUE(mFollower.Round());
  mSystem.End(300);
  EXPECT_FALSE(mFollower.Round());
  EXPECT_EQ(mSystem.Reports(), (Lines{"start 300 under 200 p300", "stop 200 under 100", "stop 300 under 200"}));
  EXPECT_EQ(mSystem.ReapedIds(), (std::vector<std::uint32_t>{kInstaller, 300}));
}

// Scans that cannot read the table (no descriptor left) show nothing: no
// member counts as ended by them, and a stop waits for a scan that can be
// read, so that the orphans it left are reported before it.
TEST_F(TreeFollowerTest, ScansThatFailStopNobodyAndDelayStopsUntilAScanSucceeds) {
  mSystem.Spawn(300, kInstaller);
  mSystem.Spawn(301, kInstaller);
  mSystem.RefuseWatch(300);  // followed by the scans alone
  EXPECT_TRUE(mFollower.Round());
  EXPECT_EQ(mSystem.Reports(), (Lines{"start 300 under 200 p300", "start 301 under 200 p301"}));
  mSystem.FailScans(3);
  EXPECT_TRUE(mFollower.Round());
  // 301 leaves 302 and ends while the scans fail.
  mSystem.Spawn(302, 301);
  mSystem.End(301);
  EXPECT_TRUE(mFollower.Round());
  EXPECT_TRUE(mFollower.Round());
  EXPECT_EQ(mSystem.Reports().size(), 2u) << "a stop came from a scan that showed nothing";
  EXPECT_TRUE(mFollower.Round());  // the table is read again
  EXPECT_EQ(mSystem.Reports(), (Lines{"start 300 under 200 p300", "start 301 under 200 p301",
                                      "start 302 under 200 p302", "stop 301 under 200"}));
  mSystem.End(300);
  mSystem.End(302);
  mSystem.End(kInstaller);
  RunToEnd();
  const Lines reports = mSystem.Reports();
  EXPECT_EQ(std::count(reports.begin(), reports.end(), "stop 300 under 200"), 1);
  EXPECT_TRUE(mSystem.ZombieChildrenOfHelper().empty());
}

// Without a process table that can be read at all, the end of the last child
// still ends the follower: nothing of the tree can run without a child of
// the subreaper above it.
TEST_F(TreeFollowerTest, WithScansThatAlwaysFailTheLastChildsEndEndsTheTree) {
  mSystem.FailScans(1000);
  mSystem.Spawn(300, kInstaller);
  mSystem.Spawn(301, 300);
  EXPECT_TRUE(mFollower.Round());
  mSystem.End(300);  // 301 comes to the helper
  mSystem.End(kInstaller);
  EXPECT_TRUE(mFollower.Round());
  EXPECT_TRUE(mFollower.Round());
  EXPECT_TRUE(mSystem.Reports().empty()) << "a stop came from a scan that showed nothing";
  mSystem.End(301);
  EXPECT_FALSE(mFollower.Round());
  // 301 was never seen running: found when it was reaped.
  EXPECT_EQ(mSystem.Reports(), (Lines{"start 301 under 200", "stop 301 under 200", "stop 200 under 100"}));
  EXPECT_TRUE(mSystem.ZombieChildrenOfHelper().empty());
}

}  // namespace
