// Paths, file attributes and file operations on Windows, through the
// wide-character API (copies through CopyFileA, as the system's contract says).
#include <windows.h>
#include <aclapi.h>

#include <algorithm>
#include <vector>

#include "platform/files.h"
#include "platform/scoped_handle.h"
#include "platform/text.h"
#include "platform/win32/wide.h"

namespace platform {
namespace {


struct FindTraits {
  using Type = HANDLE;
  static Type None() { return INVALID_HANDLE_VALUE; }
  static void Close(Type find) { ::FindClose(find); }
};
using UniqueFind = ScopedGeneric<FindTraits>;

struct FileHandleTraits {
  using Type = HANDLE;
  static Type None() { return INVALID_HANDLE_VALUE; }
  static void Close(Type file) { ::CloseHandle(file); }
};
using UniqueFile = ScopedGeneric<FileHandleTraits>;

constexpr DWORD kFolderLinkAttributes = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT;

DWORD AttributesOf(const std::u16string& path) { return GetFileAttributesW(Wide(path)); }

bool IsFolderLink(DWORD attributes) {
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & kFolderLinkAttributes) == kFolderLinkAttributes;
}

bool IsRealFolder(DWORD attributes) {
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & kFolderLinkAttributes) == FILE_ATTRIBUTE_DIRECTORY;
}

std::u16string WithDelimiter(std::u16string_view path) {
  return common::WithTrailingDelimiter(path, common::kWindowsPathDelimiters);
}

// The text in the ANSI code page, or false when a character has no exact
// equivalent there (a best-fit or default character would name another file).
bool ToAnsiExactly(std::u16string_view text, std::string* out);

// CopyFileA with both paths in the ANSI code page; a path the code page cannot
// hold fails without a copy.
bool CopyThroughAnsi(std::u16string_view source, std::u16string_view target) {
  std::string from;
  std::string to;
  if (!ToAnsiExactly(source, &from) || !ToAnsiExactly(target, &to)) {
    SetLastError(ERROR_NO_UNICODE_TRANSLATION);
    return false;
  }
  return CopyFileA(from.c_str(), to.c_str(), FALSE) != 0;
}

// A folder held open for listing and for reading its identity: others may
// read and write it but neither delete nor rename it while it is held, so its
// path keeps naming it.
UniqueFile HoldFolder(const std::u16string& path, bool followReparsePoint) {
  const DWORD flags = FILE_FLAG_BACKUP_SEMANTICS | (followReparsePoint ? 0 : FILE_FLAG_OPEN_REPARSE_POINT);
  return UniqueFile(CreateFileW(Wide(path), FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_EXISTING, flags, nullptr));
}

// The identity and attributes of an open handle; false when the system cannot tell.
bool IdentityOf(HANDLE handle, FolderIdentity* identity, DWORD* attributes) {
  BY_HANDLE_FILE_INFORMATION info{};
  if (!GetFileInformationByHandle(handle, &info)) return false;
  *identity = {info.dwVolumeSerialNumber, (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow};
  *attributes = info.dwFileAttributes;
  return true;
}

// True when the open handle is a file on disk that is neither a folder nor a
// reparse point (not a console, pipe or device); *size receives its size.
bool IsPlainDiskFile(HANDLE file, std::uint64_t* size) {
  BY_HANDLE_FILE_INFORMATION info{};
  if (GetFileType(file) != FILE_TYPE_DISK || !GetFileInformationByHandle(file, &info)) return false;
  if ((info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0) return false;
  *size = (static_cast<std::uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
  return true;
}

// Reads to the end, but never more than maxBytes (a file that grew past it
// fails), into *bytes.
bool ReadAtMost(HANDLE file, std::size_t maxBytes, std::string* bytes) {
  bytes->clear();
  char buffer[65536];
  for (;;) {
    DWORD got = 0;
    if (!::ReadFile(file, buffer, sizeof buffer, &got, nullptr)) return false;
    if (got == 0) return true;
    if (bytes->size() + got > maxBytes) return false;
    bytes->append(buffer, got);
  }
}

// Writes every byte from the file's current position.
bool WriteAllBytes(HANDLE file, std::string_view bytes) {
  while (!bytes.empty()) {
    DWORD written = 0;
    const DWORD size = static_cast<DWORD>(std::min<std::size_t>(bytes.size(), 1u << 30));
    if (!::WriteFile(file, bytes.data(), size, &written, nullptr) || written == 0) return false;
    bytes.remove_prefix(written);
  }
  return true;
}

// True when the text can only name an entry of the folder it is joined to:
// not empty, not "." or "..", and without a separator that the file system
// would follow into another folder ("\" and "/").
bool IsEntryName(std::u16string_view name) {
  return !name.empty() && name != u"." && name != u".." &&
         name.find_first_of(common::kWindowsFileSystemDelimiters.Separators) == std::u16string_view::npos;
}

// One folder held open and listed by FindFirstFileW/FindNextFileW; its
// entries are reached by the folder's path joined with their names, a path
// that keeps naming the held folder. A name that could lead elsewhere is
// refused by every call that takes one.
class Win32FolderWalk final : public FolderWalk {
 public:
  // Holds the folder; without following, a reparse point (a junction, a
  // folder link) is refused. Listed at once when asked (null when the listing
  // fails at its first entry), else at the first Next.
  static std::unique_ptr<Win32FolderWalk> Open(std::u16string_view folder, bool followReparsePoint, bool list) {
    auto walk = std::unique_ptr<Win32FolderWalk>(new Win32FolderWalk(WithDelimiter(folder)));
    walk->mHandle = HoldFolder(walk->mFolder, followReparsePoint);
    DWORD attributes = 0;
    if (!walk->mHandle.IsValid() || !IdentityOf(walk->mHandle.Get(), &walk->mIdentity, &attributes)) return nullptr;
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) return nullptr;
    if (!followReparsePoint) {
      if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) return nullptr;
      // Wine opens a Unix folder link as the folder it names even when asked
      // not to; its name still shows the link.
      if (IsFolderLink(AttributesOf(common::WithoutTrailingDelimiter(walk->mFolder, common::kWindowsPathDelimiters)))) {
        return nullptr;
      }
    }
    if (list && !walk->StartListing()) return nullptr;
    return walk;
  }

  bool Next(FolderEntry* entry) override {
    if (!mListed && !StartListing()) return false;
    if (!mPending) return false;
    entry->Name = reinterpret_cast<const char16_t*>(mData.cFileName);
    const DWORD attributes = mData.dwFileAttributes;
    entry->Kind = IsFolderLink(attributes) ? EntryKind::FolderLink
                  : (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? EntryKind::Folder
                                                                 : EntryKind::File;
    mPending = FindNextFileW(mFind.Get(), &mData) != 0;
    return true;
  }

  std::unique_ptr<FolderWalk> OpenSubfolder(std::u16string_view name) override {
    if (!IsEntryName(name)) return nullptr;
    return Open(Join(name), false, true);
  }

  std::unique_ptr<FolderWalk> CreateSubfolder(std::u16string_view name, bool* created) override {
    *created = false;
    if (!IsEntryName(name)) return nullptr;
    const std::u16string path = Join(name);
    *created = CreateDirectoryW(Wide(path), nullptr) != 0;
    return Open(path, false, false);
  }

  bool CopyFileInto(std::u16string_view name, FolderWalk& target) override {
    auto* into = dynamic_cast<Win32FolderWalk*>(&target);
    return into != nullptr && IsEntryName(name) && CopyThroughAnsi(Join(name), into->Join(name));
  }

  FolderIdentity Identity() override { return mIdentity; }
  unsigned PermissionBits() override { return 0; }
  bool SetPermissionBits(unsigned) override { return true; }

  bool DeleteEntry(std::u16string_view name) override {
    if (!IsEntryName(name)) return false;
    const std::u16string path = Join(name);
    // A folder link (junction) is removed as a folder; what it names stays.
    if (IsFolderLink(AttributesOf(path))) return RemoveDirectoryW(Wide(path)) != 0;
    return DeleteFileW(Wide(path)) != 0;
  }

  bool ClearAttributes(std::u16string_view name) override {
    if (!IsEntryName(name)) return false;
    const std::u16string path = Join(name);
    // A folder link is left as it is: under Wine the change would reach the folder it names.
    if (IsFolderLink(AttributesOf(path))) return true;
    return SetFileAttributesW(Wide(path), 0) != 0;
  }

  bool RemoveSubfolder(std::u16string_view name) override {
    return IsEntryName(name) && RemoveDirectoryW(Wide(Join(name))) != 0;
  }

  FileRead ReadFile(std::u16string_view name, std::size_t maxBytes, std::string* bytes) override {
    if (!IsEntryName(name)) return FileRead::Refused;
    const UniqueFile file(CreateFileW(Wide(Join(name)), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                      FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!file.IsValid()) {
      const DWORD error = GetLastError();
      return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? FileRead::Missing : FileRead::Refused;
    }
    std::uint64_t size = 0;
    if (!IsPlainDiskFile(file.Get(), &size) || size > maxBytes) return FileRead::Refused;
    return ReadAtMost(file.Get(), maxBytes, bytes) ? FileRead::Read : FileRead::Refused;
  }

  bool WriteFile(std::u16string_view name, std::string_view bytes) override {
    if (!IsEntryName(name)) return false;
    const UniqueFile file(CreateFileW(Wide(Join(name)), GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                                      FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    std::uint64_t size = 0;
    // Emptied only once the open file is known to be a plain disk file.
    if (!file.IsValid() || !IsPlainDiskFile(file.Get(), &size) || !SetEndOfFile(file.Get())) return false;
    return WriteAllBytes(file.Get(), bytes);
  }

 private:
  explicit Win32FolderWalk(std::u16string folder) : mFolder(std::move(folder)) {}
  std::u16string Join(std::u16string_view name) const { return mFolder + std::u16string(name); }

  bool StartListing() {
    mListed = true;
    const std::u16string pattern = mFolder + u"*.*";
    mFind.Reset(FindFirstFileW(Wide(pattern), &mData));
    mPending = mFind.IsValid();
    return mPending;
  }

  std::u16string mFolder;  // with a trailing delimiter
  UniqueFile mHandle;      // the folder, held while the walk lasts
  FolderIdentity mIdentity;
  UniqueFind mFind;
  WIN32_FIND_DATAW mData{};
  bool mListed = false;
  bool mPending = false;  // mData holds an entry not yet returned
};

// The text in the ANSI code page, or false when a character has no exact
// equivalent there (a best-fit or default character would name another file).
bool ToAnsiExactly(std::u16string_view text, std::string* out) {
  out->clear();
  if (text.empty()) return true;
  const auto* wide = WideUnits(text);
  const int size = static_cast<int>(text.size());
  BOOL usedDefault = FALSE;
  const int length = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide, size, nullptr, 0, nullptr, &usedDefault);
  if (length <= 0 || usedDefault) return false;
  out->assign(static_cast<std::size_t>(length), '\0');
  WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide, size, out->data(), length, nullptr, &usedDefault);
  return !usedDefault;
}

// The security identifiers that may own this user's folders: the token's user
// and its default owner (an elevated administrator's default owner is the
// Administrators group).
std::vector<std::vector<BYTE>> OwnSids() {
  std::vector<std::vector<BYTE>> sids;
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return sids;
  for (const TOKEN_INFORMATION_CLASS kind : {TokenUser, TokenOwner}) {
    DWORD size = 0;
    GetTokenInformation(token, kind, nullptr, 0, &size);
    std::vector<BYTE> buffer(size);
    if (size == 0 || !GetTokenInformation(token, kind, buffer.data(), size, &size)) continue;
    PSID sid = kind == TokenUser ? reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid
                                 : reinterpret_cast<TOKEN_OWNER*>(buffer.data())->Owner;
    const DWORD length = GetLengthSid(sid);
    const BYTE* first = static_cast<const BYTE*>(sid);
    sids.emplace_back(first, first + length);
  }
  ::CloseHandle(token);
  return sids;
}

class Win32Files final : public FileServices {
 public:
  std::u16string OwnExecutablePath() override;
  std::u16string FullPathName(std::u16string_view path) override;
  PathKind GetPathKind(std::u16string_view path) override;
  std::unique_ptr<FolderWalk> OpenFolder(std::u16string_view path, FollowLink follow) override;
  bool CreateFolder(std::u16string_view path) override;
  bool RemoveFolder(std::u16string_view path) override;
  bool CopyFileReplacing(std::u16string_view source, std::u16string_view target) override;
  std::u16string TempFolder() override;
  bool IsOwnRealFolder(std::u16string_view path) override;
  bool IsTrustedPath(std::u16string_view) override { return true; }
  bool SameFolder(std::u16string_view first, std::u16string_view second) override;
  bool FolderContains(std::u16string_view outer, std::u16string_view inner) override;
};

}  // namespace

FileServices& SystemFiles() {
  static Win32Files* const files = new Win32Files();  // lives for the process
  return *files;
}

const common::PathDelimiters& PathDelimitersOfPlatform() { return common::kWindowsPathDelimiters; }
const common::PathDelimiters& FileSystemDelimitersOfPlatform() { return common::kWindowsFileSystemDelimiters; }

std::u16string Win32Files::OwnExecutablePath() {
  std::u16string buffer(MAX_PATH, u'\0');
  for (;;) {
    const DWORD length = GetModuleFileNameW(nullptr, Wide(buffer), static_cast<DWORD>(buffer.size()));
    if (length == 0) return {};
    // A full buffer means the name may have been cut: try again with more room.
    if (length < buffer.size()) {
      buffer.resize(length);
      return buffer;
    }
    buffer.resize(buffer.size() * 2);
  }
}

std::u16string Win32Files::FullPathName(std::u16string_view path) {
  const std::u16string input(path);
  std::u16string buffer(MAX_PATH, u'\0');
  for (;;) {
    const DWORD length = GetFullPathNameW(Wide(input), static_cast<DWORD>(buffer.size()), Wide(buffer), nullptr);
    if (length == 0) return {};
    // Too small a buffer: the result is the size needed, terminator included.
    if (length < buffer.size()) {
      buffer.resize(length);
      return buffer;
    }
    buffer.resize(length);
  }
}

PathKind Win32Files::GetPathKind(std::u16string_view path) {
  const DWORD attributes = GetFileAttributesW(Wide(std::u16string(path)));
  if (attributes == INVALID_FILE_ATTRIBUTES) return PathKind::Missing;
  return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? PathKind::Folder : PathKind::File;
}

std::unique_ptr<FolderWalk> Win32Files::OpenFolder(std::u16string_view path, FollowLink follow) {
  const std::u16string folder(path);
  if (follow == FollowLink::No && IsFolderLink(AttributesOf(common::WithoutTrailingDelimiter(
                                      folder, common::kWindowsPathDelimiters)))) {
    return nullptr;
  }
  return Win32FolderWalk::Open(folder, follow == FollowLink::Yes, true);
}

bool Win32Files::CreateFolder(std::u16string_view path) {
  return CreateDirectoryW(Wide(std::u16string(path)), nullptr) != 0;
}

bool Win32Files::RemoveFolder(std::u16string_view path) {
  return RemoveDirectoryW(Wide(std::u16string(path))) != 0;
}

bool Win32Files::CopyFileReplacing(std::u16string_view source, std::u16string_view target) {
  return CopyThroughAnsi(source, target);
}

std::u16string Win32Files::TempFolder() {
  char buffer[MAX_PATH] = {};
  const DWORD length = GetTempPathA(MAX_PATH, buffer);
  if (length == 0 || length >= MAX_PATH) return {};
  return AnsiToWide(std::string_view(buffer, length));
}

bool Win32Files::IsOwnRealFolder(std::u16string_view path) {
  const std::u16string folder = common::WithoutTrailingDelimiter(path, common::kWindowsPathDelimiters);
  if (!IsRealFolder(AttributesOf(folder))) return false;
  PSID owner = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (GetNamedSecurityInfoW(Wide(folder), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr, nullptr,
                            nullptr, &descriptor) != ERROR_SUCCESS) {
    return false;
  }
  bool own = false;
  for (std::vector<BYTE>& sid : OwnSids()) {
    if (owner != nullptr && EqualSid(owner, sid.data())) own = true;
  }
  LocalFree(descriptor);
  return own;
}

bool Win32Files::SameFolder(std::u16string_view first, std::u16string_view second) {
  // By identity, not by spelling: a ".." detour, another letter case, a short
  // name or another drive letter for the same folder names the same folder.
  FolderIdentity a;
  FolderIdentity b;
  DWORD attributes = 0;
  const UniqueFile one = HoldFolder(std::u16string(first), true);
  if (!one.IsValid() || !IdentityOf(one.Get(), &a, &attributes) || (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
    return false;
  }
  const UniqueFile two = HoldFolder(std::u16string(second), true);
  return two.IsValid() && IdentityOf(two.Get(), &b, &attributes) && a == b;
}

bool Win32Files::FolderContains(std::u16string_view outer, std::u16string_view inner) {
  FolderIdentity wanted;
  DWORD attributes = 0;
  const UniqueFile top = HoldFolder(std::u16string(outer), true);
  if (!top.IsValid() || !IdentityOf(top.Get(), &wanted, &attributes) || (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
    return false;
  }
  // The spelled path, and where the folder really lies (its final path:
  // junctions on the way resolved).
  std::vector<std::u16string> starts{FullPathName(inner)};
  const UniqueFile held = HoldFolder(std::u16string(inner), true);
  if (held.IsValid()) {
    std::u16string resolved(32768, u'\0');
    const DWORD length = GetFinalPathNameByHandleW(held.Get(), Wide(resolved), static_cast<DWORD>(resolved.size()),
                                                   FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    if (length > 0 && length < resolved.size()) {
      resolved.resize(length);
      if (resolved.rfind(u"\\\\?\\", 0) == 0 && resolved.size() >= 6 && resolved[5] == u':') resolved.erase(0, 4);
      starts.push_back(resolved);
    }
  }
  for (const std::u16string& start : starts) {
    std::u16string folder = common::WithoutTrailingDelimiter(start, common::kWindowsPathDelimiters);
    while (!folder.empty()) {
      // A bare drive ("C:") would name that drive's current folder: its root is meant.
      const std::u16string spelled = folder.back() == u':' ? WithDelimiter(folder) : folder;
      const UniqueFile here = HoldFolder(spelled, true);
      FolderIdentity identity;
      if (here.IsValid() && IdentityOf(here.Get(), &identity, &attributes) && identity == wanted) return true;
      const std::u16string up =
          common::WithoutTrailingDelimiter(common::FolderPart(folder, common::kWindowsPathDelimiters),
                                           common::kWindowsPathDelimiters);
      if (up == folder) break;
      folder = up;
    }
  }
  return false;
}

}  // namespace platform
