// The file services of the platform: the program's own path, full paths,
// whether a path names a file or a folder, and the delimiters of its paths.
#pragma once

#include <string>
#include <string_view>

#include "common/path_words.h"
#include "platform/seam.h"

namespace platform {

enum class PathKind { Missing, File, Folder };

// Every method may be called from any thread.
class FileServices {
 public:
  virtual ~FileServices() = default;
  // The full path of the running program's executable file. Windows: the
  // module file name of the exe; Linux: the real file of the running program
  // (/proc/self/exe). Empty when the system cannot tell.
  virtual std::u16string OwnExecutablePath() = 0;
  // The path made absolute, relative to the current folder, with "." and ".."
  // steps resolved by text (links are not followed) and a trailing delimiter
  // kept. Windows: GetFullPathNameW. Linux: every "\" becomes "/", there are
  // no drives. Empty when the path is empty or the system fails.
  virtual std::u16string FullPathName(std::u16string_view path) = 0;
  // What the path names. Windows: GetFileAttributesW (the directory attribute
  // makes a folder). Linux: the full path (above) as the file system sees it,
  // links followed.
  virtual PathKind GetPathKind(std::u16string_view path) = 0;
};

// The real services of this platform. Lives for the whole process.
FileServices& SystemFiles();
// The services in use: the real ones unless a test put a fake in place.
inline FileServices& CurrentFiles() { return CurrentService<FileServices>(SystemFiles()); }
using ScopedFilesForTesting = ScopedServiceForTesting<FileServices>;

// The delimiters of this platform's paths: Windows "\" and drives with ":";
// Linux "/" and "\", no drives.
const common::PathDelimiters& PathDelimitersOfPlatform();

}  // namespace platform
