// The copy engine: a copy request's parameters, and the copying of one file
// or of a folder's entries with recursion and exclusions.
#pragma once

#include <functional>
#include <string>
#include <unordered_set>

namespace engine {

// The exclusions of one copy, split once: a lookup costs the same however
// long the list is.
class ExclusionSet {
 public:
  // The items of the comma text exclusions.
  explicit ExclusionSet(const std::u16string& exclusions);
  // True when an item equals path, ignoring case.
  bool Contains(const std::u16string& path) const;

 private:
  std::unordered_set<std::u16string> mPaths;  // upper-cased
};

// The folder a folder specification names: the folder part of source, split
// where the file system splits a path it opens (Windows: at "/" as well as
// at "\", so that "C:/Inst/Tb/" names that folder), ending in a delimiter.
// Empty when source has no folder part (a bare name or mask) or only a drive
// before its name ("C:*.*", "C:Tb"): such a source would stand for the root
// once a delimiter is added, or for a current folder.
std::u16string SourceFolderOf(std::u16string_view source);

// Carries out a copy request: the parameters are a comma text of source,
// target, flags and exclusions (items after the fourth are ignored). False
// with fewer than two items; otherwise what CopyFiles returns.
bool RunCopyFile(const std::u16string& parameters);

// Copies an existing file (into an existing target folder under its own
// name, else to the target path), or else the entries of the folder part of
// source into the target folder, which is created with its missing parents.
// The source's folder part is SourceFolderOf's; the file name of a file
// source is split the same way.
// A source without a folder part (empty, ".", "..", a bare name or mask, or
// only a drive before a name) and an empty target copy nothing and give false. The file-name part of a folder
// specification is not a filter. With "/E" anywhere in the upper-cased flags,
// real subfolders are copied too (never a link to a folder, nor the folder
// being copied into), each opened relative to its open parent without
// following a link; failures of files inside them are not reported. The first
// file of the folder's own entries that fails ends the walk with false.
// Entries that are left out without a try (a FIFO, socket, device or broken
// link; a subfolder that cannot be opened or created) are skipped, the copy
// goes on, and the result is false. Folders the copy creates get their
// source's permission bits; existing ones keep theirs. Exclusions: a comma
// text of full source paths. A folder copy asks stop, when given, before each
// entry: once it answers true, nothing more is copied and the result is false.
bool CopyFiles(const std::u16string& source, const std::u16string& target, const std::u16string& flags,
               const std::u16string& exclusions, const std::function<bool()>& stop = {});

// Creates the folder and every missing folder above it, outermost first.
// Failures are silent.
void ForceFolder(const std::u16string& folder);

// Copies source to target, overwriting a target file, unless the source is
// excluded; an excluded file counts as copied.
bool CopyOneFile(const std::u16string& source, const std::u16string& target, const std::u16string& exclusions);

// True when an item of the comma text exclusions equals path, ignoring case.
bool IsExcluded(const std::u16string& path, const std::u16string& exclusions);

}  // namespace engine
