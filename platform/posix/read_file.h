// Reading a whole file into memory on Linux, for the small files of /proc
// that the platform services read.
#pragma once

#include <string>

namespace platform::posix {

// The file's whole content, read to its end (interrupted reads resumed);
// empty when it cannot be opened. Any thread.
std::string ReadWholeFile(const std::string& path);

}  // namespace platform::posix
