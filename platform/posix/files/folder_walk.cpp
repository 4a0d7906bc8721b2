// A folder walk on Linux: every call is relative to the open folder and follows no link.
#include "platform/posix/files/folder_walk.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <string_view>

#include "platform/posix/base/kernel_calls.h"
#include "platform/posix/files/file_copy.h"
#include "platform/text.h"

namespace platform::posix {
namespace {

constexpr int kSubfolderFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
// A file of the folder: never through a link, never waiting for a writer or
// a device, never becoming the controlling terminal.
constexpr int kFileFlags = O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;

// True when the descriptor is open on a regular file; *info receives its status.
bool OpenRegularFile(const UniqueFd& file, struct stat* info) {
  return file.IsValid() && fstat(file.Get(), info) == 0 && S_ISREG(info->st_mode);
}

// Reads to the end, but never more than maxBytes (a file that grew past it
// fails), into *bytes.
bool ReadAtMost(int file, std::size_t maxBytes, std::string* bytes) {
  bytes->clear();
  char buffer[65536];
  for (;;) {
    const ssize_t n = read(file, buffer, sizeof buffer);
    if (n == 0) return true;
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (bytes->size() + static_cast<std::size_t>(n) > maxBytes) return false;
    bytes->append(buffer, static_cast<std::size_t>(n));
  }
}

// What an entry is, from the type the listing gave and, where that does not
// tell, from a look that opens nothing.
EntryKind KindOf(int folder, const char* name, unsigned char type) {
  struct stat info {};
  if (type == DT_UNKNOWN) {
    if (fstatat(folder, name, &info, AT_SYMLINK_NOFOLLOW) != 0) return EntryKind::Other;
    if (S_ISDIR(info.st_mode)) return EntryKind::Folder;
    if (S_ISREG(info.st_mode)) return EntryKind::File;
    if (!S_ISLNK(info.st_mode)) return EntryKind::Other;
    type = DT_LNK;
  }
  if (type == DT_DIR) return EntryKind::Folder;
  if (type == DT_REG) return EntryKind::File;
  if (type != DT_LNK) return EntryKind::Other;  // FIFO, socket, device
  // A link is what it names: a dangling link or a loop names nothing.
  if (fstatat(folder, name, &info, 0) != 0) return EntryKind::Other;
  if (S_ISDIR(info.st_mode)) return EntryKind::FolderLink;
  return S_ISREG(info.st_mode) ? EntryKind::File : EntryKind::Other;
}

class PosixFolderWalk final : public FolderWalk {
 public:
  explicit PosixFolderWalk(UniqueFd folder) : mFolder(std::move(folder)) {}

  // A walk over the open real folder (taken over), not listed yet; null when
  // the descriptor is not valid or not a folder.
  static std::unique_ptr<PosixFolderWalk> OpenUnlisted(UniqueFd folder) {
    struct stat info {};
    if (!folder.IsValid() || fstat(folder.Get(), &info) != 0 || !S_ISDIR(info.st_mode)) return nullptr;
    return std::make_unique<PosixFolderWalk>(std::move(folder));
  }

  // Opens the listing through a descriptor of its own; the walk's descriptor
  // stays for the calls relative to the folder.
  bool StartListing() {
    UniqueFd listed(fcntl(mFolder.Get(), F_DUPFD_CLOEXEC, 0));
    if (!listed.IsValid()) return false;
    mListing.Reset(fdopendir(listed.Get()));
    if (!mListing.IsValid()) return false;
    static_cast<void>(listed.Release());  // the listing closes it now
    return true;
  }

  bool Next(FolderEntry* entry) override {
    if (!mListing.IsValid() && !StartListing()) return false;
    errno = 0;
    const dirent* found = CurrentKernelCalls().ReadDir(mListing.Get());
    if (found == nullptr) return false;
    entry->Name = Utf8ToWide(found->d_name);
    entry->Kind = KindOf(mFolder.Get(), found->d_name, found->d_type);
    return true;
  }

  std::unique_ptr<FolderWalk> OpenSubfolder(std::u16string_view name) override {
    return OpenFolderWalk(UniqueFd(openat(mFolder.Get(), WideToUtf8(name).c_str(), kSubfolderFlags)));
  }

  std::unique_ptr<FolderWalk> CreateSubfolder(std::u16string_view name, bool* created) override {
    const std::string native = WideToUtf8(name);
    *created = mkdirat(mFolder.Get(), native.c_str(), 0700) == 0;
    // Not listed yet: a folder that receives copies holds one descriptor.
    return OpenUnlisted(UniqueFd(openat(mFolder.Get(), native.c_str(), kSubfolderFlags)));
  }

  bool CopyFileInto(std::u16string_view name, FolderWalk& target) override {
    auto* into = dynamic_cast<PosixFolderWalk*>(&target);
    const std::string native = WideToUtf8(name);
    return into != nullptr && CopyFileDataAt(mFolder.Get(), native, into->mFolder.Get(), native);
  }

  FolderIdentity Identity() override {
    struct stat info {};
    if (fstat(mFolder.Get(), &info) != 0) return {};
    return {static_cast<std::uint64_t>(info.st_dev), static_cast<std::uint64_t>(info.st_ino)};
  }

  unsigned PermissionBits() override {
    struct stat info {};
    return fstat(mFolder.Get(), &info) == 0 ? info.st_mode & 0777 : 0700;
  }

  bool SetPermissionBits(unsigned bits) override { return fchmod(mFolder.Get(), bits & 0777) == 0; }

  bool DeleteEntry(std::u16string_view name) override {
    return unlinkat(mFolder.Get(), WideToUtf8(name).c_str(), 0) == 0;
  }

  bool ClearAttributes(std::u16string_view name) override { return AddOwnerWrite(mFolder.Get(), WideToUtf8(name)); }

  bool RemoveSubfolder(std::u16string_view name) override {
    return unlinkat(mFolder.Get(), WideToUtf8(name).c_str(), AT_REMOVEDIR) == 0;
  }

  FileRead ReadFile(std::u16string_view name, std::size_t maxBytes, std::string* bytes) override {
    const std::string native = WideToUtf8(name);
    struct stat info {};
    // What is not a regular file is never opened (a device may act on an open).
    if (fstatat(mFolder.Get(), native.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) {
      return errno == ENOENT ? FileRead::Missing : FileRead::Refused;
    }
    if (!S_ISREG(info.st_mode)) return FileRead::Refused;
    const UniqueFd file(openat(mFolder.Get(), native.c_str(), kFileFlags | O_RDONLY));
    if (!OpenRegularFile(file, &info) || static_cast<std::uint64_t>(info.st_size) > maxBytes) return FileRead::Refused;
    return ReadAtMost(file.Get(), maxBytes, bytes) ? FileRead::Read : FileRead::Refused;
  }

  bool WriteFile(std::u16string_view name, std::string_view bytes) override {
    const std::string native = WideToUtf8(name);
    struct stat info {};
    if (fstatat(mFolder.Get(), native.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0 && !S_ISREG(info.st_mode)) return false;
    // Truncated only once the open file is known to be a regular file.
    const UniqueFd file(openat(mFolder.Get(), native.c_str(), kFileFlags | O_WRONLY | O_CREAT, 0666));
    return OpenRegularFile(file, &info) && ftruncate(file.Get(), 0) == 0 &&
           WriteAll(file.Get(), bytes.data(), bytes.size());
  }

 private:
  UniqueFd mFolder;
  UniqueDir mListing;  // opened at the first Next
};

}  // namespace

std::unique_ptr<FolderWalk> OpenFolderWalk(UniqueFd folder) {
  std::unique_ptr<PosixFolderWalk> walk = PosixFolderWalk::OpenUnlisted(std::move(folder));
  if (walk == nullptr || !walk->StartListing()) return nullptr;
  return walk;
}

bool AddOwnerWrite(int folder, const std::string& name) {
  struct stat info {};
  if (fstatat(folder, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) return false;
  if (S_ISLNK(info.st_mode)) return true;
  // Change the file that was opened, never one a link swapped in meanwhile.
  const UniqueFd file(openat(folder, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  if (!file.IsValid() || fstat(file.Get(), &info) != 0) return false;
  return fchmod(file.Get(), (info.st_mode & 07777) | S_IWUSR) == 0;
}

}  // namespace platform::posix
