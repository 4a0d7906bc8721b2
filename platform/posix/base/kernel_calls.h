// The few system calls of the Linux layer whose rare answers the kernel will
// not give on demand (a refused bind, a listing without entry types, a copy
// that is not offloaded, a read that ends early), in one table that a test
// can replace for its lifetime.
#pragma once

#include <dirent.h>
#include <sys/sendfile.h>
#include <sys/socket.h>
#include <unistd.h>

#include "platform/seam.h"

namespace platform::posix {

// Each entry behaves as the system call of its name (result and errno); a
// test's entries need not be noexcept as the C library's are. Every entry may
// be called from any thread.
struct KernelCalls {
  int (*Bind)(int, const sockaddr*, socklen_t) = ::bind;  // the process connector's socket
  dirent* (*ReadDir)(DIR*) = ::readdir;                    // the folder walk's listing
  // The file copy's ways, in the order they are tried.
  ssize_t (*CopyFileRange)(int, loff_t*, int, loff_t*, size_t, unsigned) = ::copy_file_range;
  ssize_t (*SendFile)(int, int, off_t*, size_t) = ::sendfile;
  ssize_t (*Read)(int, void*, size_t) = ::read;
};

// The real calls. Lives for the whole process.
inline KernelCalls& SystemKernelCalls() {
  static KernelCalls calls;
  return calls;
}
// The calls in use: the real ones unless a test put its table in place.
inline KernelCalls& CurrentKernelCalls() { return CurrentService<KernelCalls>(SystemKernelCalls()); }
using ScopedKernelCallsForTesting = ScopedServiceForTesting<KernelCalls>;

}  // namespace platform::posix
