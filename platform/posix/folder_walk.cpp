// A folder walk on Linux: every call is relative to the open folder and follows no link.
#include "platform/posix/folder_walk.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/text.h"

namespace platform::posix {
namespace {

class PosixFolderWalk final : public FolderWalk {
 public:
  PosixFolderWalk(UniqueFd folder, UniqueDir listing) : mFolder(std::move(folder)), mListing(std::move(listing)) {}

  bool Next(FolderEntry* entry) override {
    errno = 0;
    const dirent* found = readdir(mListing.Get());
    if (found == nullptr) return false;
    entry->Name = Utf8ToWide(found->d_name);
    entry->Kind = KindOf(found->d_name, found->d_type);
    return true;
  }

  std::unique_ptr<FolderWalk> OpenSubfolder(std::u16string_view name) override {
    const std::string native = WideToUtf8(name);
    return OpenFolderWalk(UniqueFd(openat(mFolder.Get(), native.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC)));
  }

  bool DeleteEntry(std::u16string_view name) override {
    return unlinkat(mFolder.Get(), WideToUtf8(name).c_str(), 0) == 0;
  }

  bool ClearAttributes(std::u16string_view name) override { return AddOwnerWrite(mFolder.Get(), WideToUtf8(name)); }

  bool RemoveSubfolder(std::u16string_view name) override {
    return unlinkat(mFolder.Get(), WideToUtf8(name).c_str(), AT_REMOVEDIR) == 0;
  }

 private:
  EntryKind KindOf(const char* name, unsigned char type) const {
    struct stat info {};
    if (type == DT_UNKNOWN) {
      if (fstatat(mFolder.Get(), name, &info, AT_SYMLINK_NOFOLLOW) != 0) return EntryKind::File;
      if (S_ISDIR(info.st_mode)) return EntryKind::Folder;
      if (!S_ISLNK(info.st_mode)) return EntryKind::File;
      type = DT_LNK;
    }
    if (type == DT_DIR) return EntryKind::Folder;
    if (type != DT_LNK) return EntryKind::File;
    // A link is a folder link when what it names is a folder.
    return fstatat(mFolder.Get(), name, &info, 0) == 0 && S_ISDIR(info.st_mode) ? EntryKind::FolderLink
                                                                                   : EntryKind::File;
  }

  UniqueFd mFolder;
  UniqueDir mListing;
};

}  // namespace

std::unique_ptr<FolderWalk> OpenFolderWalk(UniqueFd folder) {
  if (!folder.IsValid()) return nullptr;
  // The listing reads through a descriptor of its own; the walk's descriptor
  // stays for the calls relative to the folder.
  UniqueFd listed(fcntl(folder.Get(), F_DUPFD_CLOEXEC, 0));
  if (!listed.IsValid()) return nullptr;
  UniqueDir listing(fdopendir(listed.Get()));
  if (!listing.IsValid()) return nullptr;
  static_cast<void>(listed.Release());  // the listing closes it now
  return std::make_unique<PosixFolderWalk>(std::move(folder), std::move(listing));
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
