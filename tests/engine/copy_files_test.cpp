// The copy engine on the files fake: the parameters, masks, trailing
// delimiters, recursion, exclusions, failures and what is never walked.
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

}  // namespace
