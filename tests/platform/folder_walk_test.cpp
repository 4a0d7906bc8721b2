// The Linux folder walk: the kind each entry is listed as, whether or not the
// listing gives entry types (some file systems give none), and what clearing
// an entry's attributes does to files, links and entries that cannot be opened.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>

#include "platform/files.h"
#include "platform/posix/base/kernel_calls.h"
#include "platform/text.h"
#include "tests/platform/standin.h"

namespace {

namespace fs = std::filesystem;
using platform::EntryKind;

// A Unix socket bound at the path: an entry that no open can succeed on.
bool MakeSocketEntry(const fs::path& path) {
  const std::string native = standin::Utf8(path);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (native.size() >= sizeof address.sun_path) return false;
  native.copy(address.sun_path, native.size());
  const int socketFd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  const bool bound = socketFd >= 0 && bind(socketFd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
  if (socketFd >= 0) close(socketFd);
  return bound;
}

const char* KindName(EntryKind kind) {
  switch (kind) {
    case EntryKind::File: return "file";
    case EntryKind::Folder: return "folder";
    case EntryKind::FolderLink: return "folder link";
    case EntryKind::Other: return "other";
  }
  return "?";
}

unsigned PermissionBits(const fs::path& path) {
  struct stat info {};
  return lstat(path.c_str(), &info) == 0 ? info.st_mode & 07777 : 0;
}

class FolderWalkTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const fs::path& folder = mFolder.Path();
    std::ofstream(folder / "file") << "x";
    fs::create_directory(folder / "folder");
    ASSERT_EQ(mkfifo((folder / "fifo").c_str(), 0600), 0);
    ASSERT_TRUE(MakeSocketEntry(folder / "socket"));
    fs::create_symlink("file", folder / "link to file");
    fs::create_directory_symlink("folder", folder / "link to folder");
    fs::create_symlink("missing", folder / "dangling link");
    fs::create_symlink("loop", folder / "loop");
  }

  std::unique_ptr<platform::FolderWalk> Open() {
    return platform::SystemFiles().OpenFolder(standin::Wide(mFolder.Path()), platform::FollowLink::No);
  }

  // Every entry but "." and "..", with the name of its kind.
  std::map<std::string, std::string> Listed() {
    std::map<std::string, std::string> kinds;
    const auto walk = Open();
    if (walk == nullptr) return kinds;
    platform::FolderEntry entry;
    while (walk->Next(&entry)) {
      if (entry.Name != u"." && entry.Name != u"..") kinds[platform::WideToUtf8(entry.Name)] = KindName(entry.Kind);
    }
    return kinds;
  }

  standin::TempFolder mFolder;
};

TEST_F(FolderWalkTest, EntriesAreOfTheirKindWhetherOrNotTheListingGivesTypes) {
  const std::map<std::string, std::string> expected = {
      {"file", "file"},           {"folder", "folder"},          {"fifo", "other"},
      {"socket", "other"},        {"link to file", "file"},      {"link to folder", "folder link"},
      {"dangling link", "other"}, {"loop", "other"},
  };
  EXPECT_EQ(Listed(), expected) << "entry types from the listing";

  platform::posix::KernelCalls calls = platform::posix::SystemKernelCalls();
  calls.ReadDir = [](DIR* listing) {
    dirent* entry = platform::posix::SystemKernelCalls().ReadDir(listing);
    if (entry != nullptr) entry->d_type = DT_UNKNOWN;
    return entry;
  };
  const platform::posix::ScopedKernelCallsForTesting untyped(calls);
  EXPECT_EQ(Listed(), expected) << "no entry types from the listing";
}

TEST_F(FolderWalkTest, ClearingAttributesAddsTheOwnersWriteToAFileAndFailsWhereNoOpenSucceeds) {
  const fs::path file = mFolder.Path() / "file";
  ASSERT_EQ(chmod(file.c_str(), 0444), 0);
  const auto walk = Open();
  ASSERT_NE(walk, nullptr);

  EXPECT_TRUE(walk->ClearAttributes(u"link to file")) << "a link is left as it is and counts as done";
  EXPECT_EQ(PermissionBits(file), 0444u);
  EXPECT_TRUE(walk->ClearAttributes(u"file"));
  EXPECT_EQ(PermissionBits(file), 0644u);

  EXPECT_FALSE(walk->ClearAttributes(u"socket"));
  EXPECT_FALSE(walk->ClearAttributes(u"missing"));
}

}  // namespace
