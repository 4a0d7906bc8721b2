// Staging: the installer's folder copied into the temporary folder before the
// launch, its settings file's BootOption reset, and the removal afterwards.
#pragma once

#include <functional>
#include <string>

#include "common/request.h"

namespace engine {

enum class StageOutcome {
  Launch,             // launch the returned path (staged, or unchanged when nothing was staged)
  Refused,            // the source or the staged folder's place cannot be staged safely: launch nothing
  SettingsFileFailed, // the settings file could not be read or rewritten: the run ends here
  Stopped,            // a termination request stopped the staging: launch nothing
};

struct StageResult {
  StageOutcome Outcome = StageOutcome::Launch;
  std::u16string LaunchPath;
};

// Asked between the entries of the copy and around the settings file: true
// once staging must stop.
using StopRequest = std::function<bool()>;

// Stages the folder that request.StageSource names ("0" or empty: none; "1":
// the folder of launchPath, written back into StageSource) into the
// temporary folder under its last folder name, and returns the path to
// launch there (StageSource and launchPath are split as the copy splits its
// source: on Windows at "/" too). Sets stagedFolder (without a trailing
// delimiter) when it stages, and leaves it empty when nothing is staged: for
// "0" or empty, for a source without a last folder name, or when the
// temporary folder is unknown. Refused, with nothing touched: a source
// without a folder part (a bare name, or a name after only a drive:
// SourceFolderOf); a temporary folder that another user could change
// (IsTrustedPath: one that is theirs, lies in theirs, or is reached through
// their link); a staged folder's place that is not this user's real folder (a
// link, someone else's folder, a file) or cannot be created; a source that is
// the staged folder or lies inside it; a staged folder that would lie inside
// the source. The ownership check comes before anything else touches the
// staged folder. A missing temporary folder is created with its parents. The
// staged folder is private to its owner. On Refused, SettingsFileFailed and
// Stopped, whatever this call staged is removed again and stagedFolder is
// left empty.
StageResult StageToTemp(ExeParameter& request, const std::u16string& launchPath, std::u16string& stagedFolder,
                        const StopRequest& stop = {});

// The temporary folder as the system reports it (normally with a trailing delimiter).
std::u16string GetTempFolder();

// CopyFiles with "/E" and no exclusions, asking stop before each entry.
bool CopyFolderTree(const std::u16string& source, const std::u16string& target, const StopRequest& stop = {});

// Deletes every file and subfolder inside the folder and keeps the folder;
// an entry that cannot be deleted is left and the walk goes on, and the
// result is then false. True when everything went or there was nothing to
// list. A subfolder that keeps its entries or itself has its attributes
// cleared (Linux: the owner's write permission added) and is tried once
// more. Links are removed themselves, never followed, also when the folder
// itself is a link (it is then not listed).
bool EmptyFolder(const std::u16string& folder);

// EmptyFolder, then removes the folder itself (or the link in its place);
// true only when both succeeded.
bool DeleteFolder(const std::u16string& folder);

enum class ResetOutcome { Done, Failed, Stopped };

// Resets the BootOption lines of the settings file named by name relative to
// folder (steps as SettingsFileSteps takes them, split by every separator the
// file system honours: on Windows "/" too). Every step is opened
// beneath the folder without following a link; a file that is missing
// (also below a step that is not a real folder) is left alone. Only a
// regular file of at most kMaxSettingsFileBytes is read; it is written once,
// with all its replacements, when one was made and its attributes could be
// cleared. Failed: a name that leaves the folder, or a file that cannot be
// read or rewritten. Stopped: stop answered true after the read; nothing was
// written.
ResetOutcome ResetBootOption(const std::u16string& folder, const std::u16string& name, const StopRequest& stop = {});

}  // namespace engine
