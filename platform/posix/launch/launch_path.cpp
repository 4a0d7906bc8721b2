// Resolving a launch path folder by folder, without regard to letter case.
#include "platform/posix/launch/launch_path.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <vector>

#include "platform/posix/base/unique_fd.h"
#include "platform/posix/files/paths.h"
#include "platform/text.h"

namespace platform::posix {
namespace {

bool Exists(const std::string& path) {
  struct stat info {};
  return lstat(path.c_str(), &info) == 0;
}

// The entry of the folder whose name equals name without regard to letter
// case, the first in sorted order; empty when there is none.
std::string FindIgnoringCase(const std::string& folder, const std::string& name) {
  const std::u16string wanted = UpperCase(Utf8ToWide(name));
  std::vector<std::string> matches;
  const UniqueDir dir(opendir(folder.c_str()));
  if (!dir.IsValid()) return {};
  while (const dirent* entry = readdir(dir.Get())) {
    const std::string candidate = entry->d_name;
    if (candidate != "." && candidate != ".." && UpperCase(Utf8ToWide(candidate)) == wanted) {
      matches.push_back(candidate);
    }
  }
  return matches.empty() ? std::string() : *std::min_element(matches.begin(), matches.end());
}

}  // namespace

std::string ResolveLaunchPath(std::u16string_view path) {
  const std::string native = FileSystemPath(path);
  if (native.empty() || Exists(native)) return native;
  std::string resolved;
  std::size_t start = 1;
  while (start < native.size()) {
    std::size_t end = native.find('/', start);
    if (end == std::string::npos) end = native.size();
    const std::string name = native.substr(start, end - start);
    const std::string folder = resolved.empty() ? "/" : resolved;
    std::string chosen = name;
    if (!Exists(resolved + "/" + name)) {
      chosen = FindIgnoringCase(folder, name);
      if (chosen.empty()) return native;
    }
    resolved += "/" + chosen;
    start = end + 1;
  }
  if (native.back() == '/') resolved += '/';
  return resolved;
}

}  // namespace platform::posix
