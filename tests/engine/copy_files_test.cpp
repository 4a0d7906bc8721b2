// The copy engine on the files fake: the parameters, masks, trailing
// delimiters, recursion, exclusions, failures, what is never walked or opened,
// and copies kept inside a scratch folder that they must never leave.
#include <gtest/gtest.h>

#include <algorithm>

#include "engine/copy_files.h"
#include "tests/support/fake_paths.h"
#include "tests/support/fake_files.h"

namespace {

using Keys = std::vector<std::string>;

// The keys under a folder key in the files fake in place, sorted ("name/" for folders).
Keys Under(const FakeFiles& files, const std::string& folder) {
  Keys out;
  for (const std::string& key : files.Tree()) {
    if (key.size() > folder.size() + 1 && key.rfind(folder + "/", 0) == 0) out.push_back(key.substr(folder.size() + 1));
  }
  return out;
}

class CopyFilesTest : public ::testing::Test {
 protected:
  CopyFilesTest() {
    mFiles.AddFile(P(u"/rootfile.txt"), "r");
    mFiles.AddFile(P(u"/src/a.txt"), "a");
    mFiles.AddFile(P(u"/src/b.log"), "b").Hidden = true;
    mFiles.AddFile(P(u"/src/c.sys"), "c").System = true;
    mFiles.AddFile(P(u"/src/sub/d.txt"), "d");
    mFiles.AddFile(P(u"/src/sub/deep/e.txt"), "e");
    mFiles.AddFile(P(u"/src/tmp/t.txt"), "t");
  }

  FakeFiles mFiles;
};

TEST_F(CopyFilesTest, FolderSpecificationsCopyEveryFileOfTheFolderWhateverTheMask) {
  struct Case {
    std::u16string Parameters;
    Keys Expected;
  };
  const Keys ownFiles{"a.txt", "b.log", "c.sys"};
  const Case cases[] = {
      {P(u"/src/*.*") + u"," + P(u"/dst"), ownFiles},
      {P(u"/src/*.txt") + u"," + P(u"/dst"), ownFiles},  // the mask is not a filter
      {P(u"/src/") + u"," + P(u"/dst"), ownFiles},
      {P(u"/src/missing.txt") + u"," + P(u"/dst"), ownFiles},  // a missing file is a folder specification
      {P(u"/src") + u"," + P(u"/dst"), {"rootfile.txt"}},      // no trailing delimiter: the parent's entries
  };
  for (const Case& c : cases) {
    FakeFiles files;
    files.AddFile(P(u"/rootfile.txt"), "r");
    files.AddFile(P(u"/src/a.txt"), "a");
    files.AddFile(P(u"/src/b.log"), "b").Hidden = true;
    files.AddFile(P(u"/src/c.sys"), "c").System = true;
    files.AddFile(P(u"/src/sub/d.txt"), "d");
    EXPECT_TRUE(engine::RunCopyFile(c.Parameters)) << platform::WideToUtf8(c.Parameters);
    const Keys got = Under(files, K("/dst"));
    EXPECT_EQ(got, c.Expected) << platform::WideToUtf8(c.Parameters);
    EXPECT_NE(files.Find(P(u"/dst")), nullptr);
  }
}

TEST_F(CopyFilesTest, RecursionWhenTheUpperCasedFlagsContainE) {
  const Keys whole{"a.txt", "b.log", "c.sys", "sub/", "sub/d.txt", "sub/deep/", "sub/deep/e.txt", "tmp/", "tmp/t.txt"};
  const Keys flat{"a.txt", "b.log", "c.sys"};
  const std::pair<std::u16string, Keys> cases[] = {
      {u"/E", whole}, {u"/e", whole}, {u"/EXACT", whole}, {u"x /e y", whole}, {u"", flat}, {u"E", flat}, {u"/X", flat},
  };
  for (const auto& [flags, expected] : cases) {
    FakeFiles files;
    files.AddFile(P(u"/src/a.txt"), "a");
    files.AddFile(P(u"/src/b.log"), "b");
    files.AddFile(P(u"/src/c.sys"), "c");
    files.AddFile(P(u"/src/sub/d.txt"), "d");
    files.AddFile(P(u"/src/sub/deep/e.txt"), "e");
    files.AddFile(P(u"/src/tmp/t.txt"), "t");
    EXPECT_TRUE(engine::CopyFiles(P(u"/src/"), P(u"/dst"), flags, u"")) << platform::WideToUtf8(flags);
    const Keys got = Under(files, K("/dst"));
    EXPECT_EQ(got, expected) << platform::WideToUtf8(flags);
  }
}

TEST_F(CopyFilesTest, FileSourceGoesIntoAnExistingFolderOrToTheTargetPath) {
  mFiles.AddFolder(P(u"/dst"));
  EXPECT_TRUE(engine::CopyFiles(P(u"/src/a.txt"), P(u"/dst"), u"", u""));
  ASSERT_NE(mFiles.Find(P(u"/dst/a.txt")), nullptr);
  EXPECT_EQ(mFiles.Find(P(u"/dst/a.txt"))->Data, "a");

  EXPECT_TRUE(engine::CopyFiles(P(u"/src/a.txt"), P(u"/other"), u"", u""));
  ASSERT_NE(mFiles.Find(P(u"/other")), nullptr);
  EXPECT_EQ(mFiles.Find(P(u"/other"))->Kind, FakeFiles::Type::File) << "copied to a file of that name";

  EXPECT_FALSE(engine::CopyFiles(P(u"/src/a.txt"), P(u"/new/b.txt"), u"", u""));
  EXPECT_FALSE(mFiles.Has(P(u"/new"))) << "no folder is created for a file source";
}

TEST_F(CopyFilesTest, ExistingTargetIsOverwrittenAndAReadOnlyOneFails) {
  mFiles.AddFile(P(u"/dst/a.txt"), "old");
  EXPECT_TRUE(engine::CopyFiles(P(u"/src/a.txt"), P(u"/dst/a.txt"), u"", u""));
  EXPECT_EQ(mFiles.Find(P(u"/dst/a.txt"))->Data, "a");
  mFiles.AddFile(P(u"/dst/a.txt"), "locked").ReadOnly = true;
  EXPECT_FALSE(engine::CopyFiles(P(u"/src/a.txt"), P(u"/dst/a.txt"), u"", u""));
  EXPECT_EQ(mFiles.Find(P(u"/dst/a.txt"))->Data, "locked");
}

TEST_F(CopyFilesTest, ExclusionsAreFullSourcePathsComparedWithoutCase) {
  const std::u16string src = P(u"/src/");
  struct Case {
    std::u16string Exclusions;
    bool TmpCopied;
    bool ACopied;
  };
  const Case cases[] = {
      {P(u"/src/tmp"), false, true},
      {P(u"/SRC/TMP"), false, true},
      {P(u"/src/tmp/"), true, true},  // a trailing delimiter never matches
      {u"\"" + P(u"/src/tmp") + u"," + P(u"/src/a.txt") + u"\"", false, false},
      {P(u"/src/tmp") + u"," + P(u"/src/a.txt"), false, true},  // unquoted: only the first reaches the fourth item
  };
  for (const Case& c : cases) {
    FakeFiles files;
    files.AddFile(P(u"/src/a.txt"), "a");
    files.AddFile(P(u"/src/tmp/t.txt"), "t");
    const std::u16string parameters = src + u"," + P(u"/dst") + u",/E," + c.Exclusions;
    EXPECT_TRUE(engine::RunCopyFile(parameters)) << "an excluded file counts as copied";
    EXPECT_EQ(files.Has(P(u"/dst/tmp")), c.TmpCopied) << platform::WideToUtf8(c.Exclusions);
    EXPECT_EQ(files.Has(P(u"/dst/a.txt")), c.ACopied) << platform::WideToUtf8(c.Exclusions);
  }
}

TEST_F(CopyFilesTest, ItemsOfTheParameters) {
  EXPECT_FALSE(engine::RunCopyFile(u""));
  EXPECT_FALSE(engine::RunCopyFile(P(u"/src/")));
  EXPECT_TRUE(mFiles.Changes().empty()) << "fewer than two items copy nothing";

  // A fifth item is ignored.
  EXPECT_TRUE(engine::RunCopyFile(P(u"/src/") + u"," + P(u"/dst") + u",," + P(u"/src/b.log") + u"," + P(u"/src/a.txt")));
  EXPECT_TRUE(mFiles.Has(P(u"/dst/a.txt")));
  EXPECT_FALSE(mFiles.Has(P(u"/dst/b.log")));
}

TEST_F(CopyFilesTest, UnquotedPathWithABlankSplitsIntoThreeItems) {
  mFiles.AddFile(P(u"/Program Files/App/setup.exe"), "s");
  const std::u16string target = P(u"/dst");
  EXPECT_TRUE(engine::RunCopyFile(u"\"" + P(u"/Program Files/App/") + u"\"," + target));
  EXPECT_TRUE(mFiles.Has(P(u"/dst/setup.exe")));

  FakeFiles files;
  files.AddFile(P(u"/Program Files/App/setup.exe"), "s");
  engine::RunCopyFile(P(u"/Program Files/App/") + u"," + target);
  EXPECT_FALSE(files.Has(P(u"/dst"))) << "the target is the second piece of the first path";
  const std::vector<std::string> changes = files.Changes();
  EXPECT_TRUE(std::any_of(changes.begin(), changes.end(),
                          [](const std::string& c) { return c.find("Create Files") == 0; }))
      << "the second piece, a relative path, is the target folder";
}

TEST_F(CopyFilesTest, FirstFailingFileEndsTheFolderButSubfolderFailuresAreNotReported) {
  mFiles.FailOn("CopyFile", P(u"/dst/b.log"));
  EXPECT_FALSE(engine::CopyFiles(P(u"/src/"), P(u"/dst"), u"/E", u""));
  EXPECT_EQ(Under(mFiles, K("/dst")), (Keys{"a.txt"})) << "entries after the failing one are not copied";

  FakeFiles files;
  files.AddFile(P(u"/src/a.txt"), "a");
  files.AddFile(P(u"/src/sub/d.txt"), "d");
  files.AddFile(P(u"/src/sub/deep/e.txt"), "e");
  files.AddFile(P(u"/src/z.txt"), "z");
  files.FailOn("CopyFile", P(u"/dst/sub/d.txt"));
  EXPECT_TRUE(engine::CopyFiles(P(u"/src/"), P(u"/dst"), u"/E", u""));
  EXPECT_TRUE(files.Has(P(u"/dst/z.txt"))) << "the walk goes on after a failing subfolder";
  EXPECT_TRUE(files.Has(P(u"/dst/sub")));
  EXPECT_FALSE(files.Has(P(u"/dst/sub/deep"))) << "the subfolder's own walk ended at its failing file";
}

TEST_F(CopyFilesTest, UnlistableSourceFailsAfterTheTargetWasCreated) {
  mFiles.FailOn("OpenFolder", P(u"/src"));
  EXPECT_FALSE(engine::CopyFiles(P(u"/src/"), P(u"/a/b/dst"), u"", u""));
  EXPECT_EQ(mFiles.Changes(), (Keys{"Create " + K("/a"), "Create " + K("/a/b"), "Create " + K("/a/b/dst")}))
      << "every missing folder, outermost first";
}

TEST_F(CopyFilesTest, FolderLinksAndTheTargetFolderAreNeverWalked) {
  mFiles.AddFile(P(u"/elsewhere/x.txt"), "x");
  mFiles.AddFolderLink(P(u"/src/link"), P(u"/elsewhere"));
  mFiles.AddFolderLink(P(u"/src/loop"), P(u"/src"));
  EXPECT_TRUE(engine::CopyFiles(P(u"/src/"), P(u"/dst"), u"/E", u""));
  EXPECT_FALSE(mFiles.Has(P(u"/dst/link")));
  EXPECT_FALSE(mFiles.Has(P(u"/dst/loop")));

  // The source folder holds the target: its entries are copied, the target is not entered.
  FakeFiles files;
  files.AddFile(P(u"/t/src/a.txt"), "a");
  files.AddFile(P(u"/t/f.txt"), "f");
  EXPECT_TRUE(engine::RunCopyFile(P(u"/t/src") + u"," + P(u"/t/dst") + u",/E"));
  EXPECT_TRUE(files.Has(P(u"/t/dst/src/a.txt")));
  EXPECT_TRUE(files.Has(P(u"/t/dst/f.txt")));
  EXPECT_FALSE(files.Has(P(u"/t/dst/dst")));
}

TEST_F(CopyFilesTest, ForceFolderCreatesMissingFoldersOutermostFirst) {
  engine::ForceFolder(P(u"/src/n1/n2/"));
  EXPECT_EQ(mFiles.Changes(), (Keys{"Create " + K("/src/n1"), "Create " + K("/src/n1/n2")}));
  engine::ForceFolder(P(u"/src"));
  engine::ForceFolder(u"");
  EXPECT_EQ(mFiles.Changes().size(), 2u) << "an existing folder and an empty text create nothing";
}

TEST_F(CopyFilesTest, IsExcluded) {
  EXPECT_FALSE(engine::IsExcluded(u"a", u""));
  EXPECT_TRUE(engine::IsExcluded(u"/x/a", u"/y,/X/A"));
  EXPECT_FALSE(engine::IsExcluded(u"/x/a", u"/x/a/"));
  EXPECT_TRUE(engine::IsExcluded(u"/x/\u00e9", u"/X/\u00c9")) << "the whole text, not only ASCII";
}

// A files fake confined to the scratch folder: the current folder and every
// source and target lie inside it, a sentinel tree and a file lie outside it,
// and any use of a path outside it fails the test.
class ConfinedCopyTest : public ::testing::Test {
 protected:
  ConfinedCopyTest() {
    mFiles.AddFile(P(u"/outside/secret.txt"), "secret");
    mFiles.AddFile(P(u"/outside/sub/key.txt"), "key");
    mFiles.AddFile(P(u"/scratch/cwd/a.txt"), "a");
    mFiles.AddFile(P(u"/scratch/cwd/sub/b.txt"), "b");
    mFiles.AddFile(P(u"/scratch/src/c.txt"), "c");
    mFiles.Current = P(u"/scratch/cwd");
    mFiles.Confine(P(u"/scratch"), [](const std::string& use) { ADD_FAILURE() << "used outside the scratch folder: " << use; });
  }

  FakeFiles mFiles;
};

TEST_F(ConfinedCopyTest, SourcesWithoutAFolderPartCopyNothingAndFail) {
  const Keys before = mFiles.Tree();
  for (const std::u16string source : {u"", u"nosuch", u"*.txt", u"*.*", u".", u"..", u"sub"}) {
    for (const std::u16string& target : {std::u16string(u"dst"), P(u"/scratch/dst")}) {
      SCOPED_TRACE(platform::WideToUtf8(source) + " -> " + platform::WideToUtf8(target));
      EXPECT_FALSE(engine::RunCopyFile(u"\"" + source + u"\"," + target + u",/E"));
      EXPECT_FALSE(engine::CopyFiles(source, target, u"/E", u""));
    }
  }
  EXPECT_EQ(mFiles.Tree(), before);
  EXPECT_TRUE(mFiles.Changes().empty()) << "not even the target folder is created";

  // An empty target would put the entries into the root: nothing is copied.
  EXPECT_FALSE(engine::RunCopyFile(P(u"/scratch/src/") + u",\"\",/E"));
  EXPECT_TRUE(mFiles.Changes().empty());
}

TEST_F(ConfinedCopyTest, SourcesWithAFolderPartOrNamingAFileCopyAsAsked) {
  // A bare name of an existing file is a file source; "./" is the current folder.
  EXPECT_TRUE(engine::RunCopyFile(u"a.txt,copy.txt"));
  EXPECT_EQ(mFiles.Find(P(u"/scratch/cwd/copy.txt"))->Data, "a");
  const std::u16string here = u"." + std::u16string(1, platform::PathDelimitersOfPlatform().Separators[0]);
  EXPECT_TRUE(engine::RunCopyFile(here + u",dot,/E"));
  EXPECT_TRUE(mFiles.Has(P(u"/scratch/cwd/dot/sub/b.txt")));
  EXPECT_FALSE(mFiles.Has(P(u"/scratch/cwd/dot/dot"))) << "the folder being copied into is not entered";
  EXPECT_TRUE(engine::RunCopyFile(P(u"/scratch/src/") + u"," + P(u"/scratch/dst") + u",/E"));
  EXPECT_TRUE(mFiles.Has(P(u"/scratch/dst/c.txt")));
  EXPECT_TRUE(engine::RunCopyFile(P(u"/scratch/cwd/sub/*.txt") + u",rel"));
  EXPECT_TRUE(mFiles.Has(P(u"/scratch/cwd/rel/b.txt"))) << "a relative target lies in the current folder";
}

TEST_F(ConfinedCopyTest, OddEntriesAreSkippedUnopenedAndTheCopyReportsThem) {
  mFiles.AddFile(P(u"/scratch/src/a.txt"), "a");
  mFiles.AddOther(P(u"/scratch/src/b.fifo"));
  mFiles.AddFile(P(u"/scratch/src/z.txt"), "z");
  mFiles.AddOther(P(u"/scratch/src/sub/dangling"));
  mFiles.AddFile(P(u"/scratch/src/sub/y.txt"), "y");

  EXPECT_FALSE(engine::RunCopyFile(P(u"/scratch/src/") + u"," + P(u"/scratch/dst") + u",/E"))
      << "something was not copied";
  EXPECT_EQ(Under(mFiles, K("/scratch/dst")), (Keys{"a.txt", "c.txt", "sub/", "sub/y.txt", "z.txt"}))
      << "the copy goes on after an odd entry, in this folder and below";
  EXPECT_TRUE(mFiles.OpenedOthers().empty());

  // Only in a subfolder: still reported.
  FakeFiles files;
  files.AddFile(P(u"/scratch/src/a.txt"), "a");
  files.AddOther(P(u"/scratch/src/sub/socket"));
  EXPECT_FALSE(engine::CopyFiles(P(u"/scratch/src/"), P(u"/scratch/dst"), u"/E", u""));
  EXPECT_TRUE(files.Has(P(u"/scratch/dst/a.txt")));
  EXPECT_TRUE(files.Has(P(u"/scratch/dst/sub")));
  EXPECT_TRUE(engine::CopyFiles(P(u"/scratch/src/"), P(u"/scratch/flat"), u"", u"")) << "without /E it is not copied";
}

TEST_F(ConfinedCopyTest, SubfolderSwappedForALinkBetweenListingAndOpeningIsNotFollowed) {
  mFiles.AddFile(P(u"/scratch/src/sub/own.txt"), "own");
  mFiles.AddFile(P(u"/scratch/src/z.txt"), "z");
  mFiles.SwapForLinkBeforeOpen(P(u"/scratch/src/sub"), P(u"/outside"));
  EXPECT_FALSE(engine::RunCopyFile(P(u"/scratch/src/") + u"," + P(u"/scratch/dst") + u",/E"));
  EXPECT_EQ(Under(mFiles, K("/scratch/dst")), (Keys{"c.txt", "z.txt"}))
      << "nothing of the link's folder, and no target folder for it";
  EXPECT_EQ(mFiles.Find(P(u"/scratch/src/sub"))->Kind, FakeFiles::Type::FolderLink) << "the swap took place";
}

TEST_F(ConfinedCopyTest, FoldersTheCopyCreatesNeverGrantMoreThanTheirSources) {
  mFiles.AddFolder(P(u"/scratch/private")).Mode = 0700;
  mFiles.AddFile(P(u"/scratch/private/p.txt"), "p");
  mFiles.AddFolder(P(u"/scratch/private/group")).Mode = 0750;
  mFiles.AddFolder(P(u"/scratch/private/shared")).Mode = 06777;
  mFiles.AddFile(P(u"/scratch/private/shared/s.txt"), "s");
  EXPECT_TRUE(engine::RunCopyFile(P(u"/scratch/private/") + u"," + P(u"/scratch/copy") + u",/E"));
  EXPECT_EQ(mFiles.Find(P(u"/scratch/copy"))->Mode, 0700u);
  EXPECT_EQ(mFiles.Find(P(u"/scratch/copy/group"))->Mode, 0750u);
  EXPECT_EQ(mFiles.Find(P(u"/scratch/copy/shared"))->Mode, 0777u) << "never set-id bits";

  // Folders that were there keep their modes.
  FakeFiles files;
  files.AddFolder(P(u"/scratch/private")).Mode = 0700;
  files.AddFolder(P(u"/scratch/private/group")).Mode = 0700;
  files.AddFolder(P(u"/scratch/there")).Mode = 0755;
  files.AddFolder(P(u"/scratch/there/group")).Mode = 0775;
  EXPECT_TRUE(engine::RunCopyFile(P(u"/scratch/private/") + u"," + P(u"/scratch/there") + u",/E"));
  EXPECT_EQ(files.Find(P(u"/scratch/there"))->Mode, 0755u);
  EXPECT_EQ(files.Find(P(u"/scratch/there/group"))->Mode, 0775u);
}

TEST_F(ConfinedCopyTest, SubfolderThatCannotBeOpenedOrMadeIsReported) {
  mFiles.AddFile(P(u"/scratch/src/sub/d.txt"), "d");
  mFiles.AddFile(P(u"/scratch/src/more/e.txt"), "e");
  mFiles.FailOn("OpenFolder", P(u"/scratch/src/sub"));
  EXPECT_FALSE(engine::CopyFiles(P(u"/scratch/src/"), P(u"/scratch/dst"), u"/E", u""));
  EXPECT_TRUE(mFiles.Has(P(u"/scratch/dst/more/e.txt"))) << "the walk goes on";
  EXPECT_FALSE(mFiles.Has(P(u"/scratch/dst/sub")));

  FakeFiles files;
  files.AddFile(P(u"/scratch/src/sub/d.txt"), "d");
  files.FailOn("CreateFolder", P(u"/scratch/dst/sub"));
  EXPECT_FALSE(engine::CopyFiles(P(u"/scratch/src/"), P(u"/scratch/dst"), u"/E", u""));
}

TEST(ExclusionSet, MatchesWholeItemsWithoutCaseWhateverTheirNumber) {
  std::u16string list;
  for (int item = 0; item < 3000; ++item) list += u"/x/" + platform::Utf8ToWide(std::to_string(item)) + u",";
  list += u"/x/Last";
  const engine::ExclusionSet set(list);
  EXPECT_TRUE(set.Contains(u"/X/LAST"));
  EXPECT_TRUE(set.Contains(u"/x/0"));
  EXPECT_TRUE(set.Contains(u"/x/2999"));
  EXPECT_FALSE(set.Contains(u"/x/3000"));
  EXPECT_FALSE(set.Contains(u"/x/"));
  EXPECT_FALSE(engine::ExclusionSet(u"").Contains(u""));
}

}  // namespace
