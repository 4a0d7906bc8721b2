// Reading a whole file into memory on Linux: the small files of /proc that
// the platform services read, and the files the files seam reads.
#pragma once

#include <string>

namespace platform::posix {

// Replaces *content with the file's whole content, read to its end
// (interrupted reads resumed). False, with errno set, when the file cannot be
// opened or a read fails. Any thread.
bool ReadWholeFile(const std::string& path, std::string* content);

// The file's whole content; empty when it cannot be read. Any thread.
std::string ReadWholeFile(const std::string& path);

}  // namespace platform::posix
