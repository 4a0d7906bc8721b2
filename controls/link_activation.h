// Which link targets a click opens.
#pragma once

#include <string_view>

namespace controls {

// True when a click on a link with this target opens it: the target contains
// "://" or "mailto:", does not begin with "-" (it would read as an option to
// the handler) and holds no control characters.
bool IsOpenableTarget(std::u16string_view target);

// Any mouse button pressed on a link: opens the target through the link opener
// in use (platform::CurrentLinkOpener()) when it is openable; otherwise nothing
// happens. True when the opener was asked and succeeded. UI thread.
bool ActivateLink(std::u16string_view target);

}  // namespace controls
