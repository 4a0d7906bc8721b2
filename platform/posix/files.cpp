// Paths, file kinds and file operations on Linux: Windows-style path text
// resolved to the file system; walks that delete work relative to descriptors.
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <utility>
#include <vector>

#include "platform/files.h"
#include "platform/posix/base/unique_fd.h"
#include "platform/posix/files/file_copy.h"
#include "platform/posix/files/folder_walk.h"
#include "platform/posix/files/paths.h"
#include "platform/posix/files/trusted_path.h"
#include "platform/text.h"

namespace platform {
namespace {

class PosixFiles final : public FileServices {
 public:
  std::u16string OwnExecutablePath() override;
  std::u16string FullPathName(std::u16string_view path) override;
  PathKind GetPathKind(std::u16string_view path) override;
  std::unique_ptr<FolderWalk> OpenFolder(std::u16string_view path, FollowLink follow) override;
  bool CreateFolder(std::u16string_view path) override;
  bool RemoveFolder(std::u16string_view path) override;
  bool CopyFileReplacing(std::u16string_view source, std::u16string_view target) override;
  std::u16string TempFolder() override;
  bool IsOwnRealFolder(std::u16string_view path) override;
  bool IsTrustedPath(std::u16string_view path) override;
  bool SameFolder(std::u16string_view first, std::u16string_view second) override;
  bool FolderContains(std::u16string_view outer, std::u16string_view inner) override;
};

// The file-system path without a trailing "/" (the root stays "/").
std::string NativePath(std::u16string_view path) {
  std::string native = posix::FileSystemPath(path);
  if (native.size() > 1 && native.back() == '/') native.pop_back();
  return native;
}

// The parent folder opened as a descriptor, and the last name in it. False for
// the root or an empty path.
bool OpenParent(std::u16string_view path, posix::UniqueFd* parent, std::string* name) {
  const std::string native = NativePath(path);
  const std::size_t slash = native.rfind('/');
  if (native.empty() || slash == std::string::npos || slash + 1 == native.size()) return false;
  *name = native.substr(slash + 1);
  const std::string folder = slash == 0 ? std::string("/") : native.substr(0, slash);
  parent->Reset(open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  return parent->IsValid();
}

}  // namespace

FileServices& SystemFiles() {
  static PosixFiles* const files = new PosixFiles();  // lives for the process
  return *files;
}

const common::PathDelimiters& PathDelimitersOfPlatform() { return common::kLinuxPathDelimiters; }
const common::PathDelimiters& FileSystemDelimitersOfPlatform() { return common::kLinuxPathDelimiters; }

std::u16string PosixFiles::OwnExecutablePath() {
  std::string buffer(PATH_MAX, '\0');
  for (;;) {
    const ssize_t length = readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (length < 0) return {};
    if (static_cast<std::size_t>(length) < buffer.size()) {
      buffer.resize(static_cast<std::size_t>(length));
      return Utf8ToWide(buffer);
    }
    buffer.resize(buffer.size() * 2);
  }
}

std::u16string PosixFiles::FullPathName(std::u16string_view path) {
  return Utf8ToWide(posix::FileSystemPath(path));
}

PathKind PosixFiles::GetPathKind(std::u16string_view path) {
  const std::string native = posix::FileSystemPath(path);
  struct stat info {};
  if (native.empty() || stat(native.c_str(), &info) != 0) return PathKind::Missing;
  return S_ISDIR(info.st_mode) ? PathKind::Folder : PathKind::File;
}

std::unique_ptr<FolderWalk> PosixFiles::OpenFolder(std::u16string_view path, FollowLink follow) {
  const std::string native = NativePath(path);
  if (native.empty()) return nullptr;
  const int flags = O_RDONLY | O_DIRECTORY | O_CLOEXEC | (follow == FollowLink::No ? O_NOFOLLOW : 0);
  return posix::OpenFolderWalk(posix::UniqueFd(open(native.c_str(), flags)));
}

bool PosixFiles::CreateFolder(std::u16string_view path) {
  const std::string native = NativePath(path);
  return !native.empty() && mkdir(native.c_str(), 0777) == 0;
}

bool PosixFiles::RemoveFolder(std::u16string_view path) {
  posix::UniqueFd parent;
  std::string name;
  if (!OpenParent(path, &parent, &name)) return false;
  struct stat info {};
  if (fstatat(parent.Get(), name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) return false;
  // A link in the folder's place goes itself; what it names stays.
  return unlinkat(parent.Get(), name.c_str(), S_ISLNK(info.st_mode) ? 0 : AT_REMOVEDIR) == 0;
}

bool PosixFiles::CopyFileReplacing(std::u16string_view source, std::u16string_view target) {
  return posix::CopyFileData(NativePath(source), NativePath(target));
}

std::u16string PosixFiles::TempFolder() {
  const char* variable = getenv("TMPDIR");
  struct stat info {};
  if (variable != nullptr && variable[0] == '/' && stat(variable, &info) == 0 && S_ISDIR(info.st_mode)) {
    std::string folder(variable);
    if (folder.back() != '/') folder += '/';
    return Utf8ToWide(folder);
  }
  return u"/tmp/";
}

bool PosixFiles::IsOwnRealFolder(std::u16string_view path) {
  const std::string native = NativePath(path);
  struct stat info {};
  return !native.empty() && lstat(native.c_str(), &info) == 0 && S_ISDIR(info.st_mode) && info.st_uid == geteuid();
}

bool PosixFiles::IsTrustedPath(std::u16string_view path) { return posix::IsTrustedPath(NativePath(path)); }

bool PosixFiles::SameFolder(std::u16string_view first, std::u16string_view second) {
  const std::string a = NativePath(first);
  const std::string b = NativePath(second);
  struct stat one {};
  struct stat two {};
  if (a.empty() || b.empty() || stat(a.c_str(), &one) != 0 || stat(b.c_str(), &two) != 0) return false;
  return S_ISDIR(one.st_mode) && one.st_dev == two.st_dev && one.st_ino == two.st_ino;
}

bool PosixFiles::FolderContains(std::u16string_view outer, std::u16string_view inner) {
  const std::string top = NativePath(outer);
  struct stat wanted {};
  if (top.empty() || stat(top.c_str(), &wanted) != 0 || !S_ISDIR(wanted.st_mode)) return false;
  // A missing folder stands for the nearest existing one above it.
  std::string start = NativePath(inner);
  posix::UniqueFd folder;
  while (!start.empty()) {
    folder.Reset(open(start.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (folder.IsValid() || start == "/") break;
    const std::size_t slash = start.rfind('/');
    start = slash == std::string::npos ? std::string() : slash == 0 ? std::string("/") : start.substr(0, slash);
  }
  // Up the ".." chain, where the folder really lies, to the root (its own "..").
  constexpr int kDeepest = 4096;
  for (int depth = 0; folder.IsValid() && depth < kDeepest; ++depth) {
    struct stat here {};
    if (fstat(folder.Get(), &here) != 0) return false;
    if (here.st_dev == wanted.st_dev && here.st_ino == wanted.st_ino) return true;
    posix::UniqueFd up(openat(folder.Get(), "..", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    struct stat above {};
    if (!up.IsValid() || fstat(up.Get(), &above) != 0) return false;
    if (above.st_dev == here.st_dev && above.st_ino == here.st_ino) return false;  // the root
    folder = std::move(up);
  }
  return false;
}

namespace posix {

std::string CurrentFolder() {
  std::string buffer(PATH_MAX, '\0');
  while (getcwd(buffer.data(), buffer.size()) == nullptr) {
    if (errno != ERANGE) return {};
    buffer.resize(buffer.size() * 2);
  }
  buffer.resize(buffer.find('\0'));
  return buffer;
}

std::string FileSystemPath(std::u16string_view path) {
  if (path.empty()) return {};
  std::string text = WideToUtf8(path);
  for (char& c : text) {
    if (c == '\\') c = '/';
  }
  if (text.front() != '/') {
    const std::string current = CurrentFolder();
    if (current.empty()) return {};
    text = current + "/" + text;
  }
  // Resolve the steps by text, as Windows does: ".." leaves the folder named
  // before it, whatever that folder is or whether it exists.
  std::vector<std::string_view> names;
  const std::string_view whole(text);
  std::size_t start = 0;
  while (start <= whole.size()) {
    std::size_t end = whole.find('/', start);
    if (end == std::string_view::npos) end = whole.size();
    const std::string_view name = whole.substr(start, end - start);
    if (name == "..") {
      if (!names.empty()) names.pop_back();
    } else if (!name.empty() && name != ".") {
      names.push_back(name);
    }
    start = end + 1;
  }
  std::string out;
  for (std::string_view name : names) {
    out += '/';
    out += name;
  }
  if (out.empty() || text.back() == '/') out += '/';
  return out;
}

}  // namespace posix
}  // namespace platform
