// The console and keyboard services the trace unit stands on.
#pragma once

#include <cstddef>

#include "platform/seam.h"

namespace platform {

// An opaque console output handle; null means none.
using ConsoleHandle = void*;

// Every method may be called from any thread at any time.
class ConsoleServices {
 public:
  virtual ~ConsoleServices() = default;
  // True while the right Shift key is held down.
  virtual bool IsRightShiftDown() = 0;
  // Gives the process a console; the result is not examined.
  virtual void AllocConsole() = 0;
  // The console's standard-output handle, or null when there is none.
  virtual ConsoleHandle GetStdOutput() = 0;
  // Writes the bytes with one call; the result is not examined.
  virtual void WriteBytes(ConsoleHandle output, const char* bytes, std::size_t count) = 0;
};

// The real services of this platform. Lives for the whole process.
ConsoleServices& SystemConsole();
// The services in use: the real ones unless a test put a fake in place.
inline ConsoleServices& CurrentConsole() { return CurrentService<ConsoleServices>(SystemConsole()); }
using ScopedConsoleForTesting = ScopedServiceForTesting<ConsoleServices>;

}  // namespace platform
