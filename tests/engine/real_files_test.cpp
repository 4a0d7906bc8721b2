// The copy engine and staging on real folders of this build's file system
// (under Wine with Windows paths): parameters, masks, recursion, exclusions,
// staging with the settings file, attributes, names, links and permissions.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#else
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "engine/copy_files.h"
#include "engine/staging.h"
#include "platform/files.h"
#include "platform/text.h"

namespace {

namespace fs = std::filesystem;

// A path from UTF-8 text, with this system's delimiters.
fs::path U8(const std::string& text) { return fs::path(std::u8string(text.begin(), text.end())).make_preferred(); }
std::u16string W(const fs::path& path) { return fs::path(path).make_preferred().u16string(); }
std::u16string WithDelimiter(const fs::path& path) { return W(path) + std::u16string(1, fs::path::preferred_separator); }

void Write(const fs::path& path, const std::string& bytes) {
  fs::create_directories(path.parent_path());
  std::ofstream out(path, std::ios::binary);
  out << bytes;
}

std::string Read(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// The names under a folder, relative, sorted, folders ending in "/".
std::vector<std::string> Tree(const fs::path& folder) {
  std::vector<std::string> names;
  if (!fs::exists(folder)) return names;
  for (const fs::directory_entry& entry : fs::recursive_directory_iterator(folder)) {
    std::string name = entry.path().lexically_relative(folder).generic_string();
    if (entry.is_directory() && !entry.is_symlink()) name += "/";
    names.push_back(name);
  }
  std::sort(names.begin(), names.end());
  return names;
}

#ifdef _WIN32
void SetAttributes(const fs::path& path, DWORD attributes) { SetFileAttributesW(path.c_str(), attributes); }
DWORD Attributes(const fs::path& path) { return GetFileAttributesW(path.c_str()); }
#endif

class RealFilesTest : public ::testing::Test {
 protected:
  RealFilesTest() {
    static int counter = 0;
    mRoot = fs::temp_directory_path() / ("nvk-files-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
                                         "-" + std::to_string(++counter) + "-" + std::to_string(Pid()));
    fs::remove_all(mRoot);
    fs::create_directories(mRoot);
    Write(mRoot / "root.txt", "root");
    Write(mRoot / "src" / "a.txt", "a");
    Write(mRoot / "src" / "b.log", "b");
    Write(mRoot / "src" / "sub" / "c.txt", "c");
    Write(mRoot / "src" / "sub" / "deep" / "d.txt", "d");
    Write(mRoot / "src" / "tmp" / "t.txt", "t");
  }
  ~RealFilesTest() override {
#ifdef _WIN32
    for (const fs::directory_entry& entry : fs::recursive_directory_iterator(mRoot)) SetAttributes(entry.path(), 0);
#endif
    std::error_code ignored;
    fs::remove_all(mRoot, ignored);
  }
  static long Pid() {
#ifdef _WIN32
    return static_cast<long>(GetCurrentProcessId());
#else
    return static_cast<long>(getpid());
#endif
  }
  std::u16string At(const std::string& relative) { return W(mRoot / U8(relative)); }
  std::u16string Folder(const std::string& relative) { return WithDelimiter(mRoot / U8(relative)); }

  fs::path mRoot;
};

using Names = std::vector<std::string>;
const Names kOwnFiles{"a.txt", "b.log"};
const Names kWholeTree{"a.txt", "b.log", "sub/", "sub/c.txt", "sub/deep/", "sub/deep/d.txt", "tmp/", "tmp/t.txt"};

TEST_F(RealFilesTest, FolderSpecificationsMasksAndTrailingDelimiters) {
  struct Case {
    std::u16string Parameters;
    Names Expected;
  };
  const std::u16string sep(1, fs::path::preferred_separator);
  const Case cases[] = {
      {Folder("src") + u"*.*," + At("d1"), kOwnFiles},
      {Folder("src") + u"*.txt," + At("d2"), kOwnFiles},
      {Folder("src") + u"," + At("d3"), kOwnFiles},
      {At("src") + sep + u"missing.txt," + At("d4"), kOwnFiles},
      {Folder("src") + u"," + At("d5") + u",/E", kWholeTree},
      {Folder("src") + u"," + At("d6") + u",/e", kWholeTree},
      {Folder("src") + u"," + At("d7") + u",/EXACT", kWholeTree},
      {Folder("src") + u"," + At("d8") + u",/X", kOwnFiles},
      {Folder("src") + u"," + At("new") + sep + u"deeper" + sep + u"d9", kOwnFiles},
  };
  for (const Case& c : cases) {
    EXPECT_TRUE(engine::RunCopyFile(c.Parameters)) << platform::WideToUtf8(c.Parameters);
    const std::string target = platform::WideToUtf8(c.Parameters.substr(c.Parameters.find(u',') + 1));
    EXPECT_EQ(Tree(U8(target.substr(0, target.find(',')))), c.Expected) << platform::WideToUtf8(c.Parameters);
  }
  // No trailing delimiter: the parent's entries, without subfolders.
  EXPECT_TRUE(engine::RunCopyFile(At("src") + u"," + At("up")));
  EXPECT_EQ(Tree(mRoot / "up"), (Names{"root.txt"}));
}

TEST_F(RealFilesTest, FileSourcesAndTheirTargets) {
  fs::create_directories(mRoot / "dst");
  EXPECT_TRUE(engine::RunCopyFile(At("src/a.txt") + u"," + At("dst")));
  EXPECT_EQ(Read(mRoot / "dst" / "a.txt"), "a") << "an existing folder receives the file under its name";

  EXPECT_TRUE(engine::RunCopyFile(At("src/a.txt") + u"," + At("plain")));
  EXPECT_TRUE(fs::is_regular_file(mRoot / "plain"));

  EXPECT_FALSE(engine::RunCopyFile(At("src/a.txt") + u"," + At("missing/b.txt")));
  EXPECT_FALSE(fs::exists(mRoot / "missing"));

  Write(mRoot / "dst" / "b.log", "old");
  EXPECT_TRUE(engine::RunCopyFile(At("src/b.log") + u"," + At("dst/b.log")));
  EXPECT_EQ(Read(mRoot / "dst" / "b.log"), "b") << "an existing target is overwritten";
}

TEST_F(RealFilesTest, ExclusionsAndItems) {
  EXPECT_TRUE(engine::RunCopyFile(Folder("src") + u"," + At("e1") + u",/E,\"" + At("src/tmp") + u"," + At("src/a.txt") +
                                  u"\""));
  EXPECT_EQ(Tree(mRoot / "e1"), (Names{"b.log", "sub/", "sub/c.txt", "sub/deep/", "sub/deep/d.txt"}));

  EXPECT_TRUE(engine::RunCopyFile(Folder("src") + u"," + At("e2") + u",/E," + Folder("src/tmp")));
  EXPECT_EQ(Tree(mRoot / "e2"), kWholeTree) << "a trailing delimiter never matches";

  EXPECT_TRUE(engine::RunCopyFile(Folder("src") + u"," + At("e3") + u",/E," + At("src/sub") + u"," + At("src/a.txt")));
  EXPECT_EQ(Tree(mRoot / "e3"), (Names{"a.txt", "b.log", "tmp/", "tmp/t.txt"})) << "a fifth item is ignored";

  EXPECT_FALSE(engine::RunCopyFile(Folder("src")));
  EXPECT_FALSE(engine::RunCopyFile(u""));
}

TEST_F(RealFilesTest, UnquotedPathWithABlankSplitsAndAQuotedOneCopies) {
  Write(mRoot / "Program Files" / "App" / "setup.exe", "s");
  EXPECT_TRUE(engine::RunCopyFile(u"\"" + Folder("Program Files/App") + u"\"," + At("q")));
  EXPECT_EQ(Tree(mRoot / "q"), (Names{"setup.exe"}));
  // Unquoted, the blank ends the first item: source "...\Program", target
  // "Files\App\" (relative to the current folder), flags the intended target.
  const fs::path current = fs::current_path();
  fs::current_path(mRoot / "src");
  engine::RunCopyFile(Folder("Program Files/App") + u"," + At("u"));
  fs::current_path(current);
  EXPECT_FALSE(fs::exists(mRoot / "u"));
  EXPECT_TRUE(fs::exists(mRoot / "src" / "Files" / "App" / "root.txt"));
}

TEST_F(RealFilesTest, NameInTheCodePageCopies) {
  Write(mRoot / U8("caf\xC3\xA9") / U8("\xC3\xA9t\xC3\xA9.txt"), "e");
  EXPECT_TRUE(engine::RunCopyFile(Folder("caf\xC3\xA9") + u"," + At("out")));
  EXPECT_EQ(Read(mRoot / "out" / U8("\xC3\xA9t\xC3\xA9.txt")), "e");
}

TEST_F(RealFilesTest, CyrillicNameCopiesOnlyWhereCopiesTakeWideNames) {
  Write(mRoot / U8("\xD1\x84\xD0\xB0\xD0\xB9\xD0\xBB.txt"), "f");
  const bool copied = engine::RunCopyFile(At("\xD1\x84\xD0\xB0\xD0\xB9\xD0\xBB.txt") + u"," + At("cyr.txt"));
#ifdef _WIN32
  EXPECT_FALSE(copied) << "the ANSI code page cannot name the file";
  EXPECT_FALSE(fs::exists(mRoot / "cyr.txt"));
#else
  EXPECT_TRUE(copied);
  EXPECT_EQ(Read(mRoot / "cyr.txt"), "f");
#endif
}

TEST_F(RealFilesTest, TheFolderBeingCopiedIntoIsNotEntered) {
  // The source's folder part is the scratch folder, which holds the target.
  EXPECT_TRUE(engine::RunCopyFile(At("src") + u"," + At("dst") + u",/E"));
  EXPECT_TRUE(fs::exists(mRoot / "dst" / "src" / "sub" / "deep" / "d.txt"));
  EXPECT_TRUE(fs::exists(mRoot / "dst" / "root.txt"));
  EXPECT_FALSE(fs::exists(mRoot / "dst" / "dst"));
}

TEST_F(RealFilesTest, EmptyAndDeleteFolder) {
  Write(mRoot / "del" / "x.txt", "x");
  Write(mRoot / "del" / "sub" / "y.txt", "y");
  EXPECT_TRUE(engine::EmptyFolder(At("del")));
  EXPECT_TRUE(fs::exists(mRoot / "del"));
  EXPECT_TRUE(fs::is_empty(mRoot / "del"));
  EXPECT_TRUE(engine::DeleteFolder(Folder("del")));
  EXPECT_FALSE(fs::exists(mRoot / "del"));
  EXPECT_TRUE(engine::EmptyFolder(At("del")));
  EXPECT_FALSE(engine::DeleteFolder(At("del")));
}

// Staging into the real temporary folder under a name of this test's own.
class RealStagingTest : public RealFilesTest {
 protected:
  RealStagingTest() {
    mName = "nvk-stage-" + mRoot.filename().string();
    mSource = mRoot / mName;
    Write(mSource / "setup.exe", "program");
    Write(mSource / "data" / "more.bin", "more");
    mStagedPath = U8(platform::WideToUtf8(engine::GetTempFolder())) / mName;
    mRequest.FileName = W(mSource / "setup.exe");
    mRequest.StageSource = u"1";
  }
  ~RealStagingTest() override {
#ifdef _WIN32
    if (fs::exists(mStagedPath)) {
      for (const fs::directory_entry& entry : fs::recursive_directory_iterator(mStagedPath)) SetAttributes(entry.path(), 0);
    }
#endif
    std::error_code ignored;
    fs::remove_all(mStagedPath, ignored);
  }
  engine::StageResult Stage() { return engine::StageToTemp(mRequest, mRequest.FileName, mStaged); }

  std::string mName;
  fs::path mSource;
  fs::path mStagedPath;
  ExeParameter mRequest;
  std::u16string mStaged;
};

TEST_F(RealStagingTest, StageSourceValues) {
  mRequest.StageSource = u"0";
  EXPECT_EQ(Stage().LaunchPath, mRequest.FileName);
  EXPECT_TRUE(mStaged.empty());
  EXPECT_FALSE(fs::exists(mStagedPath));

  mRequest.StageSource = u"1";
  engine::StageResult result = Stage();
  EXPECT_EQ(result.Outcome, engine::StageOutcome::Launch);
  EXPECT_EQ(mRequest.StageSource, WithDelimiter(mSource));
  EXPECT_EQ(result.LaunchPath, W(mStagedPath / "setup.exe"));
  EXPECT_EQ(mStaged, W(mStagedPath));
  EXPECT_EQ(Tree(mStagedPath), (Names{"data/", "data/more.bin", "setup.exe"}));

  mRequest.StageSource = WithDelimiter(mSource);
  mRequest.FileName = W(mRoot / "elsewhere.exe");
  EXPECT_EQ(Stage().LaunchPath, W(mStagedPath / "elsewhere.exe"));
  EXPECT_EQ(Tree(mStagedPath), (Names{"data/", "data/more.bin", "setup.exe"}));

  mRequest.StageSource = W(mSource);  // no trailing delimiter: the parent's entries
  Stage();
  EXPECT_TRUE(fs::exists(mStagedPath / "root.txt"));
  EXPECT_TRUE(fs::exists(mStagedPath / mName / "setup.exe"));
  EXPECT_FALSE(fs::exists(mStagedPath / "setup.exe")) << "the left-over copy was emptied first";
}

TEST_F(RealStagingTest, LeftOverStagedFolderIsEmptiedFirst) {
  Write(mStagedPath / "old" / "inner.txt", "old");
  Write(mStagedPath / "old.txt", "old");
#ifdef _WIN32
  SetAttributes(mStagedPath / "old.txt", FILE_ATTRIBUTE_READONLY);
  SetAttributes(mStagedPath / "old" / "inner.txt", FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_READONLY);
#endif
  EXPECT_EQ(Stage().Outcome, engine::StageOutcome::Launch);
  EXPECT_EQ(Tree(mStagedPath), (Names{"data/", "data/more.bin", "setup.exe"}));
}

TEST_F(RealStagingTest, EveryBootOptionLine) {
  Write(mSource / "boot.ini",
        "[Setup]\r\nBootOption=1\r\nbootoption = 2\nBootOption=0\rBootOption=0 \r\nBootOption\r\nBootOption=\r\n"
        "OldBootOptionValue=3\r\nKey=BootOption\r\nName=caf\xE9\r\nlast");
  mRequest.BootOptionFile = u"boot.ini";
  EXPECT_EQ(Stage().Outcome, engine::StageOutcome::Launch);
  // Windows: code page 1252 both ways; Linux: not UTF-8, kept byte for byte.
  const std::string nameLine = "Name=caf\xE9\r\n";
  EXPECT_EQ(Read(mStagedPath / "boot.ini"),
            "[Setup]\r\nBootOption=0\r\nBootOption=0\r\nBootOption=0\r\nBootOption=0\r\nBootOption\r\nBootOption=0\r\n"
            "BootOption=0\r\nBootOption=0\r\n" + nameLine + "last\r\n");
  EXPECT_EQ(Read(mSource / "boot.ini").substr(0, 9), "[Setup]\r\n") << "the source is only read";
}

TEST_F(RealStagingTest, Utf16SettingsFileWithAndWithoutAChange) {
  using namespace std::string_literals;
  const std::string changed = "\xFF\xFE" "B\0o\0o\0t\0O\0p\0t\0i\0o\0n\0=\0" "1\0\r\0\n\0"s;
  const std::string unchanged = "\xFE\xFF" "\0B\0o\0o\0t\0O\0p\0t\0i\0o\0n\0=\0" "0"s;
  Write(mSource / "le.ini", changed);
  Write(mSource / "be.ini", unchanged);
  mRequest.BootOptionFile = u"le.ini";
  Stage();
  EXPECT_EQ(Read(mStagedPath / "le.ini"), "BootOption=0\r\n") << "written back in the ANSI code page, no mark";
  mRequest.BootOptionFile = u"be.ini";
  Stage();
  EXPECT_EQ(Read(mStagedPath / "be.ini"), unchanged) << "never written, so it keeps its encoding";
}

TEST_F(RealStagingTest, RemovalAfterTheRun) {
  Stage();
  ASSERT_TRUE(fs::exists(mStagedPath / "data" / "more.bin"));
  EXPECT_TRUE(engine::DeleteFolder(mStaged));
  EXPECT_FALSE(fs::exists(mStagedPath));
  EXPECT_TRUE(fs::exists(mSource / "data" / "more.bin"));
}

#ifdef _WIN32
TEST_F(RealFilesTest, AttributesUnderWindows) {
  // (A read-only target is not tested here: Wine run as root lets CopyFileA
  // overwrite it; the files fake shows that such a failure ends the walk.)
  // Hidden and system files are copied with the others.
  SetAttributes(mRoot / "src" / "b.log", FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
  EXPECT_TRUE(engine::RunCopyFile(Folder("src") + u"," + At("hs")));
  EXPECT_TRUE(fs::exists(mRoot / "hs" / "b.log"));

  // A read-only settings file is rewritten with its attributes cleared.
  Write(mRoot / "s.ini", "BootOption=1");
  SetAttributes(mRoot / "s.ini", FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN);
  EXPECT_TRUE(engine::ResetBootOption(At("s.ini")));
  EXPECT_EQ(Read(mRoot / "s.ini"), "BootOption=0\r\n");
  EXPECT_EQ(Attributes(mRoot / "s.ini") & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN), 0u);
}
#else
TEST_F(RealFilesTest, PermissionBitsAreKept) {
  chmod((mRoot / "src" / "a.txt").c_str(), 0755);
  chmod((mRoot / "src" / "b.log").c_str(), 0640);
  Write(mRoot / "perm" / "b.log", "old");
  chmod((mRoot / "perm" / "b.log").c_str(), 0666);
  EXPECT_TRUE(engine::RunCopyFile(Folder("src") + u"," + At("perm")));
  struct stat info {};
  stat((mRoot / "perm" / "a.txt").c_str(), &info);
  EXPECT_EQ(info.st_mode & 07777, 0755u);
  stat((mRoot / "perm" / "b.log").c_str(), &info);
  EXPECT_EQ(info.st_mode & 07777, 0640u) << "also over an existing file";
}

TEST_F(RealFilesTest, LettersCaseIsNeverIgnored) {
  EXPECT_FALSE(engine::RunCopyFile(At("SRC/a.txt") + u"," + At("c1")));
  EXPECT_FALSE(fs::exists(mRoot / "c1" / "a.txt"));
  Write(mRoot / "keep" / "Note.txt", "n");
  EXPECT_TRUE(engine::EmptyFolder(At("KEEP")));
  EXPECT_FALSE(engine::DeleteFolder(At("KEEP")));
  EXPECT_TRUE(fs::exists(mRoot / "keep" / "Note.txt"));
}

TEST_F(RealFilesTest, CopiesNeverEnterFolderLinksAndEndOnLoops) {
  Write(mRoot / "outside" / "secret.txt", "s");
  fs::create_directory_symlink(mRoot / "outside", mRoot / "src" / "link");
  fs::create_directory_symlink(mRoot / "src", mRoot / "src" / "sub" / "loop");
  EXPECT_TRUE(engine::RunCopyFile(Folder("src") + u"," + At("dst") + u",/E"));
  EXPECT_EQ(Tree(mRoot / "dst"), kWholeTree);
}

TEST_F(RealFilesTest, CopiesNeverWriteThroughALinkOrOntoTheSourceItself) {
  Write(mRoot / "victim.txt", "victim");
  fs::create_directories(mRoot / "dst");
  fs::create_symlink(mRoot / "victim.txt", mRoot / "dst" / "a.txt");
  EXPECT_FALSE(engine::RunCopyFile(At("src/a.txt") + u"," + At("dst/a.txt")));
  EXPECT_EQ(Read(mRoot / "victim.txt"), "victim");
  EXPECT_FALSE(engine::RunCopyFile(At("src/a.txt") + u"," + At("src/a.txt")));
  EXPECT_EQ(Read(mRoot / "src" / "a.txt"), "a");
}

TEST_F(RealFilesTest, EmptyingAndDeletingNeverFollowLinks) {
  Write(mRoot / "outside" / "keep.txt", "k");
  Write(mRoot / "outside" / "inner" / "keep2.txt", "k");
  fs::create_directories(mRoot / "del");
  fs::create_directory_symlink(mRoot / "outside", mRoot / "del" / "folderlink");
  fs::create_symlink(mRoot / "outside" / "keep.txt", mRoot / "del" / "filelink");
  fs::create_symlink(mRoot / "nowhere", mRoot / "del" / "dangling");
  EXPECT_TRUE(engine::DeleteFolder(At("del")));
  EXPECT_FALSE(fs::exists(fs::symlink_status(mRoot / "del")));
  EXPECT_EQ(Tree(mRoot / "outside"), (Names{"inner/", "inner/keep2.txt", "keep.txt"}));

  // The folder given is itself a link: nothing behind it is listed; the link goes.
  fs::create_directory_symlink(mRoot / "outside", mRoot / "asked");
  EXPECT_TRUE(engine::EmptyFolder(At("asked")));
  EXPECT_TRUE(engine::EmptyFolder(Folder("asked")));
  EXPECT_EQ(Tree(mRoot / "outside"), (Names{"inner/", "inner/keep2.txt", "keep.txt"}));
  EXPECT_TRUE(engine::DeleteFolder(Folder("asked")));
  EXPECT_FALSE(fs::exists(fs::symlink_status(mRoot / "asked")));
  EXPECT_EQ(Tree(mRoot / "outside"), (Names{"inner/", "inner/keep2.txt", "keep.txt"}));
}

TEST_F(RealStagingTest, StagedPlaceThatIsALinkOrSomeoneElsesIsRefused) {
  Write(mRoot / "system" / "important.bin", "i");
  fs::create_directory_symlink(mRoot / "system", mStagedPath);
  engine::StageResult result = Stage();
  EXPECT_EQ(result.Outcome, engine::StageOutcome::Refused);
  EXPECT_TRUE(mStaged.empty());
  EXPECT_EQ(Tree(mRoot / "system"), (Names{"important.bin"}));
  fs::remove(mStagedPath);

  Write(mStagedPath / "theirs.exe", "theirs");
  ASSERT_EQ(chown(mStagedPath.c_str(), 65534, 65534), 0);
  if (geteuid() == 65534) GTEST_SKIP() << "runs as the other user";
  mRequest.StageSource = u"1";
  result = Stage();
  EXPECT_EQ(result.Outcome, engine::StageOutcome::Refused);
  EXPECT_EQ(Tree(mStagedPath), (Names{"theirs.exe"}));
}

TEST_F(RealStagingTest, StagedInstallerStaysExecutable) {
  chmod((mSource / "setup.exe").c_str(), 0750);
  Stage();
  struct stat info {};
  ASSERT_EQ(stat((mStagedPath / "setup.exe").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0750u);
}

TEST(TempFolder, TmpdirWhenItNamesAFolderElseTmp) {
  const char* saved = getenv("TMPDIR");
  const std::string keep = saved != nullptr ? saved : "";
  const fs::path folder = fs::temp_directory_path() / ("nvk-tmpdir-" + std::to_string(getpid()));
  fs::create_directories(folder);
  setenv("TMPDIR", folder.c_str(), 1);
  EXPECT_EQ(engine::GetTempFolder(), platform::Utf8ToWide(folder.string() + "/"));
  setenv("TMPDIR", (folder / "missing").c_str(), 1);
  EXPECT_EQ(engine::GetTempFolder(), u"/tmp/");
  unsetenv("TMPDIR");
  EXPECT_EQ(engine::GetTempFolder(), u"/tmp/");
  if (saved != nullptr) setenv("TMPDIR", keep.c_str(), 1);
  fs::remove_all(folder);
}
#endif

}  // namespace
