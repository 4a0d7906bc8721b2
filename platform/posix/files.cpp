// Paths and file kinds on Linux: Windows-style path text resolved to the file system.
#include <errno.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <vector>

#include "platform/files.h"
#include "platform/posix/paths.h"
#include "platform/text.h"

namespace platform {
namespace {

class PosixFiles final : public FileServices {
 public:
  std::u16string OwnExecutablePath() override;
  std::u16string FullPathName(std::u16string_view path) override;
  PathKind GetPathKind(std::u16string_view path) override;
};

}  // namespace

FileServices& SystemFiles() {
  static PosixFiles* const files = new PosixFiles();  // lives for the process
  return *files;
}

const common::PathDelimiters& PathDelimitersOfPlatform() { return common::kLinuxPathDelimiters; }

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
