// Staging in the temporary folder, and the removal of a staged folder.
#include "engine/staging.h"

#include <memory>
#include <vector>

#include "engine/copy_files.h"
#include "engine/settings_file.h"
#include "framework/paths.h"
#include "platform/files.h"

namespace engine {
namespace {

constexpr std::u16string_view kNoStaging = u"0";
constexpr std::u16string_view kStageLaunchFolder = u"1";

// The last folder name of the source names the staged folder; one that would
// name the temporary folder itself or a folder outside it stages nothing.
bool NamesFolderInside(const std::u16string& name) { return !name.empty() && name != u"." && name != u".."; }

// True when folder, made absolute, lies directly inside the temporary folder.
bool LiesDirectlyInside(const std::u16string& folder, const std::u16string& tempFolder) {
  const std::u16string full = ExcludeTrailingPathDelimiter(ExpandFileName(folder));
  const std::u16string temp = IncludeTrailingPathDelimiter(ExpandFileName(tempFolder));
  return !full.empty() && !ExtractFileName(full).empty() && ExtractFilePath(full) == temp;
}

// Readies the staged folder: an existing one is emptied when it is this
// user's real folder, a missing one is created. False when neither holds.
bool PrepareStagedFolder(const std::u16string& folder) {
  platform::FileServices& files = platform::CurrentFiles();
  if (files.IsOwnRealFolder(folder)) {
    EmptyFolder(folder);
    return true;
  }
  return files.CreateFolder(folder);
}

// Empties an open folder: real subfolders are deleted with their content,
// every other entry (files and links) is deleted itself, with a second try
// after its attributes were cleared.
bool EmptyOpenFolder(platform::FolderWalk& folder);

bool DeleteSubfolder(platform::FolderWalk& parent, const std::u16string& name) {
  {
    const std::unique_ptr<platform::FolderWalk> subfolder = parent.OpenSubfolder(name);
    if (subfolder != nullptr && !EmptyOpenFolder(*subfolder)) return false;
  }  // the listing is released before the folder goes
  return parent.RemoveSubfolder(name);
}

bool EmptyOpenFolder(platform::FolderWalk& folder) {
  platform::FolderEntry entry;
  while (folder.Next(&entry)) {
    if (entry.Name == u"." || entry.Name == u"..") continue;
    if (entry.Kind == platform::EntryKind::Folder) {
      if (!DeleteSubfolder(folder, entry.Name)) return false;
    } else if (!folder.DeleteEntry(entry.Name)) {
      if (!folder.ClearAttributes(entry.Name) || !folder.DeleteEntry(entry.Name)) return false;
    }
  }
  return true;
}

}  // namespace

StageResult StageToTemp(ExeParameter& request, const std::u16string& launchPath, std::u16string& stagedFolder) {
  stagedFolder.clear();
  const StageResult unchanged{StageOutcome::Launch, launchPath};
  if (request.StageSource == kNoStaging) return unchanged;
  if (request.StageSource == kStageLaunchFolder) request.StageSource = ExtractFilePath(ExpandFileName(launchPath));

  const std::u16string name = ExtractFileName(ExcludeTrailingPathDelimiter(request.StageSource));
  const std::u16string temp = GetTempFolder();
  const std::u16string folder = IncludeTrailingPathDelimiter(temp) + name;
  if (temp.empty() || !NamesFolderInside(name) || !LiesDirectlyInside(folder, temp)) return unchanged;
  // A source that already is the staged folder would be emptied before it is copied.
  if (platform::CurrentFiles().SameFolder(folder, ExtractFilePath(request.StageSource))) return unchanged;

  if (!PrepareStagedFolder(folder)) return {StageOutcome::Refused, launchPath};
  stagedFolder = folder;
  CopyFolderTree(request.StageSource, stagedFolder);
  if (!request.BootOptionFile.empty() &&
      !ResetBootOption(IncludeTrailingPathDelimiter(stagedFolder) + request.BootOptionFile)) {
    return {StageOutcome::SettingsFileFailed, launchPath};
  }
  return {StageOutcome::Launch, IncludeTrailingPathDelimiter(stagedFolder) + ExtractFileName(launchPath)};
}

std::u16string GetTempFolder() { return platform::CurrentFiles().TempFolder(); }

bool CopyFolderTree(const std::u16string& source, const std::u16string& target) {
  return CopyFiles(source, target, u"/E", u"");
}

bool EmptyFolder(const std::u16string& folder) {
  const std::unique_ptr<platform::FolderWalk> walk =
      platform::CurrentFiles().OpenFolder(IncludeTrailingPathDelimiter(folder), platform::FollowLink::No);
  return walk == nullptr || EmptyOpenFolder(*walk);
}

bool DeleteFolder(const std::u16string& folder) {
  return EmptyFolder(folder) && platform::CurrentFiles().RemoveFolder(ExcludeTrailingPathDelimiter(folder));
}

bool ResetBootOption(const std::u16string& path) {
  platform::FileServices& files = platform::CurrentFiles();
  if (!FileExists(path)) return true;
  std::string bytes;
  if (!files.ReadWholeFile(path, &bytes)) return false;
  std::vector<std::u16string> lines = SplitSettingsLines(DecodeSettingsText(bytes));
  for (std::u16string& line : lines) {
    if (!ResetBootOptionLine(line)) continue;
    // Attributes that cannot be cleared leave this replacement to a later write.
    if (files.ClearAttributes(path) && !files.WriteWholeFile(path, EncodeSettingsLines(lines))) return false;
  }
  return true;
}

}  // namespace engine
