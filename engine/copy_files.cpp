// The copy engine behind copy requests and staging.
#include "engine/copy_files.h"

#include <memory>
#include <vector>

#include "engine/comma_text.h"
#include "framework/paths.h"
#include "framework/sysutils.h"
#include "platform/files.h"

namespace engine {
namespace {

constexpr std::u16string_view kRecurseFlag = u"/E";

// One copy of a folder specification and its subfolders.
struct FolderCopy {
  bool Recurse = false;
  ExclusionSet Exclusions;
  platform::FolderIdentity Target;  // the outermost target folder: no walk descends into it
  bool Complete = true;             // false once an entry was left out without a try
  std::function<bool()> Stop;       // asked before each entry; may be empty
  bool Stopped = false;             // Stop answered true: every walk ends

  bool StopNow() {
    if (!Stopped && Stop) Stopped = Stop();
    return Stopped;
  }
};

bool CopyOpenFolder(platform::FolderWalk& source, const std::u16string& sourceFolder, platform::FolderWalk& target,
                    FolderCopy& copy);

// Copies a real subfolder into a subfolder of the same name of the target,
// both opened relative to their open parents without following a link. A
// subfolder that cannot be opened (swapped for a link, unlistable, or deeper
// than the open descriptors allow) or whose target cannot be made is left
// out, and the copy reports it at the end; failures inside it are not
// reported.
void CopySubfolder(platform::FolderWalk& source, const std::u16string& name, const std::u16string& path,
                   platform::FolderWalk& target, FolderCopy& copy) {
  const std::unique_ptr<platform::FolderWalk> from = source.OpenSubfolder(name);
  if (from == nullptr) {
    copy.Complete = false;
    return;
  }
  if (from->Identity() == copy.Target) return;  // the folder being copied into
  bool created = false;
  const std::unique_ptr<platform::FolderWalk> into = target.CreateSubfolder(name, &created);
  if (into == nullptr) {
    copy.Complete = false;
    return;
  }
  // A folder the copy makes never grants more than its source; one that was
  // there keeps its mode.
  if (created) into->SetPermissionBits(from->PermissionBits());
  CopyOpenFolder(*from, IncludeTrailingPathDelimiter(path), *into, copy);
}

// The entries of an open source folder (its path with a trailing delimiter
// names the entries for the exclusions) into the open target folder. False at
// the first file of this folder's own entries that fails to copy.
bool CopyOpenFolder(platform::FolderWalk& source, const std::u16string& sourceFolder, platform::FolderWalk& target,
                    FolderCopy& copy) {
  platform::FolderEntry entry;
  while (source.Next(&entry)) {
    if (entry.Name == u"." || entry.Name == u"..") continue;
    if (copy.StopNow()) return false;
    const std::u16string path = sourceFolder + entry.Name;
    switch (entry.Kind) {
      case platform::EntryKind::File:
        if (!copy.Exclusions.Contains(path) && !source.CopyFileInto(entry.Name, target)) return false;
        break;
      case platform::EntryKind::Folder:
        if (copy.Recurse && !copy.Exclusions.Contains(path)) CopySubfolder(source, entry.Name, path, target, copy);
        break;
      case platform::EntryKind::FolderLink:
        break;  // links to folders are never copied
      case platform::EntryKind::Other:
        copy.Complete = false;  // a FIFO, socket, device or broken link: never opened
        break;
    }
  }
  return true;
}

// A folder specification: the entries of its folder part into the target
// folder, created with its missing parents. A source without a folder part,
// or with only a drive, copies nothing (SourceFolderOf).
bool CopyFolderSpecification(const std::u16string& source, const std::u16string& target, FolderCopy& copy) {
  const std::u16string sourceFolder = SourceFolderOf(source);
  if (sourceFolder.empty() || target.empty()) return false;
  platform::FileServices& files = platform::CurrentFiles();
  const bool targetExisted = DirectoryExists(target);
  ForceFolder(target);
  const std::unique_ptr<platform::FolderWalk> from =
      files.OpenFolder(sourceFolder, platform::FollowLink::Yes);
  if (from == nullptr) return false;
  const std::unique_ptr<platform::FolderWalk> into =
      files.OpenFolder(IncludeTrailingPathDelimiter(target), platform::FollowLink::Yes);
  if (into == nullptr) return false;
  if (!targetExisted) into->SetPermissionBits(from->PermissionBits());
  copy.Target = into->Identity();
  return CopyOpenFolder(*from, sourceFolder, *into, copy) && copy.Complete &&
         !copy.Stopped;
}

}  // namespace

ExclusionSet::ExclusionSet(const std::u16string& exclusions) {
  if (exclusions.empty()) return;
  for (const std::u16string& item : SplitCommaText(exclusions)) mPaths.insert(AnsiUpperCase(item));
}

bool ExclusionSet::Contains(const std::u16string& path) const {
  return !mPaths.empty() && mPaths.count(AnsiUpperCase(path)) != 0;
}

std::u16string SourceFolderOf(std::u16string_view source) {
  const common::PathDelimiters& delimiters = platform::FileSystemDelimitersOfPlatform();
  const std::u16string folder = common::FolderPart(source, delimiters);
  // Only a drive ("C:"): its delimiter would make it the drive's root.
  if (folder.empty() || !common::IsSeparator(folder.back(), delimiters)) return {};
  return folder;
}

bool RunCopyFile(const std::u16string& parameters) {
  const std::vector<std::u16string> items = SplitCommaText(parameters);
  if (items.size() < 2) return false;
  const std::u16string flags = items.size() >= 3 ? items[2] : std::u16string();
  const std::u16string exclusions = items.size() >= 4 ? items[3] : std::u16string();
  return CopyFiles(items[0], items[1], flags, exclusions);
}

bool CopyFiles(const std::u16string& source, const std::u16string& target, const std::u16string& flags,
               const std::u16string& exclusions, const std::function<bool()>& stop) {
  if (FileExists(source)) {
    std::u16string file = target;
    if (DirectoryExists(target)) {
      file = IncludeTrailingPathDelimiter(target) +
             common::FileNamePart(source, platform::FileSystemDelimitersOfPlatform());
    }
    return CopyOneFile(source, file, exclusions);
  }
  FolderCopy copy{Pos(kRecurseFlag, AnsiUpperCase(flags)) > 0, ExclusionSet(exclusions), {}, true, stop, false};
  return CopyFolderSpecification(source, target, copy);
}

namespace {

// Creates a full path's missing folders, the deepest last.
void ForceFullFolder(const std::u16string& folder) {
  const std::u16string path = ExcludeTrailingPathDelimiter(folder);
  if (path.empty() || path == ExtractFilePath(path) || DirectoryExists(path)) return;
  platform::FileServices& files = platform::CurrentFiles();
  if (files.CreateFolder(path)) return;
  ForceFullFolder(ExtractFilePath(path));
  files.CreateFolder(path);
}

}  // namespace

void ForceFolder(const std::u16string& folder) {
  // Made full first, so that "." and ".." steps are resolved: a target
  // spelled "a/../b" never creates "a" on the way up.
  const std::u16string full = ExpandFileName(folder);
  if (!full.empty()) ForceFullFolder(full);
}

bool CopyOneFile(const std::u16string& source, const std::u16string& target, const std::u16string& exclusions) {
  if (IsExcluded(source, exclusions)) return true;
  return platform::CurrentFiles().CopyFileReplacing(source, target);
}

bool IsExcluded(const std::u16string& path, const std::u16string& exclusions) {
  return ExclusionSet(exclusions).Contains(path);
}

}  // namespace engine
