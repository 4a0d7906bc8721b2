// Lets tests drive the trace unit with fake console and key-state services.
#pragma once

#include "platform/console.h"

class TDebugConsole;

namespace diag_testing {

// While alive: the console seam holds the given services and the trace unit
// starts without an instance; afterwards the previous services are back,
// again without an instance. Instances made meanwhile are discarded; no
// thread may still trace.
class ScopedConsoleServices {
 public:
  explicit ScopedConsoleServices(platform::ConsoleServices& services);
  ~ScopedConsoleServices();
  ScopedConsoleServices(const ScopedConsoleServices&) = delete;
  ScopedConsoleServices& operator=(const ScopedConsoleServices&) = delete;

 private:
  platform::ScopedConsoleForTesting mScope;
};

// The instance as it stands, without creating one (null before first use).
TDebugConsole* CurrentInstance();

}  // namespace diag_testing
