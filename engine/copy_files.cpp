// The copy engine behind copy requests and staging.
#include "engine/copy_files.h"

#include <vector>

#include "engine/comma_text.h"
#include "framework/paths.h"
#include "framework/sysutils.h"
#include "platform/files.h"

namespace engine {
namespace {

constexpr std::u16string_view kRecurseFlag = u"/E";
constexpr std::u16string_view kEveryEntry = u"*.*";

// One copy of a folder specification and its subfolders.
struct FolderCopy {
  bool Recurse = false;
  std::u16string Exclusions;
  std::u16string OutermostTarget;  // no walk descends into it
};

bool CopyFolderSpecification(const std::u16string& source, const std::u16string& target, const FolderCopy& copy);

// A subfolder entry is copied only with "/E", when it is a real folder, not
// excluded, and not the folder that the whole copy goes into.
bool CopiesSubfolder(platform::EntryKind kind, const std::u16string& path, const FolderCopy& copy) {
  return copy.Recurse && kind == platform::EntryKind::Folder && !IsExcluded(path, copy.Exclusions) &&
         !platform::CurrentFiles().SameFolder(path, copy.OutermostTarget);
}

bool CopyFolderEntries(const std::u16string& sourceFolder, const std::u16string& targetFolder,
                       const FolderCopy& copy) {
  platform::FileServices& files = platform::CurrentFiles();
  const std::unique_ptr<platform::FolderWalk> walk =
      files.OpenFolder(IncludeTrailingPathDelimiter(sourceFolder), platform::FollowLink::Yes);
  if (walk == nullptr) return false;
  platform::FolderEntry entry;
  while (walk->Next(&entry)) {
    if (entry.Name == u"." || entry.Name == u"..") continue;
    const std::u16string s = IncludeTrailingPathDelimiter(sourceFolder) + entry.Name;
    const std::u16string d = IncludeTrailingPathDelimiter(targetFolder) + entry.Name;
    if (entry.Kind != platform::EntryKind::File) {
      if (!CopiesSubfolder(entry.Kind, s, copy)) continue;
      files.CreateFolder(d);
      CopyFolderSpecification(IncludeTrailingPathDelimiter(s) + std::u16string(kEveryEntry), d, copy);
    } else if (!CopyOneFile(s, d, copy.Exclusions)) {
      return false;
    }
  }
  return true;
}

bool CopyFolderSpecification(const std::u16string& source, const std::u16string& target, const FolderCopy& copy) {
  ForceFolder(target);
  return CopyFolderEntries(ExtractFilePath(source), target, copy);
}

}  // namespace

bool RunCopyFile(const std::u16string& parameters) {
  const std::vector<std::u16string> items = SplitCommaText(parameters);
  if (items.size() < 2) return false;
  const std::u16string flags = items.size() >= 3 ? items[2] : std::u16string();
  const std::u16string exclusions = items.size() >= 4 ? items[3] : std::u16string();
  return CopyFiles(items[0], items[1], flags, exclusions);
}

bool CopyFiles(const std::u16string& source, const std::u16string& target, const std::u16string& flags,
               const std::u16string& exclusions) {
  if (FileExists(source)) {
    std::u16string file = target;
    if (DirectoryExists(target)) file = IncludeTrailingPathDelimiter(target) + ExtractFileName(source);
    return CopyOneFile(source, file, exclusions);
  }
  const FolderCopy copy{Pos(kRecurseFlag, AnsiUpperCase(flags)) > 0, exclusions, target};
  return CopyFolderSpecification(source, target, copy);
}

void ForceFolder(const std::u16string& folder) {
  const std::u16string path = ExcludeTrailingPathDelimiter(folder);
  if (path.empty() || path == ExtractFilePath(path) || DirectoryExists(path)) return;
  platform::FileServices& files = platform::CurrentFiles();
  if (files.CreateFolder(path)) return;
  ForceFolder(ExtractFilePath(path));
  files.CreateFolder(path);
}

bool CopyOneFile(const std::u16string& source, const std::u16string& target, const std::u16string& exclusions) {
  if (IsExcluded(source, exclusions)) return true;
  return platform::CurrentFiles().CopyFileReplacing(source, target);
}

bool IsExcluded(const std::u16string& path, const std::u16string& exclusions) {
  if (exclusions.empty()) return false;
  const std::u16string wanted = AnsiUpperCase(path);
  for (const std::u16string& item : SplitCommaText(exclusions)) {
    if (AnsiUpperCase(item) == wanted) return true;
  }
  return false;
}

}  // namespace engine
