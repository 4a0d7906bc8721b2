// The file services of the platform: the program's own path, full paths,
// what a path names, folder walks that list, delete, read and write, copies,
// the temporary folder, and the delimiters of its paths.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "common/path_words.h"
#include "platform/seam.h"

namespace platform {

enum class PathKind { Missing, File, Folder };

// What a folder entry is, seen without following it.
enum class EntryKind {
  File,        // a file, or a link that does not name a folder (Linux: also a dangling link)
  Folder,      // a real folder
  FolderLink,  // a link to a folder (Windows: a directory reparse point such as a junction)
  Other,       // Linux: a FIFO, a socket, a device, a dangling link or a link loop; never opened
};

// Which folder an open folder is, whatever path led to it. Linux: device and
// inode. Windows: volume serial number and file index of the open handle.
struct FolderIdentity {
  std::uint64_t Volume = 0;
  std::uint64_t Index = 0;
  friend bool operator==(const FolderIdentity&, const FolderIdentity&) = default;
};

// What reading a file of an open folder found.
enum class FileRead {
  Read,     // a regular file, read whole
  Missing,  // no entry of that name
  Refused,  // a link, folder, FIFO, socket or device, a file over the limit, a failed open or read,
            // or (Windows) a name that is not one entry's
};

struct FolderEntry {
  std::u16string Name;
  EntryKind Kind = EntryKind::File;
};

// One open folder, listed entry by entry; its entries are opened, created,
// copied and deleted through it, by name, so that a walk never leaves the
// folder it opened (Linux: every call is relative to the folder's descriptor
// and follows no link; Windows: the folder is held open without following a
// reparse point and without sharing its deletion, so that neither it nor its
// name can be swapped while the walk lasts; a name holding "\" or "/", and
// "." or "..", is refused by every call that takes a name). Used by one
// thread at a time; the owner destroys it before removing the folder itself.
class FolderWalk {
 public:
  virtual ~FolderWalk() = default;
  // The next entry, in the order the system lists them ("." and ".." included
  // where the system lists them, hidden and system entries too). False when
  // there is none left.
  virtual bool Next(FolderEntry* entry) = 0;
  // The subfolder of that name opened for a walk of its own, null when it is
  // not a real folder (a link or reparse point is never opened) or cannot be
  // opened (Linux: also when no descriptor is left).
  virtual std::unique_ptr<FolderWalk> OpenSubfolder(std::u16string_view name) = 0;
  // Creates the subfolder of that name (one level) unless it exists, and opens
  // it as OpenSubfolder does; *created tells whether this call made it.
  // Linux: a new folder is private to its owner (0700) until its permission
  // bits are set. Null when it is neither created nor a real folder.
  virtual std::unique_ptr<FolderWalk> CreateSubfolder(std::u16string_view name, bool* created) = 0;
  // Copies the file of that name (a link to a file: the file it names) into
  // the target walk's folder under the same name, overwriting a file there, as
  // FileServices::CopyFileReplacing does. The target is a walk of the same
  // services.
  virtual bool CopyFileInto(std::u16string_view name, FolderWalk& target) = 0;
  // Which folder this is.
  virtual FolderIdentity Identity() = 0;
  // Linux: the folder's permission bits masked with 0777. Windows: 0 (a
  // folder's access comes from its parent's).
  virtual unsigned PermissionBits() = 0;
  // Linux: sets the folder's permission bits, masked with 0777 (never set-id
  // bits). Windows: does nothing and succeeds.
  virtual bool SetPermissionBits(unsigned bits) = 0;
  // Deletes the file or link of that name itself, never what a link names.
  // Windows: DeleteFileW (RemoveDirectoryW for a folder link).
  virtual bool DeleteEntry(std::u16string_view name) = 0;
  // Clears the read-only, hidden and system attributes of the entry.
  // Windows: SetFileAttributesW with 0. Linux: the owner's write permission
  // is added to a file. A link (Windows: a folder link) is left as it is and
  // counts as done.
  virtual bool ClearAttributes(std::u16string_view name) = 0;
  // Removes the empty real folder of that name.
  virtual bool RemoveSubfolder(std::u16string_view name) = 0;
  // Reads the file of that name whole into *bytes when it is a regular file
  // of at most maxBytes. It is opened without following a link and without
  // blocking (a FIFO or device is never waited on nor read), and its kind and
  // size are checked on the open handle. Linux: O_NOFOLLOW | O_NONBLOCK,
  // fstat. Windows: FILE_FLAG_OPEN_REPARSE_POINT, a disk file that is neither
  // a folder nor a reparse point.
  virtual FileRead ReadFile(std::u16string_view name, std::size_t maxBytes, std::string* bytes) = 0;
  // Writes the file of that name anew with exactly these bytes, creating it
  // when missing; opened as ReadFile opens it (never through a link, never
  // blocking). False, with nothing written, when the entry is not a regular
  // file, and when the open or a write fails.
  virtual bool WriteFile(std::u16string_view name, std::string_view bytes) = 0;
};

enum class FollowLink { No, Yes };

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

  // Opens a folder for a walk; null when it cannot be listed (missing, not a
  // folder, no access). With FollowLink::No a path that is itself a link (a
  // junction on Windows) is not opened. The walk owns what it opened.
  // Windows: FindFirstFileW on the folder + "*.*".
  virtual std::unique_ptr<FolderWalk> OpenFolder(std::u16string_view path, FollowLink follow) = 0;
  // Creates one folder; its parent must exist. Windows: CreateDirectoryW.
  virtual bool CreateFolder(std::u16string_view path) = 0;
  // Removes an empty folder, or a link (a junction) in its place, never what
  // the link names. Windows: RemoveDirectoryW.
  virtual bool RemoveFolder(std::u16string_view path) = 0;
  // Copies a file, overwriting an existing target file. Windows: CopyFileA
  // with both paths in the ANSI code page; a path the code page cannot hold
  // fails without a copy. Linux: the data through the kernel's copy offload,
  // the target keeps the source's permission bits; a target that is a link or
  // the source itself fails; a copy that fails once the target was emptied
  // (a full disk) removes it.
  virtual bool CopyFileReplacing(std::u16string_view source, std::u16string_view target) = 0;
  // The temporary folder, normally with a trailing delimiter; empty when the
  // system cannot tell. Windows: GetTempPathA. Linux: $TMPDIR when it names an
  // existing folder, else "/tmp/".
  virtual std::u16string TempFolder() = 0;
  // True when the path names a real folder (not a link or junction) owned by
  // this process's user (Windows: the token's user or its default owner).
  virtual bool IsOwnRealFolder(std::u16string_view path) = 0;
  // True when only this process's user and the administrator can change
  // where the path leads, so that another user cannot swap what it names
  // between two uses. Linux: every folder and link on its way, as the kernel
  // resolves it, belongs to this user or root, and a folder that others may
  // write to has the sticky bit; steps missing at the end count as trusted.
  // Windows: true (the temporary folder lies in the user's own profile).
  virtual bool IsTrustedPath(std::u16string_view path) = 0;
  // True when both paths name the same existing folder, whatever their
  // spelling. Linux: the same device and inode. Windows: the same volume serial
  // number and file index.
  virtual bool SameFolder(std::u16string_view first, std::u16string_view second) = 0;
  // True when the folder inner is the existing folder outer or lies anywhere
  // beneath it, told by identity (as SameFolder) wherever links on inner's
  // path lead. A missing inner stands for the nearest existing folder above
  // it by its text. Linux: inner's ".." chain up to the root. Windows: the
  // folders above inner's spelled full path and above its final path.
  virtual bool FolderContains(std::u16string_view outer, std::u16string_view inner) = 0;
};

// The real services of this platform. Lives for the whole process.
FileServices& SystemFiles();
// The services in use: the real ones unless a test put a fake in place.
inline FileServices& CurrentFiles() { return CurrentService<FileServices>(SystemFiles()); }
using ScopedFilesForTesting = ScopedServiceForTesting<FileServices>;

// The delimiters of this platform's paths: Windows "\" and drives with ":";
// Linux "/" and "\", no drives.
const common::PathDelimiters& PathDelimitersOfPlatform();
// The delimiters this platform's file system honours when it opens a path:
// Windows "\" and "/", drives with ":"; Linux as above.
const common::PathDelimiters& FileSystemDelimitersOfPlatform();

}  // namespace platform
