// The file-system side of the path words: the program's own path, full paths
// and whether a path names a file or a folder.
#pragma once

#include <string>
#include <string_view>

namespace platform {

// The full path of the running program's executable file. Windows: the
// module file name of the exe; Linux: the real file of the running program
// (/proc/self/exe). Empty when the system cannot tell. Any thread.
std::u16string OwnExecutablePath();

// The path made absolute, relative to the current folder, with "." and ".."
// steps resolved by text (links are not followed) and a trailing delimiter
// kept. Windows: GetFullPathNameW. Linux: every "\" becomes "/", there are no
// drives. Empty when the path is empty or the system fails. Any thread.
std::u16string FullPathName(std::u16string_view path);

enum class PathKind { Missing, File, Folder };

// What the path names. Windows: GetFileAttributesW (the directory attribute
// makes a folder). Linux: the full path (above) as the file system sees it,
// links followed. Any thread.
PathKind GetPathKind(std::u16string_view path);

}  // namespace platform
