// Opening a document or address with the system's default handler for it.
#pragma once

#include <string_view>

#include "platform/seam.h"

namespace platform {

// Called from the UI thread.
class LinkOpener {
 public:
  virtual ~LinkOpener() = default;
  // Asks the system to open the target with its default handler (Windows:
  // ShellExecuteW with the verb "open", no parameters, no working folder, show
  // state 1; Linux: xdg-open with the target as its only argument, started
  // directly, never through a shell). Returns once the request is handed over,
  // without waiting for the handler; true when it was accepted (on Linux: when
  // xdg-open started).
  virtual bool OpenWithDefaultHandler(std::u16string_view target) = 0;
};

// The real opener of this platform. Lives for the whole process.
LinkOpener& SystemLinkOpener();
// The opener in use: the real one unless a test put a fake in place.
inline LinkOpener& CurrentLinkOpener() { return CurrentService<LinkOpener>(SystemLinkOpener()); }
using ScopedLinkOpenerForTesting = ScopedServiceForTesting<LinkOpener>;

}  // namespace platform
