// Calendar time and pauses: every wait of the worker and the dialog goes
// through this seam, so that tests run them against a fake clock.
#pragma once

#include <cstdint>

#include "platform/seam.h"

namespace platform {

// Every method may be called from any thread.
class Clock {
 public:
  virtual ~Clock() = default;
  // Calendar time in whole seconds, as time() gives it.
  virtual std::int64_t Now() = 0;
  // Milliseconds on a steady clock that never goes back (GetTickCount64), for
  // measuring how long ago something happened.
  virtual std::uint64_t TickMs() = 0;
  // Suspends the calling thread for about the given time.
  virtual void Sleep(std::uint32_t milliseconds) = 0;
};

// The real clock. Lives for the whole process.
Clock& SystemClock();
// The clock in use: the real one unless a test put a fake in place.
inline Clock& CurrentClock() { return CurrentService<Clock>(SystemClock()); }
using ScopedClockForTesting = ScopedServiceForTesting<Clock>;

}  // namespace platform
