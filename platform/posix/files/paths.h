// Windows-style path text turned into Linux file-system paths; shared by the
// Linux file and process services.
#pragma once

#include <string>
#include <string_view>

namespace platform::posix {

// The current folder, empty when it cannot be read.
std::string CurrentFolder();

// The path as the file system takes it, in UTF-8: every "\" becomes "/", a
// relative path is taken from the current folder, "." and ".." steps are
// resolved by text and repeated delimiters fold into one; a trailing "/" is
// kept. Empty for an empty path or when the current folder cannot be read.
std::string FileSystemPath(std::u16string_view path);

}  // namespace platform::posix
