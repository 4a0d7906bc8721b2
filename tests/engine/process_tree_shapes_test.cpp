// Install method 1 on real process trees of the shapes installers really
// have (Linux, through the real event service): every process of the tree
// has ended when the wait ends, and the wait ends by the tree's end, not by
// its time-out.
#include <gtest/gtest.h>

#include <unistd.h>

#include <string>

#include "tests/platform/standin.h"
#include "tests/support/tree_run.h"

namespace {

using Lines = std::vector<std::string>;

class ProcessTreeShapes : public ::testing::Test {
 protected:
  tree_run::TreeRun Run(const std::string& shape) {
    return mRunner.Run(shape, standin::Utf8(mFolder.Path() / "tree.log"));
  }

  // The worker's lines, every process ended before the wait did, and how
  // many processes the tree had.
  static void ExpectWaitedForTheWholeTree(const tree_run::TreeRun& run, std::size_t processes) {
    EXPECT_EQ(run.WorkerLines, (Lines{"Install Method = 1", "Break by handle closed"}));
    EXPECT_EQ(run.Processes.size(), processes);
    for (const tree_run::TreeProcess& process : run.Processes) {
      EXPECT_GE(process.EndedNs, 0) << process.Id << " never ended";
      EXPECT_LE(process.EndedNs, run.WaitEndedNs)
          << process.Id << " ended " << (process.EndedNs - run.WaitEndedNs) / 1e9 << " s after the wait";
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

}  // namespace
