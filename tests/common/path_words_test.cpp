// Path words on both platforms' delimiters, and the framework's path
// functions on the file system of this build.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>

#include "common/path_words.h"
#include "framework/paths.h"
#include "platform/files.h"
#include "platform/text.h"
#include "tests/support/fake_files.h"

namespace {

using common::kLinuxPathDelimiters;
using common::kWindowsPathDelimiters;

struct WordCase {
  std::u16string Path;
  std::u16string Folder;
  std::u16string FileName;
  std::u16string With;
  std::u16string Without;
};

std::string Printable(const std::u16string& text) { return platform::WideToUtf8(text); }

void ExpectWords(const WordCase& c, const common::PathDelimiters& delimiters) {
  EXPECT_EQ(common::FolderPart(c.Path, delimiters), c.Folder) << Printable(c.Path);
  EXPECT_EQ(common::FileNamePart(c.Path, delimiters), c.FileName) << Printable(c.Path);
  // Narrow text (names the system gives as bytes) splits the same way.
  EXPECT_EQ(common::FileNamePart(Printable(c.Path), delimiters), Printable(c.FileName)) << Printable(c.Path);
  EXPECT_EQ(common::WithTrailingDelimiter(c.Path, delimiters), c.With) << Printable(c.Path);
  EXPECT_EQ(common::WithoutTrailingDelimiter(c.Path, delimiters), c.Without) << Printable(c.Path);
}

TEST(PathWords, WindowsDelimiters) {
  const WordCase cases[] = {
      // path, folder part, file-name part, with, without trailing delimiter
      {u"C:\\a\\b.exe", u"C:\\a\\", u"b.exe", u"C:\\a\\b.exe\\", u"C:\\a\\b.exe"},
      {u"C:\\a\\", u"C:\\a\\", u"", u"C:\\a\\", u"C:\\a"},
      {u"C:\\a", u"C:\\", u"a", u"C:\\a\\", u"C:\\a"},
      {u"C:", u"C:", u"", u"C:\\", u"C:"},
      {u"C:b.exe", u"C:", u"b.exe", u"C:b.exe\\", u"C:b.exe"},
      {u"b.exe", u"", u"b.exe", u"b.exe\\", u"b.exe"},
      {u"", u"", u"", u"\\", u""},
      {u"\\", u"\\", u"", u"\\", u""},
      {u"C:\\a\\\\", u"C:\\a\\\\", u"", u"C:\\a\\\\", u"C:\\a\\"},
      {u"\\\\server\\share\\x.txt", u"\\\\server\\share\\", u"x.txt", u"\\\\server\\share\\x.txt\\",
       u"\\\\server\\share\\x.txt"},
      {u"C:\\Src/x", u"C:\\", u"Src/x", u"C:\\Src/x\\", u"C:\\Src/x"},
  };
  for (const WordCase& c : cases) ExpectWords(c, kWindowsPathDelimiters);
}

TEST(PathWords, LinuxDelimiters) {
  const WordCase cases[] = {
      {u"/a/b.exe", u"/a/", u"b.exe", u"/a/b.exe/", u"/a/b.exe"},
      {u"/a/", u"/a/", u"", u"/a/", u"/a"},
      {u"a\\b.exe", u"a\\", u"b.exe", u"a\\b.exe/", u"a\\b.exe"},
      {u"a\\", u"a\\", u"", u"a\\", u"a"},
      {u"/x\\..\\y/b.exe", u"/x\\..\\y/", u"b.exe", u"/x\\..\\y/b.exe/", u"/x\\..\\y/b.exe"},
      // No drives: a colon is an ordinary character.
      {u"C:b.exe", u"", u"C:b.exe", u"C:b.exe/", u"C:b.exe"},
      {u"", u"", u"", u"/", u""},
      {u"/", u"/", u"", u"/", u""},
      {u"/\u00E9t\u00E9/\u044F.exe", u"/\u00E9t\u00E9/", u"\u044F.exe", u"/\u00E9t\u00E9/\u044F.exe/",
       u"/\u00E9t\u00E9/\u044F.exe"},
  };
  for (const WordCase& c : cases) ExpectWords(c, kLinuxPathDelimiters);
}

TEST(PathWords, FrameworkUsesThisPlatformsDelimiters) {
  const common::PathDelimiters& platform = platform::PathDelimitersOfPlatform();
  const std::u16string path = u"C:\\a/b:c";
  EXPECT_EQ(ExtractFilePath(path), common::FolderPart(path, platform));
  EXPECT_EQ(ExtractFileName(path), common::FileNamePart(path, platform));
  EXPECT_EQ(IncludeTrailingPathDelimiter(path), common::WithTrailingDelimiter(path, platform));
  EXPECT_EQ(ExcludeTrailingPathDelimiter(u"x\\"), u"x");
#ifdef _WIN32
  EXPECT_EQ(ExtractFilePath(path), u"C:\\a/b:");
#else
  EXPECT_EQ(ExtractFilePath(path), u"C:\\a/");
#endif
}

namespace fs = std::filesystem;

// Runs with a fresh current folder holding inst/setup.exe; restores the old one.
class FileSystemPathsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    mPrevious = fs::current_path();
    mRoot = fs::temp_directory_path() / ("nvk-paths-" + std::to_string(std::random_device{}()));
    fs::create_directories(mRoot / "inst");
    std::ofstream(mRoot / "inst" / "setup.exe") << "x";
    fs::current_path(mRoot);
    mCurrent = fs::current_path().u16string();  // as the system spells it
  }
  void TearDown() override {
    fs::current_path(mPrevious);
    std::error_code ignored;
    fs::remove_all(mRoot, ignored);
  }

  std::u16string Native(const std::u16string& windowsStyle) {
    std::u16string text = windowsStyle;
    for (char16_t& c : text) {
      if (c == u'\\') c = platform::PathDelimitersOfPlatform().Separators.front();
    }
    return text;
  }

  fs::path mPrevious;
  fs::path mRoot;
  std::u16string mCurrent;
};

TEST_F(FileSystemPathsTest, ExpandFileNameResolvesRelativePathsAndParentSteps) {
  const struct {
    std::u16string Path;
    std::u16string Expected;  // under the current folder, "\" as this platform writes it
  } cases[] = {
      {u"inst\\setup.exe", u"\\inst\\setup.exe"},
      {u"inst\\missing\\..\\setup.exe", u"\\inst\\setup.exe"},
      {u".\\inst\\.\\setup.exe", u"\\inst\\setup.exe"},
      {u"inst\\", u"\\inst\\"},
      {u"inst\\sub\\..", u"\\inst"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ExpandFileName(c.Path), mCurrent + Native(c.Expected)) << Printable(c.Path);
  }
  EXPECT_EQ(ExpandFileName(u""), u"");
  // An absolute path written with backslashes.
  const std::u16string absolute = mCurrent + u"\\inst\\x\\..\\setup.exe";
  EXPECT_EQ(ExpandFileName(absolute), mCurrent + Native(u"\\inst\\setup.exe"));
}

TEST_F(FileSystemPathsTest, FileAndFolderExistence) {
  const struct {
    std::u16string Path;
    bool File;
    bool Folder;
  } cases[] = {
      {u"inst\\setup.exe", true, false},
      {u"inst\\missing\\..\\setup.exe", true, false},
      {u"inst", false, true},
      {u"inst\\", false, true},
      {u"inst\\other.exe", false, false},
      {u"", false, false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(FileExists(c.Path), c.File) << Printable(c.Path);
    EXPECT_EQ(DirectoryExists(c.Path), c.Folder) << Printable(c.Path);
    EXPECT_EQ(FileExists(mCurrent + u"\\" + c.Path), c.File && !c.Path.empty()) << Printable(c.Path);
  }
}

TEST(ExeNameTest, IsTheRunningProgramsFullPath) {
  const std::u16string exe = ExeName();
  EXPECT_TRUE(FileExists(exe)) << Printable(exe);
  EXPECT_EQ(ExpandFileName(exe), exe);
  EXPECT_TRUE(DirectoryExists(ExtractFilePath(exe)));
  const std::u16string name = ExtractFileName(exe);
  EXPECT_EQ(name.substr(0, name.find(u'.')), u"nvk_unit_tests");
}

TEST(ApplicationTitleTest, IsTheProgramsFileNameWithoutItsExtension) {
  struct Case {
    std::u16string Executable;
    std::u16string Title;
  };
  // A backslash separates folders on both platforms.
  const Case cases[] = {
      {u"\\opt\\setup\\ToolbarSetup", u"ToolbarSetup"},
      {u"\\opt\\setup\\ToolbarSetup.exe", u"ToolbarSetup"},
      {u"\\opt\\v1.2\\ToolbarSetup", u"ToolbarSetup"},  // a dot in a folder's name is no extension
      {u"\\opt\\a.b.exe", u"a.b"},                  // only the last extension goes
      {u"Setup.", u"Setup"},
      {u"", u""},
  };
  for (const Case& c : cases) {
    FakeFiles files;
    files.Executable = c.Executable;
    platform::ScopedFilesForTesting use(files);
    EXPECT_EQ(ApplicationTitle(), c.Title) << Printable(c.Executable);
  }
}

}  // namespace
