// Copying one file's data on Linux through the kernel's copy offload.
#pragma once

#include <cstddef>
#include <string>

namespace platform::posix {

// Copies the file at source over the file at target (created when missing,
// truncated when present), with the source's permission bits. Fails when the
// source is not a regular file, when the target is a link or the source file
// itself, or on any read or write error; a copy that fails once the target
// was emptied removes it, so that no part-written file keeps its name.
bool CopyFileData(const std::string& source, const std::string& target);

// The same, with source and target named relative to open folders (AT_FDCWD
// for the current folder).
bool CopyFileDataAt(int sourceFolder, const std::string& source, int targetFolder, const std::string& target);

// Writes every byte, retrying short writes and interruptions.
bool WriteAll(int fd, const char* data, std::size_t size);

}  // namespace platform::posix
