// Staging: the installer's folder copied into the temporary folder before the
// launch, its settings file's BootOption reset, and the removal afterwards.
#pragma once

#include <string>

#include "common/request.h"

namespace engine {

enum class StageOutcome {
  Launch,             // launch the returned path (staged, or unchanged when nothing was staged)
  Refused,            // the staged folder's place is not this user's real folder: launch nothing
  SettingsFileFailed, // the settings file could not be read or rewritten: the run ends here
};

struct StageResult {
  StageOutcome Outcome = StageOutcome::Launch;
  std::u16string LaunchPath;
};

// Stages the folder that request.StageSource names ("0": none; "1": the folder
// of launchPath, written back into StageSource) into the temporary folder
// under its last folder name, and returns the path to launch there. Sets
// stagedFolder (without a trailing delimiter) when it stages, and leaves it
// empty when nothing is staged: for "0", for a source without a last folder
// name, or when the temporary folder is unknown. A staged folder that exists
// is used only when it is this user's real folder; otherwise, or when it
// cannot be created, nothing is touched and the outcome is Refused.
StageResult StageToTemp(ExeParameter& request, const std::u16string& launchPath, std::u16string& stagedFolder);

// The temporary folder as the system reports it (normally with a trailing delimiter).
std::u16string GetTempFolder();

// CopyFiles with "/E" and no exclusions.
bool CopyFolderTree(const std::u16string& source, const std::u16string& target);

// Deletes every file and subfolder inside the folder and keeps the folder;
// true when everything went or there was nothing to list. Links are removed
// themselves, never followed, also when the folder itself is a link (it is
// then not listed).
bool EmptyFolder(const std::u16string& folder);

// EmptyFolder, then removes the folder itself (or the link in its place);
// true only when both succeeded.
bool DeleteFolder(const std::u16string& folder);

// Resets the BootOption lines of the file, writing it after each replacement
// when its attributes could be cleared. A missing file is left alone; false
// when an existing file cannot be read or rewritten.
bool ResetBootOption(const std::u16string& path);

}  // namespace engine
