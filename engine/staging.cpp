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

// The staged folder is private to its owner, whatever the source's access:
// nobody else can add to or read it while the installer runs.
constexpr unsigned kStagedFolderBits = 0700;

void MakePrivate(const std::u16string& folder) {
  const std::unique_ptr<platform::FolderWalk> walk =
      platform::CurrentFiles().OpenFolder(IncludeTrailingPathDelimiter(folder), platform::FollowLink::No);
  if (walk != nullptr) walk->SetPermissionBits(kStagedFolderBits);
}

// Empties an open folder: real subfolders are deleted with their content,
// every other entry (files and links) is deleted itself, with a second try
// after its attributes were cleared. An entry that cannot be deleted is left
// and the walk goes on; false when one was left.
bool EmptyOpenFolder(platform::FolderWalk& folder);

bool DeleteSubfolder(platform::FolderWalk& parent, const std::u16string& name) {
  // A read-only folder (Windows) or one without its owner's write permission
  // (Linux) would keep its entries or itself.
  parent.ClearAttributes(name);
  bool emptied = true;
  {
    const std::unique_ptr<platform::FolderWalk> subfolder = parent.OpenSubfolder(name);
    if (subfolder != nullptr) emptied = EmptyOpenFolder(*subfolder);
  }  // the listing is released before the folder goes
  return emptied && parent.RemoveSubfolder(name);
}

bool EmptyOpenFolder(platform::FolderWalk& folder) {
  bool everything = true;
  platform::FolderEntry entry;
  while (folder.Next(&entry)) {
    if (entry.Name == u"." || entry.Name == u"..") continue;
    if (entry.Kind == platform::EntryKind::Folder) {
      if (!DeleteSubfolder(folder, entry.Name)) everything = false;
    } else if (!folder.DeleteEntry(entry.Name)) {
      if (!folder.ClearAttributes(entry.Name) || !folder.DeleteEntry(entry.Name)) everything = false;
    }
  }
  return everything;
}

bool StopRequested(const StopRequest& stop) { return stop && stop(); }

}  // namespace

StageResult StageToTemp(ExeParameter& request, const std::u16string& launchPath, std::u16string& stagedFolder,
                        const StopRequest& stop) {
  stagedFolder.clear();
  const StageResult unchanged{StageOutcome::Launch, launchPath};
  const StageResult refused{StageOutcome::Refused, launchPath};
  if (request.StageSource == kNoStaging || request.StageSource.empty()) return unchanged;
  if (request.StageSource == kStageLaunchFolder) request.StageSource = ExtractFilePath(ExpandFileName(launchPath));
  // Split as the copy splits its source: where the file system splits a path
  // (on Windows at "/" too). A bare name, or one after only a drive, names no
  // folder: the copy would stand for the root.
  const common::PathDelimiters& opened = platform::FileSystemDelimitersOfPlatform();
  const std::u16string sourceFolder = SourceFolderOf(request.StageSource);
  if (sourceFolder.empty()) return refused;

  const std::u16string name =
      common::FileNamePart(common::WithoutTrailingDelimiter(request.StageSource, opened), opened);
  const std::u16string temp = GetTempFolder();
  const std::u16string folder = IncludeTrailingPathDelimiter(temp) + name;
  if (temp.empty() || !NamesFolderInside(name) || !LiesDirectlyInside(folder, temp)) return unchanged;

  platform::FileServices& files = platform::CurrentFiles();
  // In a temporary folder that another user can change, the staged folder
  // could be swapped for theirs between the copy and the launch.
  if (!files.IsTrustedPath(temp)) return refused;
  // Nothing touches the staged folder's place before it is known to be this user's real folder.
  const bool reused = files.IsOwnRealFolder(folder);
  // Emptying it would delete the source; making it inside the source would change the source.
  if (reused && files.FolderContains(folder, sourceFolder)) return refused;
  if (files.FolderContains(sourceFolder, temp)) return refused;
  if (!reused) {
    if (!DirectoryExists(temp)) {
      ForceFolder(temp);
      if (!files.IsTrustedPath(temp)) return refused;  // another user made a step of it first
    }
    if (!files.CreateFolder(folder)) return refused;
  }
  stagedFolder = folder;
  MakePrivate(folder);
  if (reused) EmptyFolder(folder);

  // What this run staged goes again when nothing will be launched from it.
  const auto undo = [&](StageOutcome outcome) {
    DeleteFolder(folder);
    stagedFolder.clear();
    return StageResult{outcome, launchPath};
  };
  CopyFolderTree(request.StageSource, folder, stop);
  if (StopRequested(stop)) return undo(StageOutcome::Stopped);
  if (!request.BootOptionFile.empty()) {
    const ResetOutcome reset = ResetBootOption(folder, request.BootOptionFile, stop);
    if (reset == ResetOutcome::Failed) return undo(StageOutcome::SettingsFileFailed);
    if (reset == ResetOutcome::Stopped || StopRequested(stop)) return undo(StageOutcome::Stopped);
  }
  return {StageOutcome::Launch, IncludeTrailingPathDelimiter(folder) + common::FileNamePart(launchPath, opened)};
}

std::u16string GetTempFolder() { return platform::CurrentFiles().TempFolder(); }

bool CopyFolderTree(const std::u16string& source, const std::u16string& target, const StopRequest& stop) {
  return CopyFiles(source, target, u"/E", u"", stop);
}

bool EmptyFolder(const std::u16string& folder) {
  const std::unique_ptr<platform::FolderWalk> walk =
      platform::CurrentFiles().OpenFolder(IncludeTrailingPathDelimiter(folder), platform::FollowLink::No);
  return walk == nullptr || EmptyOpenFolder(*walk);
}

bool DeleteFolder(const std::u16string& folder) {
  return EmptyFolder(folder) && platform::CurrentFiles().RemoveFolder(ExcludeTrailingPathDelimiter(folder));
}

ResetOutcome ResetBootOption(const std::u16string& folder, const std::u16string& name, const StopRequest& stop) {
  std::vector<std::u16string> steps;
  // Split as the file system would read the name: on Windows "/" leads into
  // (or out of) a folder just as "\" does.
  if (!SettingsFileSteps(name, platform::FileSystemDelimitersOfPlatform(), &steps)) return ResetOutcome::Failed;
  std::unique_ptr<platform::FolderWalk> walk =
      platform::CurrentFiles().OpenFolder(IncludeTrailingPathDelimiter(folder), platform::FollowLink::No);
  if (walk == nullptr) return ResetOutcome::Failed;
  for (std::size_t i = 0; i + 1 < steps.size(); ++i) {
    walk = walk->OpenSubfolder(steps[i]);
    if (walk == nullptr) return ResetOutcome::Done;  // no such real folder: no such file
  }
  const std::u16string& file = steps.back();
  std::string bytes;
  switch (walk->ReadFile(file, kMaxSettingsFileBytes, &bytes)) {
    case platform::FileRead::Missing:
      return ResetOutcome::Done;
    case platform::FileRead::Refused:
      return ResetOutcome::Failed;
    case platform::FileRead::Read:
      break;
  }
  std::vector<std::u16string> lines = SplitSettingsLines(DecodeSettingsText(bytes));
  if (ResetBootOptionLines(lines) == 0) return ResetOutcome::Done;
  if (StopRequested(stop)) return ResetOutcome::Stopped;
  // Attributes that cannot be cleared leave the file as it was.
  if (!walk->ClearAttributes(file)) return ResetOutcome::Done;
  return walk->WriteFile(file, EncodeSettingsLines(lines)) ? ResetOutcome::Done : ResetOutcome::Failed;
}

}  // namespace engine
