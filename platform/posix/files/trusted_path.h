// Whether another user could change where a Linux path leads.
#pragma once

#include <string>

namespace platform::posix {

// True when only this process's user and root can change where the absolute
// path leads: the path is walked step by step as the kernel resolves it,
// links followed (at most 40), and every folder and link on the way belongs
// to this user or root, and a folder that its group or others may write to
// has the sticky bit (so that nobody else can rename or remove what they do
// not own in it). Steps missing at the end count as trusted: this user would
// make them. False for a relative path, a step that is a file before the
// end, or a step that cannot be looked at.
bool IsTrustedPath(const std::string& path);

}  // namespace platform::posix
