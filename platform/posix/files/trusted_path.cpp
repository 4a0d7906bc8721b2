// Whether another user could change where a Linux path leads: a walk of its
// steps as the kernel resolves them, each looked at without following it.
#include "platform/posix/files/trusted_path.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <deque>
#include <string_view>
#include <utility>

#include "platform/posix/base/unique_fd.h"

namespace platform::posix {
namespace {

constexpr int kMostLinks = 40;  // as the kernel allows in one resolution

// The names of a path's steps, pushed at the front of steps in their order.
void PushStepsInFront(std::string_view path, std::deque<std::string>* steps) {
  std::deque<std::string> names;
  std::size_t start = 0;
  while (start <= path.size()) {
    std::size_t end = path.find('/', start);
    if (end == std::string_view::npos) end = path.size();
    if (end > start) names.emplace_back(path.substr(start, end - start));
    start = end + 1;
  }
  steps->insert(steps->begin(), names.begin(), names.end());
}

// Only this user or root own it, and a folder that others may write to keeps
// their entries apart (the sticky bit).
bool OnlyOwnerOrRootCanChange(const struct stat& info) {
  if (info.st_uid != geteuid() && info.st_uid != 0) return false;
  const bool othersWrite = (info.st_mode & (S_IWGRP | S_IWOTH)) != 0;
  return !S_ISDIR(info.st_mode) || !othersWrite || (info.st_mode & S_ISVTX) != 0;
}

// The root folder, opened for looking only, when it is trusted itself.
UniqueFd OpenTrustedRoot() {
  UniqueFd root(open("/", O_PATH | O_DIRECTORY | O_CLOEXEC));
  struct stat info {};
  if (!root.IsValid() || fstat(root.Get(), &info) != 0 || !OnlyOwnerOrRootCanChange(info)) return {};
  return root;
}

// The text of the link of that name in the folder; empty when it cannot be read.
std::string ReadLinkAt(int folder, const std::string& name) {
  std::string text(256, '\0');
  for (;;) {
    const ssize_t length = readlinkat(folder, name.c_str(), text.data(), text.size());
    if (length <= 0) return {};
    if (static_cast<std::size_t>(length) < text.size()) {
      text.resize(static_cast<std::size_t>(length));
      return text;
    }
    text.resize(text.size() * 2);
  }
}

}  // namespace

bool IsTrustedPath(const std::string& path) {
  if (path.empty() || path.front() != '/') return false;
  UniqueFd folder = OpenTrustedRoot();
  if (!folder.IsValid()) return false;
  std::deque<std::string> steps;
  PushStepsInFront(path, &steps);
  int links = 0;
  while (!steps.empty()) {
    const std::string step = std::move(steps.front());
    steps.pop_front();
    if (step == ".") continue;
    struct stat info {};
    if (fstatat(folder.Get(), step.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) return errno == ENOENT;
    if (!OnlyOwnerOrRootCanChange(info)) return false;
    if (S_ISLNK(info.st_mode)) {
      const std::string target = ReadLinkAt(folder.Get(), step);
      if (target.empty() || ++links > kMostLinks) return false;
      if (target.front() == '/') {
        folder = OpenTrustedRoot();
        if (!folder.IsValid()) return false;
      }
      PushStepsInFront(target, &steps);
      continue;
    }
    if (!S_ISDIR(info.st_mode)) return false;
    // The folder opened is the one looked at, or the walk ends.
    UniqueFd next(openat(folder.Get(), step.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    struct stat opened {};
    if (!next.IsValid() || fstat(next.Get(), &opened) != 0 || opened.st_dev != info.st_dev ||
        opened.st_ino != info.st_ino || !OnlyOwnerOrRootCanChange(opened)) {
      return false;
    }
    folder = std::move(next);
  }
  return true;
}

}  // namespace platform::posix
