// The copy engine and staging on real folders of this build's file system
// (under Wine with Windows paths): parameters, masks, recursion, exclusions,
// staging with the settings file, attributes, names, links, odd entries,
// permissions, the folder copied into and sources that name no folder. A
// sentinel tree beside the scratch folder must stay as it was.
#include <gtest/gtest.h>

#include <cctype>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <string>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#else
#include <sched.h>
#include <stdlib.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <sys/wait.h>
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

// Every entry under a folder, links not followed: files with their bytes,
// folders, and links with what they name.
std::map<std::string, std::string> Snapshot(const fs::path& folder) {
  std::map<std::string, std::string> entries;
  std::error_code error;
  for (auto it = fs::recursive_directory_iterator(folder, error); !error && it != fs::recursive_directory_iterator();
       it.increment(error)) {
    const fs::path& path = it->path();
    const std::string name = path.lexically_relative(folder).generic_string();
    const fs::file_status status = fs::symlink_status(path);
    if (fs::is_symlink(status)) {
      entries[name] = "link to " + fs::read_symlink(path).generic_string();
    } else if (fs::is_directory(status)) {
      entries[name] = "folder";
    } else if (fs::is_regular_file(status)) {
      entries[name] = "file " + Read(path);
    } else {
      entries[name] = "other";
    }
  }
  return entries;
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
    mSentinel = mRoot.string() + "-sentinel";
    fs::remove_all(mSentinel);
    Write(mSentinel / "keep.txt", "keep");
    Write(mSentinel / "inner" / "deeper.txt", "deeper");
    mSentinelBefore = Snapshot(mSentinel);
  }
  void TearDown() override { EXPECT_EQ(Snapshot(mSentinel), mSentinelBefore) << "the sentinel tree changed"; }
  ~RealFilesTest() override {
    std::error_code ignoredToo;
    fs::remove_all(mSentinel, ignoredToo);
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
  fs::path mSentinel;  // beside the scratch folder: no copy may change it
  std::map<std::string, std::string> mSentinelBefore;
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

// A source ending in "/" names that folder wherever the other delimiters
// are "\": its entries are copied, not its parent's (nor, for "C:/...", the
// drive's root), and its file name is what follows the last "/".
TEST_F(RealFilesTest, SourcesWrittenWithForwardSlashesNameTheirOwnFolder) {
  const std::u16string slashed = At("src") + u"/";
  EXPECT_TRUE(engine::RunCopyFile(slashed + u"," + At("d1")));
  EXPECT_EQ(Tree(mRoot / "d1"), kOwnFiles);
  EXPECT_TRUE(engine::RunCopyFile(slashed + u"*.*," + At("d2") + u",/E," + slashed + u"sub"));
  EXPECT_EQ(Tree(mRoot / "d2"), (Names{"a.txt", "b.log", "tmp/", "tmp/t.txt"})) << "excluded as the source is written";
  fs::create_directories(mRoot / "d3");
  EXPECT_TRUE(engine::RunCopyFile(slashed + u"a.txt," + At("d3")));
  EXPECT_EQ(Tree(mRoot / "d3"), (Names{"a.txt"}));
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

// The source folder and the launch path written with "/" stage and launch as
// with the platform's own delimiter.
TEST_F(RealStagingTest, SourceAndLaunchPathWrittenWithForwardSlashes) {
  std::u16string forward = WithDelimiter(mSource);
  for (char16_t& c : forward) c = c == u'\\' ? u'/' : c;
  const std::u16string sources[] = {W(mSource) + u"/", forward};
  for (const std::u16string& source : sources) {
    SCOPED_TRACE(platform::WideToUtf8(source));
    mRequest.StageSource = source;
    mRequest.FileName = forward + u"setup.exe";
    const engine::StageResult result = Stage();
    EXPECT_EQ(result.Outcome, engine::StageOutcome::Launch);
    EXPECT_EQ(result.LaunchPath, W(mStagedPath / "setup.exe"));
    EXPECT_EQ(Tree(mStagedPath), (Names{"data/", "data/more.bin", "setup.exe"}));
  }
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
  EXPECT_EQ(engine::ResetBootOption(W(mRoot), u"s.ini"), engine::ResetOutcome::Done);
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

// A copy whose target lies inside its source, reached by another spelling,
// never enters it.
void ExpectTargetNotEntered(const fs::path& root, const std::u16string& source, const std::u16string& target,
                            const fs::path& targetOnDisk) {
  SCOPED_TRACE(platform::WideToUtf8(target));
  EXPECT_TRUE(engine::CopyFiles(source, target, u"/E", u""));
  EXPECT_TRUE(fs::exists(targetOnDisk / "src" / "sub" / "deep" / "d.txt"));
  EXPECT_FALSE(fs::exists(targetOnDisk / targetOnDisk.filename())) << "the copy went into itself";
  fs::remove_all(targetOnDisk);
  EXPECT_TRUE(fs::exists(root / "src" / "sub" / "deep" / "d.txt"));
}

#ifdef _WIN32
// Runs a program of the Linux side (Wine starts Unix programs too) and waits for it.
void RunUnix(const wchar_t* program, const std::wstring& commandLine) {
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  std::wstring line = commandLine;
  if (!CreateProcessW(program, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) return;
  WaitForSingleObject(process.hProcess, 30000);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
}

// The Linux path of a Windows path, through Wine's own export; empty outside Wine.
std::string UnixPath(const fs::path& path) {
  using UnixName = char*(CDECL*)(LPCWSTR);
  const auto unixName =
      reinterpret_cast<UnixName>(reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32"), "wine_get_unix_file_name")));
  if (unixName == nullptr) return {};
  char* name = unixName(path.c_str());
  if (name == nullptr) return {};
  std::string out(name);
  HeapFree(GetProcessHeap(), 0, name);
  return out;
}

// A folder link made from the Linux side, which Wine lists as a directory
// reparse point (Wine cannot make a junction itself). False when it cannot.
bool MakeFolderLink(const fs::path& target, const fs::path& link) {
  const std::string from = UnixPath(target);
  const std::string at = UnixPath(link);
  if (from.empty() || at.empty()) return false;
  const std::u16string line = u"Z:\\bin\\ln -s " + platform::Utf8ToWide(from) + u" " + platform::Utf8ToWide(at);
  // Wine's handle of a Unix program does not wait for its end nor give its
  // exit code: the link itself tells, within a generous bound.
  RunUnix(L"Z:\\bin\\ln", std::wstring(line.begin(), line.end()));
  for (int look = 0; look < 1000 && !fs::exists(link); ++look) Sleep(20);
  return fs::exists(link);
}

// Removes such a link from the Linux side (Wine cannot).
void RemoveFolderLink(const fs::path& link) {
  const std::u16string line = u"Z:\\bin\\rm " + platform::Utf8ToWide(UnixPath(link));
  RunUnix(L"Z:\\bin\\rm", std::wstring(line.begin(), line.end()));
  for (int look = 0; look < 1000 && fs::exists(link); ++look) Sleep(20);
}

TEST_F(RealFilesTest, SourcesWithoutAFolderPartCopyNothing) {
  const std::map<std::string, std::string> before = Snapshot(mRoot);
  const fs::path current = fs::current_path();
  fs::current_path(mRoot / "src");
  for (const std::u16string source : {u"", u"nosuch", u"*.txt", u".", u"..", u"sub"}) {
    SCOPED_TRACE(platform::WideToUtf8(source));
    EXPECT_FALSE(engine::RunCopyFile(u"\"" + source + u"\",dst,/E"));
  }
  // Only a drive before the name: the drive's current folder is meant, its
  // root would be copied.
  const std::u16string drive = W(mRoot).substr(0, 2);
  for (const std::u16string& source : {drive + u"*.*", drive, drive + u"sub"}) {
    SCOPED_TRACE(platform::WideToUtf8(source));
    EXPECT_FALSE(engine::RunCopyFile(source + u",dst"));
  }
  fs::current_path(current);
  EXPECT_EQ(Snapshot(mRoot), before) << "nothing copied, not even the target folder made";
}

TEST_F(RealFilesTest, JunctionFoundByTheWalkIsNotEntered) {
  Write(mRoot / "outside" / "secret.txt", "s");
  ASSERT_TRUE(MakeFolderLink(mRoot / "outside", mRoot / "src" / "sub" / "junction"));
  ASSERT_EQ(Attributes(mRoot / "src" / "sub" / "junction") & FILE_ATTRIBUTE_REPARSE_POINT,
            static_cast<DWORD>(FILE_ATTRIBUTE_REPARSE_POINT));
  const std::map<std::string, std::string> source = Snapshot(mRoot / "src");
  EXPECT_TRUE(engine::RunCopyFile(Folder("src") + u"," + At("dst") + u",/E"));
  EXPECT_EQ(Tree(mRoot / "dst"), kWholeTree) << "the junction is neither copied nor entered";
  EXPECT_EQ(Snapshot(mRoot / "src"), source);
  EXPECT_EQ(Tree(mRoot / "outside"), (Names{"secret.txt"}));
  RemoveFolderLink(mRoot / "src" / "sub" / "junction");
}

TEST_F(RealFilesTest, TargetSpelledAnotherWayIsRecognised) {
  std::u16string upper = At("");
  for (char16_t& c : upper) c = static_cast<char16_t>(c < 128 ? std::toupper(c) : c);
  wchar_t shortName[MAX_PATH] = {};
  fs::create_directories(mRoot / "LongTargetName");
  ASSERT_NE(GetShortPathNameW((mRoot / "LongTargetName").c_str(), shortName, MAX_PATH), 0u);
  fs::remove_all(mRoot / "LongTargetName");
  const std::string unixRoot = UnixPath(mRoot);
  struct Case {
    std::u16string Target;
    fs::path OnDisk;
  };
  const Case cases[] = {
      {At("src") + u"\\..\\detour", mRoot / "detour"},
      {upper + u"CASE", mRoot / "CASE"},
      {reinterpret_cast<const char16_t*>(shortName), mRoot / "LongTargetName"},
  };
  for (const Case& c : cases) {
    if (c.OnDisk.filename() == "LongTargetName") fs::create_directories(c.OnDisk);
    ExpectTargetNotEntered(mRoot, WithDelimiter(mRoot), c.Target, c.OnDisk);
  }
  // The same folder through drive Z:, the file system's root.
  ASSERT_FALSE(unixRoot.empty());
  std::u16string viaZ = u"Z:" + platform::Utf8ToWide(unixRoot) + u"/zdrive";
  for (char16_t& c : viaZ) c = c == u'/' ? u'\\' : c;
  ExpectTargetNotEntered(mRoot, WithDelimiter(mRoot), viaZ, mRoot / "zdrive");
}
// Every call of a walk that takes a name stays in the walk's folder: a name
// that the file system would follow elsewhere reaches nothing.
TEST_F(RealFilesTest, WalkNamesThatWouldLeaveTheFolderReachNothing) {
  Write(mRoot / "walk" / "inner" / "own.txt", "own");
  Write(mRoot / "outside.txt", "outside");
  fs::create_directories(mRoot / "empty");
  SetAttributes(mRoot / "outside.txt", FILE_ATTRIBUTE_READONLY);
  const std::unique_ptr<platform::FolderWalk> walk =
      platform::CurrentFiles().OpenFolder(Folder("walk"), platform::FollowLink::No);
  ASSERT_NE(walk, nullptr);
  const std::unique_ptr<platform::FolderWalk> target =
      platform::CurrentFiles().OpenFolder(Folder("walk/inner"), platform::FollowLink::No);
  ASSERT_NE(target, nullptr);
  const std::map<std::string, std::string> before = Snapshot(mRoot);
  for (const std::u16string up : {u"..\\", u"../", u"inner/../../", u"inner\\..\\..\\"}) {
    SCOPED_TRACE(platform::WideToUtf8(up));
    std::string bytes;
    EXPECT_EQ(walk->ReadFile(up + u"outside.txt", 1000, &bytes), platform::FileRead::Refused);
    EXPECT_TRUE(bytes.empty());
    EXPECT_FALSE(walk->WriteFile(up + u"outside.txt", "changed"));
    EXPECT_FALSE(walk->WriteFile(up + u"made.txt", "made"));
    EXPECT_FALSE(walk->ClearAttributes(up + u"outside.txt"));
    EXPECT_FALSE(walk->DeleteEntry(up + u"outside.txt"));
    EXPECT_FALSE(walk->RemoveSubfolder(up + u"empty"));
    EXPECT_EQ(walk->OpenSubfolder(up + u"empty"), nullptr);
    bool created = true;
    EXPECT_EQ(walk->CreateSubfolder(up + u"newfolder", &created), nullptr);
    EXPECT_FALSE(created);
    EXPECT_FALSE(walk->CopyFileInto(u"inner/own.txt", *target)) << "a name, not a path, is copied";
    EXPECT_EQ(Snapshot(mRoot), before);
    EXPECT_NE(Attributes(mRoot / "outside.txt") & FILE_ATTRIBUTE_READONLY, 0u);
  }
  for (const std::u16string self : {u".", u".."}) {
    EXPECT_EQ(walk->OpenSubfolder(self), nullptr);
    EXPECT_FALSE(walk->RemoveSubfolder(self));
  }
  // The walk's own entries are reached as before.
  std::string bytes;
  std::unique_ptr<platform::FolderWalk> inner = walk->OpenSubfolder(u"inner");
  ASSERT_NE(inner, nullptr);
  EXPECT_EQ(inner->ReadFile(u"own.txt", 1000, &bytes), platform::FileRead::Read);
  EXPECT_EQ(bytes, "own");
}
#else
// Runs the body in a child process; returns its exit status (0: passed).
template <class Body>
int InChild(Body body) {
  const pid_t child = fork();
  if (child == 0) _exit(body());
  int status = 0;
  if (child < 0 || waitpid(child, &status, 0) != child || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

TEST(ScratchFileSystemRoot, SourcesWithoutAFolderPartCopyNothingOfIt) {
  if (geteuid() != 0) GTEST_SKIP() << "mounting a scratch file system needs root";
  const fs::path scratch = fs::temp_directory_path() / ("nvk-scratch-root-" + std::to_string(getpid()));
  fs::create_directories(scratch);
  // In a mount namespace of its own, a child makes a small file system the
  // root: a copy that ran away to the root could take only that.
  const int failed = InChild([&scratch] {
    if (unshare(CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) return 100;
    if (mount("nvk-scratch", scratch.c_str(), "tmpfs", 0, "size=1m") != 0) return 101;
    Write(scratch / "secret" / "s.txt", "s");
    Write(scratch / "cwd" / "a.txt", "a");
    Write(scratch / "cwd" / "sub" / "b.txt", "b");
    if (chroot(scratch.c_str()) != 0 || chdir("/cwd") != 0) return 102;
    const std::map<std::string, std::string> before = Snapshot("/");
    int failures = 0;
    for (const std::u16string source : {u"", u"nosuch", u"*.txt", u".", u"..", u"sub"}) {
      if (engine::RunCopyFile(u"\"" + source + u"\",/dst,/E")) failures |= 1;
      if (engine::RunCopyFile(u"\"" + source + u"\",dst,/E")) failures |= 1;
    }
    if (Snapshot("/") != before) failures |= 2;
    // A source with a folder part still copies.
    if (!engine::RunCopyFile(u"./,/dst,/E") || Read("/dst/sub/b.txt") != "b") failures |= 4;
    return failures;
  });
  fs::remove(scratch);
  EXPECT_EQ(failed, 0) << "1: a source without a folder part copied; 2: the scratch root changed; "
                          "4: a source with a folder part did not copy; 100-102: no scratch root";
}

// True when every file under copy is whole: the bytes of the file of the same
// name under source.
bool EveryFileIsWhole(const fs::path& copy, const fs::path& source) {
  for (const fs::directory_entry& entry : fs::recursive_directory_iterator(copy)) {
    if (!entry.is_regular_file()) continue;
    const fs::path original = source / entry.path().lexically_relative(copy);
    if (fs::file_size(entry.path()) != fs::file_size(original) || Read(entry.path()) != Read(original)) return false;
  }
  return true;
}

TEST(ScratchFileSystemFull, CopiesThatFillTheDiskFailAndLeaveNoPartWrittenFile) {
  if (geteuid() != 0) GTEST_SKIP() << "mounting a scratch file system needs root";
  const fs::path scratch = fs::temp_directory_path() / ("nvk-scratch-full-" + std::to_string(getpid()));
  const fs::path source = scratch.string() + "-installer";
  fs::create_directories(scratch);
  Write(source / "setup.exe", "the installer");
  Write(source / "data.bin", "");
  constexpr std::uintmax_t kDataBytes = 16u << 20;  // sparse: it takes no room where it lies
  fs::resize_file(source / "data.bin", kDataBytes);
  const int failed = InChild([&scratch, &source] {
    if (unshare(CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) return 100;
    if (mount("nvk-scratch", scratch.c_str(), "tmpfs", 0, "size=1m") != 0) return 101;
    int failures = 0;
    // One file larger than the disk.
    if (engine::CopyFiles(W(source / "data.bin"), W(scratch / "data.bin"), u"", u"")) failures |= 1;
    if (fs::exists(scratch / "data.bin")) failures |= 2;
    // A folder holding it: what is there afterwards is whole.
    if (engine::CopyFiles(WithDelimiter(source), W(scratch / "copy"), u"/E", u"")) failures |= 1;
    if (!EveryFileIsWhole(scratch / "copy", source)) failures |= 2;
    // Staged there: the installer is whole or missing, never cut short.
    setenv("TMPDIR", scratch.c_str(), 1);
    ExeParameter request;
    request.StageSource = u"1";
    std::u16string staged;
    engine::StageToTemp(request, W(source / "setup.exe"), staged);
    if (staged.empty() || !EveryFileIsWhole(fs::path(staged), source)) failures |= 4;
    return failures;
  });
  std::error_code ignored;
  fs::remove(scratch, ignored);
  EXPECT_EQ(fs::file_size(source / "data.bin"), kDataBytes);
  EXPECT_EQ(Read(source / "setup.exe"), "the installer");
  fs::remove_all(source, ignored);
  EXPECT_EQ(failed, 0) << "1: a copy that filled the disk succeeded; 2: a part-written file was left; "
                          "4: the staged folder holds a part-written file; 100-101: no scratch file system";
}

TEST_F(RealFilesTest, OddEntriesAreSkippedUnopenedAndReported) {
  const fs::path src = mRoot / "odd";
  for (int i = 0; i < 30; ++i) Write(src / (std::to_string(i) + ".txt"), std::to_string(i));
  Write(src / "sub" / "inner.txt", "inner");
  ASSERT_EQ(mkfifo((src / "15.fifo").c_str(), 0600), 0);
  ASSERT_EQ(mkfifo((src / "sub" / "a.fifo").c_str(), 0600), 0);
  const int listening = socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  const std::string socketPath = (src / "16.sock").string();
  ASSERT_LT(socketPath.size(), sizeof address.sun_path);
  socketPath.copy(address.sun_path, socketPath.size());
  ASSERT_EQ(bind(listening, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  fs::create_symlink(src / "nowhere", src / "17.dangling");
  fs::create_symlink(src / "18.loop", src / "18.loop");
  const bool device = mknod((src / "19.null").c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0;
  const std::map<std::string, std::string> before = Snapshot(src);

  EXPECT_FALSE(engine::RunCopyFile(Folder("odd") + u"," + At("dst") + u",/E")) << "something was not copied";
  close(listening);
  Names expected;
  for (int i = 0; i < 30; ++i) expected.push_back(std::to_string(i) + ".txt");
  expected.push_back("sub/");
  expected.push_back("sub/inner.txt");
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(Tree(mRoot / "dst"), expected) << "every file, before and after the odd entries";
  EXPECT_EQ(Snapshot(src), before);
  if (!device) std::printf("(no device node could be made: not tried)\n");
}

TEST_F(RealStagingTest, InstallerIsStagedPastAFifo) {
  ASSERT_EQ(mkfifo((mSource / "a-pipe").c_str(), 0600), 0);
  const engine::StageResult result = Stage();
  EXPECT_EQ(result.Outcome, engine::StageOutcome::Launch);
  EXPECT_EQ(Tree(mStagedPath), (Names{"data/", "data/more.bin", "setup.exe"}));
}

TEST_F(RealFilesTest, FoldersTheCopyMakesNeverGrantMoreThanTheirSources) {
  const mode_t mask = umask(022);
  Write(mRoot / "private" / "p.txt", "p");
  Write(mRoot / "private" / "group" / "g.txt", "g");
  Write(mRoot / "private" / "setid" / "s.txt", "s");
  chmod((mRoot / "private").c_str(), 0700);
  chmod((mRoot / "private" / "group").c_str(), 0750);
  chmod((mRoot / "private" / "setid").c_str(), 02770);
  chmod((mRoot / "private" / "p.txt").c_str(), 0604);
  EXPECT_TRUE(engine::RunCopyFile(Folder("private") + u"," + At("copy") + u",/E"));
  auto mode = [](const fs::path& path) {
    struct stat info {};
    stat(path.c_str(), &info);
    return info.st_mode & 07777;
  };
  EXPECT_EQ(mode(mRoot / "copy"), 0700u);
  EXPECT_EQ(mode(mRoot / "copy" / "group"), 0750u);
  EXPECT_EQ(mode(mRoot / "copy" / "setid"), 0770u) << "never set-id bits";
  EXPECT_EQ(mode(mRoot / "copy" / "p.txt"), 0604u);

  // Folders that were there keep their modes.
  fs::create_directories(mRoot / "there" / "group");
  chmod((mRoot / "there").c_str(), 0755);
  chmod((mRoot / "there" / "group").c_str(), 0775);
  EXPECT_TRUE(engine::RunCopyFile(Folder("private") + u"," + At("there") + u",/E"));
  EXPECT_EQ(mode(mRoot / "there"), 0755u);
  EXPECT_EQ(mode(mRoot / "there" / "group"), 0775u);
  EXPECT_EQ(Read(mRoot / "there" / "group" / "g.txt"), "g");
  umask(mask);
}

TEST_F(RealFilesTest, TreeDeeperThanTheOpenFileLimitFailsTheCopy) {
  fs::path deepest = mRoot / "deep";
  std::string relative;
  for (int level = 0; level < 100; ++level) {
    deepest /= "d";
    relative += "d/";
  }
  Write(deepest / "bottom.txt", "bottom");
  int open = 0;
  for (auto it = fs::directory_iterator("/proc/self/fd"); it != fs::directory_iterator(); ++it) ++open;
  rlimit saved{};
  ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &saved), 0);
  rlimit lowered = saved;
  lowered.rlim_cur = static_cast<rlim_t>(open + 40);
  ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &lowered), 0);
  const bool copied = engine::RunCopyFile(Folder("deep") + u"," + At("low") + u",/E");
  ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &saved), 0);
  EXPECT_FALSE(copied) << "the deepest part was left out";
  EXPECT_TRUE(fs::exists(mRoot / "low" / "d" / "d"));
  EXPECT_FALSE(fs::exists(mRoot / "low" / U8(relative) / "bottom.txt"));

  EXPECT_TRUE(engine::RunCopyFile(Folder("deep") + u"," + At("high") + u",/E"));
  EXPECT_EQ(Read(mRoot / "high" / U8(relative) / "bottom.txt"), "bottom");
}

TEST_F(RealFilesTest, TargetSpelledThroughALinkIsRecognised) {
  fs::create_directory_symlink(mRoot, mRoot / "alias");
  ExpectTargetNotEntered(mRoot, WithDelimiter(mRoot), At("alias/linked"), mRoot / "linked");
  ExpectTargetNotEntered(mRoot, WithDelimiter(mRoot), At("src/../dotted"), mRoot / "dotted");
  fs::remove(mRoot / "alias");
}
#endif

// Staging into a temporary folder of the test's own (TMPDIR on Linux, TMP on
// Windows), so that sources around and inside it can be tried; the sentinel
// holds a settings file that a name leaving the staged folder would reach.
class ScratchTempStagingTest : public RealFilesTest {
 protected:
  ScratchTempStagingTest() {
    mTemp = mRoot / "temp";
    fs::create_directories(mTemp);
    SetTemp(mTemp);
    Write(mSentinel / "boot.ini", "BootOption=1\r\n");
    mSentinelBefore = Snapshot(mSentinel);
  }
  ~ScratchTempStagingTest() override { RestoreTemp(); }

  void SetTemp(const fs::path& folder) {
#ifdef _WIN32
    SetEnvironmentVariableW(L"TMP", (folder.wstring() + L"\\").c_str());
#else
    setenv("TMPDIR", folder.c_str(), 1);
#endif
  }
  void RestoreTemp() {
#ifdef _WIN32
    SetEnvironmentVariableW(L"TMP", mHadTemp ? mSavedTemp.c_str() : nullptr);
#else
    if (mHadTemp) {
      setenv("TMPDIR", mSavedTemp.c_str(), 1);
    } else {
      unsetenv("TMPDIR");
    }
#endif
  }

  engine::StageResult Stage(const std::u16string& fileName, const std::u16string& source) {
    mRequest.FileName = fileName;
    mRequest.StageSource = source;
    return engine::StageToTemp(mRequest, mRequest.FileName, mStaged);
  }

#ifdef _WIN32
  static std::wstring SavedTemp(bool* had) {
    std::wstring buffer(32768, L'\0');
    const DWORD length = GetEnvironmentVariableW(L"TMP", buffer.data(), static_cast<DWORD>(buffer.size()));
    *had = length > 0 && length < buffer.size();
    buffer.resize(*had ? length : 0);
    return buffer;
  }
#else
  static std::string SavedTemp(bool* had) {
    const char* saved = getenv("TMPDIR");
    *had = saved != nullptr;
    return *had ? saved : "";
  }
#endif

  bool mHadTemp = false;
  decltype(SavedTemp(nullptr)) mSavedTemp = SavedTemp(&mHadTemp);
  fs::path mTemp;
  ExeParameter mRequest;
  std::u16string mStaged;
};

TEST_F(ScratchTempStagingTest, SourceInsideTheStagedFolderOrHoldingItIsRefusedUntouched) {
  Write(mTemp / "Tb" / "v2" / "Tb" / "setup.exe", "program");
  Write(mTemp / "Tb" / "v2" / "Tb" / "data" / "keep.txt", "keep");
  Write(mTemp / "Tb" / "outer.txt", "outer");
  struct Case {
    const char* What;
    std::u16string FileName;
    std::u16string Source;
  };
  std::vector<Case> cases = {
      {"source deep inside it, by \"1\"", W(mTemp / "Tb" / "v2" / "Tb" / "setup.exe"), u"1"},
      {"source deep inside it, by path", At("x.exe"), WithDelimiter(mTemp / "Tb" / "v2" / "Tb")},
      {"source is the staged folder", W(mTemp / "Tb" / "outer.txt"), u"1"},
      {"source holds the temporary folder", At("x.exe"), WithDelimiter(mRoot)},
      {"source's folder part holds it", At("x.exe"), W(mTemp / "Tb")},
  };
#ifdef _WIN32
  cases.push_back({"source spelled another way", At("x.exe"), WithDelimiter(mTemp / "TB" / "V2" / "x" / ".." / "TB")});
#else
  fs::create_directory_symlink(mTemp / "Tb" / "v2", mRoot / "alias");
  cases.push_back({"source through a link into it", At("x.exe"), WithDelimiter(mRoot / "alias" / "Tb")});
#endif
  const std::map<std::string, std::string> before = Snapshot(mRoot);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.What);
    const engine::StageResult result = Stage(c.FileName, c.Source);
    EXPECT_EQ(result.Outcome, engine::StageOutcome::Refused);
    EXPECT_TRUE(mStaged.empty());
    EXPECT_EQ(Snapshot(mRoot), before) << "nothing deleted, nothing made";
  }
}

TEST_F(ScratchTempStagingTest, BareNameIsRefusedAndAnEmptySourceStagesNothing) {
  const std::map<std::string, std::string> before = Snapshot(mRoot);
  const fs::path current = fs::current_path();
  fs::current_path(mRoot / "src");
  EXPECT_EQ(Stage(At("src/a.txt"), u"sub").Outcome, engine::StageOutcome::Refused);
#ifdef _WIN32
  EXPECT_EQ(Stage(At("src/a.txt"), W(mRoot).substr(0, 2) + u"sub").Outcome, engine::StageOutcome::Refused)
      << "a name after only a drive";
#endif
  const engine::StageResult none = Stage(At("src/a.txt"), u"");
  fs::current_path(current);
  EXPECT_EQ(none.Outcome, engine::StageOutcome::Launch);
  EXPECT_EQ(none.LaunchPath, At("src/a.txt"));
  EXPECT_EQ(Snapshot(mRoot), before);
}

TEST_F(ScratchTempStagingTest, SettingsFileNamesThatLeaveTheStagedFolderFailAndTheCopyGoes) {
  Write(mRoot / "inst" / "Tb" / "setup.exe", "program");
  Write(mRoot / "inst" / "Tb" / "boot.ini", "BootOption=1\r\n");
  const std::u16string sep(1, fs::path::preferred_separator);
  const std::u16string up = u".." + sep;
  std::vector<std::u16string> names = {
      up + up + up + W(mSentinel.filename()) + sep + u"boot.ini",
      W(mSentinel / "boot.ini"),
      up + u"boot.ini",
  };
#ifdef _WIN32
  names.push_back(u"C:boot.ini");
  names.push_back(u"boot.ini:stream");
  // The file system climbs on "/" as it does on "\".
  names.push_back(u"../../../" + W(mSentinel.filename()) + u"/boot.ini");
  names.push_back(u"data/../../boot.ini");
  names.push_back(u"..\\" + W(mSentinel.filename()) + u"/../Tb/boot.ini");
#endif
  for (const std::u16string& name : names) {
    SCOPED_TRACE(platform::WideToUtf8(name));
    mRequest.BootOptionFile = name;
    EXPECT_EQ(Stage(At("inst/Tb/setup.exe"), u"1").Outcome, engine::StageOutcome::SettingsFileFailed);
    EXPECT_TRUE(mStaged.empty());
    EXPECT_FALSE(fs::exists(mTemp / "Tb")) << "nothing was launched from it";
  }
  EXPECT_EQ(Read(mRoot / "inst" / "Tb" / "boot.ini"), "BootOption=1\r\n");
  mRequest.BootOptionFile = u"boot.ini";
  EXPECT_EQ(Stage(At("inst/Tb/setup.exe"), u"1").Outcome, engine::StageOutcome::Launch);
  EXPECT_EQ(Read(mTemp / "Tb" / "boot.ini"), "BootOption=0\r\n");
}

// A name written with either separator leads to the file beneath the folder.
TEST_F(RealFilesTest, SettingsFileNamedWithEitherSeparatorIsResetBeneathItsFolder) {
  const fs::path folder = mRoot / "staged";
  Write(folder / "a" / "b" / "x.ini", "BootOption=1\r\n");
  Write(folder / "a" / "y.ini", "BootOption=2\r\n");
  EXPECT_EQ(engine::ResetBootOption(W(folder), u"a/b/x.ini"), engine::ResetOutcome::Done);
  EXPECT_EQ(Read(folder / "a" / "b" / "x.ini"), "BootOption=0\r\n");
  EXPECT_EQ(engine::ResetBootOption(W(folder), u"a\\b/../y.ini"), engine::ResetOutcome::Done);
  EXPECT_EQ(Read(folder / "a" / "y.ini"), "BootOption=0\r\n");
}

#ifdef _WIN32
TEST_F(ScratchTempStagingTest, MissingTemporaryFolderIsMadeWithItsParents) {
  Write(mRoot / "inst" / "Tb" / "setup.exe", "program");
  SetTemp(mRoot / "gone" / "deeper");
  const engine::StageResult result = Stage(At("inst/Tb/setup.exe"), u"1");
  EXPECT_EQ(result.Outcome, engine::StageOutcome::Launch);
  EXPECT_EQ(result.LaunchPath, W(mRoot / "gone" / "deeper" / "Tb" / "setup.exe"));
  EXPECT_EQ(Read(mRoot / "gone" / "deeper" / "Tb" / "setup.exe"), "program");
}

TEST_F(RealFilesTest, EmptyingGoesOnPastReadOnlyEntriesAndWhatItCannotDelete) {
  Write(mRoot / "outside" / "secret.txt", "s");
  Write(mRoot / "del" / "a.txt", "a");
  Write(mRoot / "del" / "ro" / "inner" / "b.txt", "b");
  Write(mRoot / "del" / "z.txt", "z");
  SetAttributes(mRoot / "del" / "a.txt", FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
  SetAttributes(mRoot / "del" / "ro" / "inner" / "b.txt", FILE_ATTRIBUTE_READONLY);
  SetAttributes(mRoot / "del" / "ro" / "inner", FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY);
  SetAttributes(mRoot / "del" / "ro", FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY);
  // Wine cannot remove a folder link made from the Linux side: an entry that stays.
  ASSERT_TRUE(MakeFolderLink(mRoot / "outside", mRoot / "del" / "m-link"));
  EXPECT_FALSE(engine::EmptyFolder(At("del")));
  EXPECT_EQ(Tree(mRoot / "del"), (Names{"m-link/", "m-link/secret.txt"})) << "everything else went";
  EXPECT_EQ(Tree(mRoot / "outside"), (Names{"secret.txt"}));
  EXPECT_FALSE(engine::DeleteFolder(At("del")));
  RemoveFolderLink(mRoot / "del" / "m-link");
  EXPECT_TRUE(engine::DeleteFolder(At("del")));
  EXPECT_FALSE(fs::exists(mRoot / "del"));
  EXPECT_EQ(Tree(mRoot / "outside"), (Names{"secret.txt"}));
}
#else
TEST_F(ScratchTempStagingTest, StagedFolderIsPrivateWhateverItsSource) {
  Write(mRoot / "inst" / "Tb" / "setup.exe", "program");
  chmod((mRoot / "inst" / "Tb").c_str(), 0777);
  ASSERT_EQ(Stage(At("inst/Tb/setup.exe"), u"1").Outcome, engine::StageOutcome::Launch);
  struct stat info {};
  ASSERT_EQ(stat((mTemp / "Tb").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0700u);
  chmod((mTemp / "Tb").c_str(), 0777);
  ASSERT_EQ(Stage(At("inst/Tb/setup.exe"), u"1").Outcome, engine::StageOutcome::Launch);
  ASSERT_EQ(stat((mTemp / "Tb").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0700u) << "a left-over folder is closed to others too";
}

// A temporary folder that another user (65534 here) could change, or a
// folder on its way that they could: the staged folder could be swapped for
// theirs between the copy and the launch, so nothing is staged there.
TEST_F(ScratchTempStagingTest, TemporaryFolderThatAnotherUserCanChangeIsRefusedUntouched) {
  if (geteuid() != 0) GTEST_SKIP() << "handing folders to another user needs root";
  constexpr uid_t kOther = 65534;
  Write(mRoot / "inst" / "Tb" / "setup.exe", "program");
  fs::create_directories(mRoot / "theirs" / "tmp");
  ASSERT_EQ(chown((mRoot / "theirs").c_str(), kOther, kOther), 0);
  fs::create_directories(mRoot / "open");
  ASSERT_EQ(chmod((mRoot / "open").c_str(), 0777), 0);
  fs::create_directories(mRoot / "shared");
  ASSERT_EQ(chmod((mRoot / "shared").c_str(), 01777), 0);
  fs::create_directory_symlink(mRoot / "shared", mRoot / "planted");
  ASSERT_EQ(lchown((mRoot / "planted").c_str(), kOther, kOther), 0);
  fs::create_directory_symlink(mRoot / "theirs" / "tmp", mRoot / "own-link-to-theirs");
  struct Case {
    const char* What;
    fs::path Temp;
  };
  const Case cases[] = {
      {"theirs", mRoot / "theirs"},
      {"inside theirs", mRoot / "theirs" / "tmp"},
      {"writable by all, not sticky", mRoot / "open"},
      {"their link", mRoot / "planted"},
      {"through their link", mRoot / "planted" / "."},
      {"an own link into theirs", mRoot / "own-link-to-theirs"},
  };
  const std::map<std::string, std::string> before = Snapshot(mRoot);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.What);
    SetTemp(c.Temp);
    EXPECT_EQ(Stage(At("inst/Tb/setup.exe"), u"1").Outcome, engine::StageOutcome::Refused);
    EXPECT_TRUE(mStaged.empty());
    EXPECT_EQ(Snapshot(mRoot), before) << "nothing made";
  }
  // Writable by all but sticky, as /tmp is: others cannot move what is not theirs.
  SetTemp(mRoot / "shared");
  EXPECT_EQ(Stage(At("inst/Tb/setup.exe"), u"1").Outcome, engine::StageOutcome::Launch);
  EXPECT_EQ(Read(mRoot / "shared" / "Tb" / "setup.exe"), "program");
}

// The file itself is never opened through a link nor waited on; only a
// regular file up to the limit is read.
TEST_F(RealFilesTest, SettingsFileIsReadOnlyAsARegularFileBeneathItsFolder) {
  const fs::path folder = mRoot / "staged";
  Write(mSentinel / "boot.ini", "BootOption=1\r\n");
  mSentinelBefore = Snapshot(mSentinel);
  Write(folder / "sub" / "ok.ini", "BootOption=1\r\n");
  fs::create_symlink(mSentinel / "boot.ini", folder / "link.ini");
  fs::create_symlink("/dev/zero", folder / "zero.ini");
  fs::create_directory_symlink(mSentinel, folder / "dirlink");
  ASSERT_EQ(mkfifo((folder / "fifo.ini").c_str(), 0600), 0);
  fs::create_directories(folder / "folder.ini");
  {
    std::ofstream big(folder / "big.ini", std::ios::binary);
    big << "BootOption=1\r\n" << std::string(8u << 20, 'x');
  }
  struct Case {
    std::u16string Name;
    engine::ResetOutcome Expected;
  };
  const Case cases[] = {
      {u"link.ini", engine::ResetOutcome::Failed},  {u"zero.ini", engine::ResetOutcome::Failed},
      {u"fifo.ini", engine::ResetOutcome::Failed},  {u"folder.ini", engine::ResetOutcome::Failed},
      {u"big.ini", engine::ResetOutcome::Failed},   {u"dirlink/boot.ini", engine::ResetOutcome::Done},
      {u"missing.ini", engine::ResetOutcome::Done}, {u"sub\\ok.ini", engine::ResetOutcome::Done},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(platform::WideToUtf8(c.Name));
    EXPECT_EQ(engine::ResetBootOption(W(folder), c.Name), c.Expected);
  }
  EXPECT_EQ(Read(folder / "sub" / "ok.ini"), "BootOption=0\r\n");
  EXPECT_EQ(Read(folder / "big.ini").substr(0, 14), "BootOption=1\r\n");
  EXPECT_TRUE(fs::is_fifo(folder / "fifo.ini"));
}
#endif

}  // namespace
