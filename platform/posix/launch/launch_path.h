// Where a launch path lies on Linux: Windows programs name files without
// regard to letter case, the Linux file system does not.
#pragma once

#include <string>
#include <string_view>

namespace platform::posix {

// The launch path as the file system has it. A path that is not there as
// written is matched folder by folder without regard to letter case, an
// exact match winning and otherwise the first match in sorted order. What
// cannot be matched stays as written; an empty path stays empty.
std::string ResolveLaunchPath(std::u16string_view path);

}  // namespace platform::posix
