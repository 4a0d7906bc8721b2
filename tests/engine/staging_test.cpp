// Staging, emptying and deleting on the files fake: what is staged where,
// what is never touched, the settings file and every failure path.
#include <gtest/gtest.h>

#include <algorithm>

#include "engine/staging.h"
#include "tests/support/fake_paths.h"
#include "tests/support/fake_files.h"

namespace {

using Keys = std::vector<std::string>;

class StagingTest : public ::testing::Test {
 protected:
  StagingTest() {
    mFiles.Temp = P(u"/tmp/");
    mFiles.AddFolder(P(u"/tmp"));
    mFiles.AddFile(P(u"/inst/Tb/setup.exe"), "program");
    mFiles.AddFile(P(u"/inst/Tb/data/settings.ini"), "BootOption=1\r\n");
    mFiles.AddFile(P(u"/inst/other.txt"), "o");
    mRequest.FileName = P(u"/inst/Tb/setup.exe");
    mRequest.StageSource = u"1";
  }

  engine::StageResult Stage() { return engine::StageToTemp(mRequest, mRequest.FileName, mStaged); }

  FakeFiles mFiles;
  ExeParameter mRequest;
  std::u16string mStaged = u"left from before";
};

TEST_F(StagingTest, ZeroStagesNothing) {
  mRequest.StageSource = u"0";
  const engine::StageResult result = Stage();
  EXPECT_EQ(result.Outcome, engine::StageOutcome::Launch);
  EXPECT_EQ(result.LaunchPath, mRequest.FileName);
  EXPECT_TRUE(mStaged.empty());
  EXPECT_TRUE(mFiles.Changes().empty());
}

TEST_F(StagingTest, OneStagesTheLaunchFolderWithItsSubfolders) {
  const engine::StageResult result = Stage();
  EXPECT_EQ(result.Outcome, engine::StageOutcome::Launch);
  EXPECT_EQ(mRequest.StageSource, P(u"/inst/Tb/"));
  EXPECT_EQ(mStaged, P(u"/tmp/Tb"));
  EXPECT_EQ(result.LaunchPath, P(u"/tmp/Tb/setup.exe"));
  EXPECT_TRUE(mFiles.Has(P(u"/tmp/Tb/setup.exe")));
  EXPECT_TRUE(mFiles.Has(P(u"/tmp/Tb/data/settings.ini")));
  EXPECT_FALSE(mFiles.Has(P(u"/tmp/Tb/other.txt")));
}

TEST_F(StagingTest, FolderSourceWithAndWithoutTrailingDelimiter) {
  mRequest.FileName = P(u"/elsewhere/run.exe");
  mRequest.StageSource = P(u"/inst/Tb/");
  EXPECT_EQ(Stage().LaunchPath, P(u"/tmp/Tb/run.exe")) << "the launch file's name, wherever it lies";
  EXPECT_TRUE(mFiles.Has(P(u"/tmp/Tb/setup.exe")));

  FakeFiles files;
  files.Temp = P(u"/tmp/");
  files.AddFolder(P(u"/tmp"));
  files.AddFile(P(u"/inst/Tb/setup.exe"), "program");
  files.AddFile(P(u"/inst/other.txt"), "o");
  mRequest.StageSource = P(u"/inst/Tb");
  EXPECT_EQ(Stage().LaunchPath, P(u"/tmp/Tb/run.exe"));
  EXPECT_EQ(mStaged, P(u"/tmp/Tb")) << "still named after the last folder";
  EXPECT_TRUE(files.Has(P(u"/tmp/Tb/other.txt"))) << "the parent's entries are copied";
  EXPECT_TRUE(files.Has(P(u"/tmp/Tb/Tb/setup.exe")));
}

TEST_F(StagingTest, LeftOverStagedFolderIsEmptiedAndKept) {
  mFiles.AddFile(P(u"/tmp/Tb/old.txt"), "old").ReadOnly = true;
  mFiles.AddFile(P(u"/tmp/Tb/oldsub/x.txt"), "x").Hidden = true;
  EXPECT_EQ(Stage().Outcome, engine::StageOutcome::Launch);
  EXPECT_FALSE(mFiles.Has(P(u"/tmp/Tb/old.txt")));
  EXPECT_FALSE(mFiles.Has(P(u"/tmp/Tb/oldsub")));
  const Keys changes = mFiles.Changes();
  EXPECT_EQ(std::count(changes.begin(), changes.end(), "Remove " + K("/tmp/Tb")), 0) << "the folder itself stays";
  const Keys expectedStart{"Clear " + K("/tmp/Tb/old.txt"), "Delete " + K("/tmp/Tb/old.txt"),
                           "Delete " + K("/tmp/Tb/oldsub/x.txt"), "Remove " + K("/tmp/Tb/oldsub")};
  ASSERT_GE(changes.size(), expectedStart.size());
  EXPECT_EQ(Keys(changes.begin(), changes.begin() + 4), expectedStart);
}

TEST_F(StagingTest, SourcesWithoutALastFolderNameStageNothing) {
  const std::u16string sources[] = {u"", P(u"/"), P(u"/inst/.."), P(u"/inst/."), u"..", u"."};
  for (const std::u16string& source : sources) {
    mRequest.StageSource = source;
    const engine::StageResult result = Stage();
    EXPECT_EQ(result.LaunchPath, mRequest.FileName) << platform::WideToUtf8(source);
    EXPECT_EQ(result.Outcome, engine::StageOutcome::Launch);
    EXPECT_TRUE(mStaged.empty());
  }
  mFiles.Temp = u"";
  mRequest.StageSource = u"1";
  EXPECT_EQ(Stage().LaunchPath, mRequest.FileName) << "no temporary folder";
  EXPECT_TRUE(mStaged.empty());
  EXPECT_TRUE(mFiles.Changes().empty());
}

TEST_F(StagingTest, LaunchFromTheRootStagesNothing) {
  mFiles.AddFile(P(u"/setup.exe"), "p");
  mRequest.FileName = P(u"/setup.exe");
  EXPECT_EQ(Stage().LaunchPath, P(u"/setup.exe"));
  EXPECT_TRUE(mStaged.empty());
  EXPECT_TRUE(mFiles.Changes().empty());
}

TEST_F(StagingTest, ASourceThatIsTheStagedFolderIsNotEmptied) {
  mFiles.AddFile(P(u"/tmp/Tb/setup.exe"), "p");
  mRequest.FileName = P(u"/tmp/Tb/setup.exe");
  EXPECT_EQ(Stage().LaunchPath, P(u"/tmp/Tb/setup.exe"));
  EXPECT_TRUE(mStaged.empty());
  EXPECT_TRUE(mFiles.Changes().empty());
}

TEST_F(StagingTest, AStagedPlaceThatIsNotThisUsersRealFolderIsRefused) {
  struct Case {
    const char* What;
    void (*Prepare)(FakeFiles&);
  };
  const Case cases[] = {
      {"foreign folder", [](FakeFiles& f) { f.AddFolder(P(u"/tmp/Tb"), true); }},
      {"folder link", [](FakeFiles& f) { f.AddFolderLink(P(u"/tmp/Tb"), P(u"/etc")); }},
      {"file", [](FakeFiles& f) { f.AddFile(P(u"/tmp/Tb"), "f"); }},
      {"cannot be created", [](FakeFiles& f) { f.FailOn("CreateFolder", P(u"/tmp/Tb")); }},
  };
  for (const Case& c : cases) {
    FakeFiles files;
    files.Temp = P(u"/tmp/");
    files.AddFile(P(u"/inst/Tb/setup.exe"), "program");
    files.AddFile(P(u"/etc/passwd"), "keep");
    files.AddFolder(P(u"/tmp"));
    c.Prepare(files);
    mRequest.StageSource = u"1";
    const engine::StageResult result = Stage();
    EXPECT_EQ(result.Outcome, engine::StageOutcome::Refused) << c.What;
    EXPECT_TRUE(mStaged.empty()) << c.What;
    EXPECT_TRUE(files.Changes().empty()) << c.What;
    EXPECT_TRUE(files.Has(P(u"/etc/passwd")));
  }
}

TEST_F(StagingTest, BootOptionIsResetInTheStagedCopyOnly) {
#ifdef _WIN32
  mRequest.BootOptionFile = u"data\\settings.ini";
#else
  mRequest.BootOptionFile = u"data/settings.ini";
#endif
  EXPECT_EQ(Stage().Outcome, engine::StageOutcome::Launch);
  EXPECT_EQ(mFiles.Find(P(u"/tmp/Tb/data/settings.ini"))->Data, "BootOption=0\r\n");
  EXPECT_EQ(mFiles.Find(P(u"/inst/Tb/data/settings.ini"))->Data, "BootOption=1\r\n");
}

TEST_F(StagingTest, SettingsFileWrittenOnceForEachReplacementAfterClearingItsAttributes) {
  mFiles.AddFile(P(u"/s.ini"), "a=1\nBootOption=1\rOldBootOptionValue=3\r\nkeep\r\n").ReadOnly = true;
  EXPECT_TRUE(engine::ResetBootOption(P(u"/s.ini")));
  EXPECT_EQ(mFiles.Changes(),
            (Keys{"Clear " + K("/s.ini"), "Write " + K("/s.ini"), "Clear " + K("/s.ini"), "Write " + K("/s.ini")}));
  EXPECT_EQ(mFiles.Find(P(u"/s.ini"))->Data, "a=1\r\nBootOption=0\r\nBootOption=0\r\nkeep\r\n");
}

TEST_F(StagingTest, SettingsFileWithoutAReplacementIsNeverWritten) {
  mFiles.AddFile(P(u"/s.ini"), "BootOption=0\nother=1");
  EXPECT_TRUE(engine::ResetBootOption(P(u"/s.ini")));
  EXPECT_TRUE(engine::ResetBootOption(P(u"/missing.ini")));
  EXPECT_TRUE(mFiles.Changes().empty());
}

TEST_F(StagingTest, AttributesThatCannotBeClearedLeaveTheReplacementForALaterWrite) {
  mFiles.AddFile(P(u"/s.ini"), "BootOption=1\n");
  mFiles.FailOn("ClearAttributes", P(u"/s.ini"));
  EXPECT_TRUE(engine::ResetBootOption(P(u"/s.ini")));
  EXPECT_TRUE(mFiles.Changes().empty());
  EXPECT_EQ(mFiles.Find(P(u"/s.ini"))->Data, "BootOption=1\n");
}

TEST_F(StagingTest, SettingsFileThatCannotBeReadOrRewrittenIsReported) {
  for (const char* operation : {"ReadWholeFile", "WriteWholeFile"}) {
    FakeFiles files;
    files.Temp = P(u"/tmp/");
    files.AddFolder(P(u"/tmp"));
    files.AddFile(P(u"/inst/Tb/setup.exe"), "program");
    files.AddFile(P(u"/inst/Tb/s.ini"), "BootOption=1\n");
    files.FailOn(operation, P(u"/tmp/Tb/s.ini"));
    mRequest.StageSource = u"1";
    mRequest.BootOptionFile = u"s.ini";
    const engine::StageResult result = Stage();
    EXPECT_EQ(result.Outcome, engine::StageOutcome::SettingsFileFailed) << operation;
    EXPECT_EQ(mStaged, P(u"/tmp/Tb")) << "the staged folder is known, for the end of the run";
  }
}

TEST_F(StagingTest, EmptyFolderStopsAtTheFirstEntryThatCannotBeDeleted) {
  mFiles.AddFile(P(u"/d/a.txt"), "a");
  mFiles.AddFile(P(u"/d/b.txt"), "b").ReadOnly = true;
  mFiles.AddFile(P(u"/d/c.txt"), "c");
  mFiles.FailOn("ClearAttributes", P(u"/d/b.txt"));
  EXPECT_FALSE(engine::EmptyFolder(P(u"/d")));
  EXPECT_FALSE(mFiles.Has(P(u"/d/a.txt")));
  EXPECT_TRUE(mFiles.Has(P(u"/d/b.txt")));
  EXPECT_TRUE(mFiles.Has(P(u"/d/c.txt"))) << "nothing after the failing entry";
  EXPECT_FALSE(engine::DeleteFolder(P(u"/d")));
  EXPECT_TRUE(mFiles.Has(P(u"/d"))) << "no removal after a failed emptying";

  FakeFiles files;
  files.AddFile(P(u"/d/sub/x.txt"), "x");
  files.AddFile(P(u"/d/z.txt"), "z");
  files.FailOn("DeleteEntry", P(u"/d/sub/x.txt"));
  EXPECT_FALSE(engine::EmptyFolder(P(u"/d"))) << "a subfolder that cannot be deleted stops the walk";
  EXPECT_TRUE(files.Has(P(u"/d/z.txt")));
}

TEST_F(StagingTest, MissingFolderEmptiesButCannotBeDeleted) {
  EXPECT_TRUE(engine::EmptyFolder(P(u"/nothing")));
  EXPECT_FALSE(engine::DeleteFolder(P(u"/nothing")));
  mFiles.AddFile(P(u"/d/sub/x.txt"), "x");
  EXPECT_TRUE(engine::DeleteFolder(P(u"/d/")));
  EXPECT_FALSE(mFiles.Has(P(u"/d")));
}

TEST_F(StagingTest, LinksAreRemovedThemselvesNeverFollowed) {
  mFiles.AddFile(P(u"/precious/file.txt"), "keep");
  mFiles.AddFolderLink(P(u"/d/link"), P(u"/precious"));
  EXPECT_TRUE(engine::DeleteFolder(P(u"/d")));
  EXPECT_FALSE(mFiles.Has(P(u"/d")));
  EXPECT_TRUE(mFiles.Has(P(u"/precious/file.txt")));

  mFiles.AddFolderLink(P(u"/tmp/Tb"), P(u"/precious"));
  EXPECT_TRUE(engine::EmptyFolder(P(u"/tmp/Tb"))) << "a folder that is a link is not listed";
  EXPECT_TRUE(mFiles.Has(P(u"/precious/file.txt")));
  EXPECT_TRUE(engine::DeleteFolder(P(u"/tmp/Tb")));
  EXPECT_FALSE(mFiles.Has(P(u"/tmp/Tb")));
  EXPECT_TRUE(mFiles.Has(P(u"/precious/file.txt")));
}

TEST_F(StagingTest, CopyFolderTreeRecursesWithoutExclusions) {
  EXPECT_TRUE(engine::CopyFolderTree(P(u"/inst/"), P(u"/out")));
  EXPECT_TRUE(mFiles.Has(P(u"/out/Tb/data/settings.ini")));
}

}  // namespace
