// A folder walk on Linux: listing and deleting relative to the folder's descriptor.
#pragma once

#include <memory>
#include <string>

#include "platform/files.h"
#include "platform/posix/base/unique_fd.h"

namespace platform::posix {

// A walk over the folder open at the descriptor (taken over); null when the
// descriptor is not valid or cannot be listed.
std::unique_ptr<FolderWalk> OpenFolderWalk(UniqueFd folder);

// Adds the owner's write permission to the file of that name in the folder,
// without following a link (a link is left alone and counts as done).
bool AddOwnerWrite(int folder, const std::string& name);

}  // namespace platform::posix
