// Staging, emptying and deleting on the files fake: what is staged where,
// what is never touched, the settings file and its name, stopping, and every
// failure path.
#include <gtest/gtest.h>

#include <algorithm>

#include "engine/settings_file.h"
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

  engine::StageResult Stage(const engine::StopRequest& stop = {}) {
    return engine::StageToTemp(mRequest, mRequest.FileName, mStaged, stop);
  }

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
                           "Clear " + K("/tmp/Tb/oldsub"), "Delete " + K("/tmp/Tb/oldsub/x.txt"),
                           "Remove " + K("/tmp/Tb/oldsub")};
  ASSERT_GE(changes.size(), expectedStart.size());
  EXPECT_EQ(Keys(changes.begin(), changes.begin() + 5), expectedStart);
}

TEST_F(StagingTest, StagedFolderIsPrivateWhetherMadeOrReused) {
  mFiles.AddFolder(P(u"/inst/Tb")).Mode = 0777;
  Stage();
  EXPECT_EQ(mFiles.Find(P(u"/tmp/Tb"))->Mode, 0700u);
  mFiles.AddFolder(P(u"/tmp/Tb")).Mode = 0777;
  Stage();
  EXPECT_EQ(mFiles.Find(P(u"/tmp/Tb"))->Mode, 0700u) << "a left-over folder open to others is closed first";
}

TEST_F(StagingTest, MissingTemporaryFolderIsMadeWithItsParents) {
  mFiles.Temp = P(u"/gone/deeper/tmp/");
  const engine::StageResult result = Stage();
  EXPECT_EQ(result.Outcome, engine::StageOutcome::Launch);
  EXPECT_EQ(result.LaunchPath, P(u"/gone/deeper/tmp/Tb/setup.exe"));
  EXPECT_TRUE(mFiles.Has(P(u"/gone/deeper/tmp/Tb/data/settings.ini")));
}

TEST_F(StagingTest, SourcesWithoutALastFolderNameStageNothing) {
  const std::u16string sources[] = {u"", P(u"/"), P(u"/inst/.."), P(u"/inst/.")};
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

TEST_F(StagingTest, BareNamesAreRefused) {
  mFiles.Current = P(u"/inst");
  for (const std::u16string source : {u"Tb", u"foo", u".", u"..", u"*.*"}) {
    SCOPED_TRACE(platform::WideToUtf8(source));
    mRequest.StageSource = source;
    const engine::StageResult result = Stage();
    EXPECT_EQ(result.Outcome, engine::StageOutcome::Refused);
    EXPECT_EQ(result.LaunchPath, mRequest.FileName);
    EXPECT_TRUE(mStaged.empty());
  }
  EXPECT_TRUE(mFiles.Changes().empty());
}

TEST_F(StagingTest, SourceInsideTheStagedFolderOrHoldingItIsRefusedUntouched) {
  struct Case {
    const char* What;
    std::u16string Temp;
    std::u16string FileName;
    std::u16string Source;
  };
  const Case cases[] = {
      {"source is the staged folder", P(u"/tmp/"), P(u"/tmp/Tb/setup.exe"), u"1"},
      {"source deep inside it, by \"1\"", P(u"/tmp/"), P(u"/tmp/Tb/v2/Tb/setup.exe"), u"1"},
      {"source deep inside it, by path", P(u"/tmp/"), P(u"/x.exe"), P(u"/tmp/Tb/v2/Tb/")},
      {"source through a link into it", P(u"/tmp/"), P(u"/x.exe"), P(u"/alias/Tb/")},
      {"temporary folder inside the source", P(u"/tmp/Tb/v2/Tb/t/"), P(u"/tmp/Tb/v2/Tb/setup.exe"), u"1"},
      {"source folder holds the staged one", P(u"/tmp/"), P(u"/x.exe"), P(u"/tmp")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.What);
    FakeFiles files;
    files.Temp = c.Temp;
    files.AddFolder(P(u"/tmp"));
    files.AddFile(P(u"/tmp/Tb/v2/Tb/setup.exe"), "program");
    files.AddFile(P(u"/tmp/Tb/v2/Tb/data/keep.txt"), "keep");
    files.AddFile(P(u"/tmp/Tb/setup.exe"), "outer");
    files.AddFolder(P(u"/tmp/Tb/v2/Tb/t"));
    files.AddFolderLink(P(u"/alias"), P(u"/tmp/Tb/v2"));
    const std::vector<std::string> before = files.Tree();
    mRequest.FileName = c.FileName;
    mRequest.StageSource = c.Source;
    const engine::StageResult result = Stage();
    EXPECT_EQ(result.Outcome, engine::StageOutcome::Refused);
    EXPECT_TRUE(mStaged.empty());
    EXPECT_TRUE(files.Changes().empty());
    EXPECT_EQ(files.Tree(), before);
  }
}

TEST_F(StagingTest, OwnershipIsCheckedBeforeAnythingElseLooksAtTheStagedFolder) {
  mFiles.AddFolder(P(u"/tmp/Tb"), true);
  std::vector<std::string> order;
  mFiles.Confine([&order](const std::string& operation, const std::string& key) {
    if (FakeFiles::Within(key, K("/tmp/Tb"))) order.push_back(operation);
    return true;
  }, [](const std::string&) {});
  EXPECT_EQ(Stage().Outcome, engine::StageOutcome::Refused);
  ASSERT_FALSE(order.empty());
  EXPECT_EQ(order.front(), "IsOwnRealFolder");
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

TEST_F(StagingTest, ATemporaryFolderThatAnotherUserCanChangeIsRefusedUntouched) {
  const struct {
    const char* What;
    const char16_t* Temp;
  } cases[] = {
      {"theirs", u"/home/other/"},
      {"inside theirs", u"/home/other/tmp/"},
      {"missing, below theirs", u"/home/other/gone/tmp/"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.What);
    FakeFiles files;
    files.Temp = P(c.Temp);
    files.AddFile(P(u"/inst/Tb/setup.exe"), "program");
    files.AddFolder(P(u"/home/other"), true);
    files.AddFolder(P(u"/home/other/tmp"));
    mRequest.StageSource = u"1";
    const engine::StageResult result = Stage();
    EXPECT_EQ(result.Outcome, engine::StageOutcome::Refused);
    EXPECT_EQ(result.LaunchPath, P(u"/inst/Tb/setup.exe"));
    EXPECT_TRUE(mStaged.empty());
    EXPECT_TRUE(files.Changes().empty());
  }
}

TEST_F(StagingTest, AMissingTemporaryFolderThatAnotherUserStartedFirstIsRefused) {
  mFiles.Temp = P(u"/gone/tmp/");
  // Another user makes the first missing folder just before this run would.
  mFiles.Confine([this](const std::string& operation, const std::string& key) {
    if (operation == "CreateFolder" && key == K("/gone") && !mFiles.Has(P(u"/gone"))) {
      mFiles.AddFolder(P(u"/gone"), true);
    }
    return true;
  }, [](const std::string&) {});
  EXPECT_EQ(Stage().Outcome, engine::StageOutcome::Refused);
  EXPECT_TRUE(mStaged.empty());
  EXPECT_FALSE(mFiles.Has(P(u"/gone/tmp/Tb")));
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

TEST_F(StagingTest, SettingsFileWrittenOnceWithAllItsReplacementsAfterClearingItsAttributes) {
  mFiles.AddFile(P(u"/d/s.ini"), "a=1\nBootOption=1\rOldBootOptionValue=3\r\nkeep\r\n").ReadOnly = true;
  EXPECT_EQ(engine::ResetBootOption(P(u"/d"), u"s.ini"), engine::ResetOutcome::Done);
  EXPECT_EQ(mFiles.Changes(), (Keys{"Clear " + K("/d/s.ini"), "Write " + K("/d/s.ini")}));
  EXPECT_EQ(mFiles.Find(P(u"/d/s.ini"))->Data, "a=1\r\nBootOption=0\r\nBootOption=0\r\nkeep\r\n");
}

TEST_F(StagingTest, SettingsFileWithoutAReplacementIsNeverWritten) {
  mFiles.AddFile(P(u"/d/s.ini"), "BootOption=0\nother=1");
  EXPECT_EQ(engine::ResetBootOption(P(u"/d"), u"s.ini"), engine::ResetOutcome::Done);
  EXPECT_EQ(engine::ResetBootOption(P(u"/d"), u"missing.ini"), engine::ResetOutcome::Done);
  EXPECT_EQ(engine::ResetBootOption(P(u"/d"), u"nosub/s.ini"), engine::ResetOutcome::Done);
  EXPECT_TRUE(mFiles.Changes().empty());
}

TEST_F(StagingTest, AttributesThatCannotBeClearedLeaveTheFileAsItWas) {
  mFiles.AddFile(P(u"/d/s.ini"), "BootOption=1\n");
  mFiles.FailOn("ClearAttributes", P(u"/d/s.ini"));
  EXPECT_EQ(engine::ResetBootOption(P(u"/d"), u"s.ini"), engine::ResetOutcome::Done);
  EXPECT_TRUE(mFiles.Changes().empty());
  EXPECT_EQ(mFiles.Find(P(u"/d/s.ini"))->Data, "BootOption=1\n");
}

// A settings-file name is followed only inside its folder: every other name
// fails before anything is opened, and nothing outside the folder is touched.
TEST_F(StagingTest, SettingsFileNamesStayInsideTheirFolder) {
  const std::u16string sep = P(u"/").substr(P(u"/").size() - 1);
  mFiles.AddFile(P(u"/d/sub/s.ini"), "BootOption=1\n");
  mFiles.AddFile(P(u"/d/big.ini"), std::string(engine::kMaxSettingsFileBytes + 1, 'x'));
  mFiles.AddFile(P(u"/d/limit.ini"), "BootOption=1\n" + std::string(engine::kMaxSettingsFileBytes - 14, 'x'));
  mFiles.AddOther(P(u"/d/pipe.ini"));
  mFiles.AddFolder(P(u"/d/folder.ini"));
  mFiles.AddFolderLink(P(u"/d/linked"), P(u"/outside"));
  mFiles.AddFile(P(u"/outside/s.ini"), "BootOption=1\n");
  mFiles.AddFile(P(u"/x"), "BootOption=1\n");
  std::vector<std::string> escapes;
  mFiles.Confine(P(u"/d"), [&escapes](const std::string& what) { escapes.push_back(what); });
  struct Case {
    std::u16string Name;
    engine::ResetOutcome Expected;
  };
  const Case cases[] = {
      {u".." + sep + u".." + sep + u"x", engine::ResetOutcome::Failed},
      {u"sub" + sep + u".." + sep + u".." + sep + u"x", engine::ResetOutcome::Failed},
      {u"..", engine::ResetOutcome::Failed},
      {u"sub" + sep + u"..", engine::ResetOutcome::Failed},
      {u"", engine::ResetOutcome::Failed},
      {P(u"/x"), engine::ResetOutcome::Failed},
      {sep + u"x", engine::ResetOutcome::Failed},
#ifdef _WIN32
      {u"C:x", engine::ResetOutcome::Failed},
      {u"sub\\s.ini:stream", engine::ResetOutcome::Failed},
#endif
      {u"pipe.ini", engine::ResetOutcome::Failed},
      {u"folder.ini", engine::ResetOutcome::Failed},
      {u"big.ini", engine::ResetOutcome::Failed},
      {u"linked" + sep + u"s.ini", engine::ResetOutcome::Done},
      {u"limit.ini", engine::ResetOutcome::Done},
      {u"." + sep + u"sub" + sep + sep + u"other" + sep + u".." + sep + u"s.ini", engine::ResetOutcome::Done},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(platform::WideToUtf8(c.Name));
    EXPECT_EQ(engine::ResetBootOption(P(u"/d"), c.Name), c.Expected);
  }
  EXPECT_TRUE(escapes.empty()) << escapes.front();
  EXPECT_TRUE(mFiles.OpenedOthers().empty());
  EXPECT_EQ(mFiles.Changes(), (Keys{"Clear " + K("/d/limit.ini"), "Write " + K("/d/limit.ini"),
                                    "Clear " + K("/d/sub/s.ini"), "Write " + K("/d/sub/s.ini")}));
  EXPECT_EQ(mFiles.Find(P(u"/outside/s.ini"))->Data, "BootOption=1\n");
  EXPECT_EQ(mFiles.Find(P(u"/x"))->Data, "BootOption=1\n");
}

TEST_F(StagingTest, SettingsFileThatCannotBeReadOrRewrittenFailsAndTheStagedCopyGoes) {
  for (const char* operation : {"ReadFile", "WriteFile"}) {
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
    EXPECT_TRUE(mStaged.empty()) << operation;
    EXPECT_FALSE(files.Has(P(u"/tmp/Tb"))) << "nothing was launched from it";
    EXPECT_TRUE(files.Has(P(u"/inst/Tb/s.ini")));
  }
  mRequest.StageSource = u"1";
  mRequest.BootOptionFile = P(u"/inst/Tb/data/settings.ini");  // absolute: refused unread
  EXPECT_EQ(Stage().Outcome, engine::StageOutcome::SettingsFileFailed);
  EXPECT_FALSE(mFiles.Has(P(u"/tmp/Tb")));
  EXPECT_TRUE(mFiles.Has(P(u"/tmp")));
  EXPECT_EQ(mFiles.Find(P(u"/inst/Tb/data/settings.ini"))->Data, "BootOption=1\r\n");
}

TEST_F(StagingTest, StopDuringTheCopyCopiesNothingMoreAndRemovesTheStagedFolder) {
  for (int i = 0; i < 20; ++i) mFiles.AddFile(P(u"/inst/Tb/f") + platform::Utf8ToWide(std::to_string(100 + i)), "f");
  bool stop = false;
  int asked = 0;
  mFiles.OnCopy = [&stop](int copied) {
    if (copied == 5) stop = true;
  };
  const engine::StageResult result = Stage([&] {
    ++asked;
    return stop;
  });
  EXPECT_EQ(result.Outcome, engine::StageOutcome::Stopped);
  EXPECT_TRUE(mStaged.empty());
  const Keys changes = mFiles.Changes();
  EXPECT_EQ(std::count_if(changes.begin(), changes.end(), [](const std::string& c) { return c.rfind("Copy ", 0) == 0; }),
            5) << "nothing copied after the request";
  EXPECT_FALSE(mFiles.Has(P(u"/tmp/Tb")));
  EXPECT_TRUE(mFiles.Has(P(u"/inst/Tb/f119")));
  EXPECT_GE(asked, 6);
}

TEST_F(StagingTest, StopDuringTheSettingsFileLeavesItUnwritten) {
  mRequest.BootOptionFile = u"setup.exe";
  mFiles.AddFile(P(u"/inst/Tb/setup.exe"), "BootOption=1\n");
  int asked = 0;
  // The copy asks once per entry (data, settings.ini, setup.exe), staging once
  // after the copy: the next question comes after the read.
  const engine::StageResult result = Stage([&asked] { return ++asked > 4; });
  EXPECT_EQ(result.Outcome, engine::StageOutcome::Stopped);
  const Keys changes = mFiles.Changes();
  EXPECT_EQ(std::count_if(changes.begin(), changes.end(), [](const std::string& c) { return c.rfind("Write ", 0) == 0; }),
            0);
  EXPECT_FALSE(mFiles.Has(P(u"/tmp/Tb")));
}

TEST_F(StagingTest, EmptyFolderGoesOnPastWhatItCannotDelete) {
  FakeFiles files;
  files.AddFile(P(u"/d/a.txt"), "a");
  files.AddFile(P(u"/d/b.txt"), "b").ReadOnly = true;
  files.AddFile(P(u"/d/c.txt"), "c");
  files.AddFile(P(u"/d/sub/x.txt"), "x");
  files.AddFile(P(u"/d/sub/y.txt"), "y");
  files.AddFile(P(u"/d/sub2/deep/w.txt"), "w");
  files.AddFile(P(u"/d/z.txt"), "z");
  files.FailOn("ClearAttributes", P(u"/d/b.txt"));
  files.FailOn("DeleteEntry", P(u"/d/sub/x.txt"));
  EXPECT_FALSE(engine::EmptyFolder(P(u"/d")));
  Keys left;
  for (const std::string& key : files.Tree()) {
    if (FakeFiles::Within(key, K("/d"))) left.push_back(key);
  }
  EXPECT_EQ(left, (Keys{K("/d") + "/", K("/d/b.txt"), K("/d/sub") + "/", K("/d/sub/x.txt")})) << "everything else went";
  EXPECT_FALSE(engine::DeleteFolder(P(u"/d")));
  EXPECT_TRUE(files.Has(P(u"/d"))) << "no removal after a failed emptying";
}

TEST_F(StagingTest, ReadOnlySubfoldersAreClearedAndDeleted) {
  mFiles.AddFolder(P(u"/d/ro")).ReadOnly = true;
  mFiles.AddFolder(P(u"/d/ro/inner")).ReadOnly = true;
  mFiles.AddFile(P(u"/d/ro/inner/f.txt"), "f").ReadOnly = true;
  EXPECT_TRUE(engine::DeleteFolder(P(u"/d")));
  EXPECT_FALSE(mFiles.Has(P(u"/d")));
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
