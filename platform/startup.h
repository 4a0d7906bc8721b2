// Process-wide preparation done once, first thing at start.
#pragma once

#include "platform/seam.h"

namespace platform {

// Called once, from the main thread, before any other thread starts.
class Startup {
 public:
  virtual ~Startup() = default;
  // Windows: restricts the DLL search path to the system folder where the
  // system offers that, and takes the current folder out of it.
  // Linux: opens descriptors 0 to 2 on /dev/null if they are closed, and ignores
  // SIGPIPE so that a broken pipe never ends the program.
  virtual void PrepareProcess() = 0;
};

// The real preparation of this platform. Lives for the whole process.
Startup& SystemStartup();
// The preparation in use: the real one unless a test put a fake in place.
inline Startup& CurrentStartup() { return CurrentService<Startup>(SystemStartup()); }
using ScopedStartupForTesting = ScopedServiceForTesting<Startup>;

}  // namespace platform
