// Owners of Linux descriptors and directory streams.
#pragma once

#include <dirent.h>
#include <unistd.h>

#include "platform/scoped_handle.h"

namespace platform::posix {

struct FdTraits {
  using Type = int;
  static Type None() { return -1; }
  static void Close(Type fd) { ::close(fd); }
};
// A file descriptor, closed once.
using UniqueFd = ScopedGeneric<FdTraits>;

struct DirTraits {
  using Type = DIR*;
  static Type None() { return nullptr; }
  static void Close(Type dir) { ::closedir(dir); }
};
// A directory stream, closed once.
using UniqueDir = ScopedGeneric<DirTraits>;

}  // namespace platform::posix
