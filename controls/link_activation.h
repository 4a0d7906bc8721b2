// Which link targets a click opens, and the service that opens them.
#pragma once

#include <string_view>

namespace controls {

// Opens a target with the system's default handler for it.
class LinkOpener {
 public:
  virtual ~LinkOpener() = default;
  // Called on the UI thread; returns without waiting for the handler to finish.
  // True when the system accepted the request.
  virtual bool Open(std::u16string_view target) = 0;
};

// True when a click on a link with this target opens it: the target contains
// "://" or "mailto:", does not begin with "-" (it would read as an option to
// the handler) and holds no control characters.
bool IsOpenableTarget(std::u16string_view target);

// Any mouse button pressed on a link: opens the target through the opener when
// it is openable; otherwise nothing happens. True when the opener was asked and
// succeeded.
bool ActivateLink(std::u16string_view target, LinkOpener& opener);

// The opener of this platform (ShellExecuteW "open" on Windows, xdg-open on
// Linux). Lives for the whole process; usable from the UI thread.
LinkOpener& SystemLinkOpener();

}  // namespace controls
