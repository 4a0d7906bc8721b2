// Copying one file's data on Linux: copy_file_range, else sendfile, else a large buffer.
#include "platform/posix/files/file_copy.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/sendfile.h>
#include <sys/stat.h>
#include <unistd.h>

#include <vector>

#include "platform/posix/base/kernel_calls.h"
#include "platform/posix/base/unique_fd.h"

namespace platform::posix {
namespace {

constexpr std::size_t kChunk = 1 << 30;          // per offload call
constexpr std::size_t kBufferSize = 1 << 20;     // the plain read/write fallback

enum class Copied { Done, Failed, NotSupported };

// Errors after which the next way of copying may still work (nothing was
// written yet by this way).
bool IsUnsupported(int error) {
  return error == EXDEV || error == ENOSYS || error == EINVAL || error == EOPNOTSUPP || error == EBADF;
}

// Runs one in-kernel copy step (a byte count, 0 at the end, -1 with errno)
// until the source is exhausted. A call refused before any byte moved means
// this way of copying is not available for these files.
template <class Step>
Copied CopyInKernel(Step step) {
  bool any = false;
  for (;;) {
    const ssize_t n = step();
    if (n > 0) {
      any = true;
      continue;
    }
    if (n == 0) return Copied::Done;
    if (errno == EINTR) continue;
    return !any && IsUnsupported(errno) ? Copied::NotSupported : Copied::Failed;
  }
}

Copied WithCopyFileRange(int in, int out) {
  return CopyInKernel([in, out] { return CurrentKernelCalls().CopyFileRange(in, nullptr, out, nullptr, kChunk, 0); });
}

Copied WithSendfile(int in, int out) {
  return CopyInKernel([in, out] { return CurrentKernelCalls().SendFile(out, in, nullptr, kChunk); });
}

bool WithBuffer(int in, int out) {
  std::vector<char> buffer(kBufferSize);
  for (;;) {
    const ssize_t n = CurrentKernelCalls().Read(in, buffer.data(), buffer.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) return true;
    if (!WriteAll(out, buffer.data(), static_cast<std::size_t>(n))) return false;
  }
}

// The source's permission bits (a staged program stays runnable) and its data
// into the emptied target.
bool CopyOpenFile(int in, int out, const struct stat& from) {
  if (fchmod(out, from.st_mode & 0777) != 0) return false;
  Copied copied = WithCopyFileRange(in, out);
  if (copied == Copied::NotSupported) copied = WithSendfile(in, out);
  if (copied == Copied::NotSupported) copied = WithBuffer(in, out) ? Copied::Done : Copied::Failed;
  return copied == Copied::Done;
}

// A copy that failed once the target was emptied (a full disk, a failed read)
// leaves no part-written file under the target's name: the entry goes when it
// still names the file the copy opened.
void RemovePartialTarget(int targetFolder, const std::string& target, const struct stat& opened) {
  struct stat now {};
  if (fstatat(targetFolder, target.c_str(), &now, AT_SYMLINK_NOFOLLOW) == 0 && now.st_dev == opened.st_dev &&
      now.st_ino == opened.st_ino) {
    unlinkat(targetFolder, target.c_str(), 0);
  }
}

}  // namespace

bool WriteAll(int fd, const char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t n = write(fd, data, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

bool CopyFileData(const std::string& source, const std::string& target) {
  return CopyFileDataAt(AT_FDCWD, source, AT_FDCWD, target);
}

bool CopyFileDataAt(int sourceFolder, const std::string& source, int targetFolder, const std::string& target) {
  if (source.empty() || target.empty()) return false;
  // Neither end is opened unless it is a regular file: opening a device may
  // act on it (a tape rewinds, a serial line's modem lines rise), and opening
  // a pipe wakes the process at its other end.
  struct stat seen {};
  if (fstatat(sourceFolder, source.c_str(), &seen, 0) != 0 || !S_ISREG(seen.st_mode)) return false;
  if (fstatat(targetFolder, target.c_str(), &seen, AT_SYMLINK_NOFOLLOW) == 0 && !S_ISREG(seen.st_mode)) return false;
  const UniqueFd in(openat(sourceFolder, source.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
  struct stat from {};
  if (!in.IsValid() || fstat(in.Get(), &from) != 0 || !S_ISREG(from.st_mode)) return false;
  // Should an entry be swapped meanwhile, neither open waits on a pipe
  // (O_NONBLOCK) and only regular files are copied.
  // Opened without truncating, so that copying a file onto itself can be
  // refused before any byte is lost; a link at the target is not written through.
  const UniqueFd out(
      openat(targetFolder, target.c_str(), O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0600));
  struct stat to {};
  if (!out.IsValid() || fstat(out.Get(), &to) != 0 || !S_ISREG(to.st_mode)) return false;
  if (to.st_dev == from.st_dev && to.st_ino == from.st_ino) return false;
  if (ftruncate(out.Get(), 0) != 0 || !CopyOpenFile(in.Get(), out.Get(), from)) {
    RemovePartialTarget(targetFolder, target, to);
    return false;
  }
  return true;
}

}  // namespace platform::posix
