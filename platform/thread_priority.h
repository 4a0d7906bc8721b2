// Scheduling priority of the calling thread.
#pragma once

#include "platform/seam.h"

namespace platform {

// Thread priority levels as Windows numbers them (THREAD_PRIORITY_*).
enum class ThreadPriority : int {
  Idle = -15,
  Lowest = -2,
  Lower = -1,
  Normal = 0,
  Higher = 1,
  Highest = 2,
  TimeCritical = 15,
};

// May be called from any thread; acts on the calling one.
class ThreadScheduling {
 public:
  virtual ~ThreadScheduling() = default;
  // Sets the calling thread's priority; true when the system took it. Windows:
  // SetThreadPriority of the current thread. Linux: only Normal is taken (every
  // thread runs at the process's own priority); the others report false.
  virtual bool SetCurrentThreadPriority(ThreadPriority priority) = 0;
};

// The real scheduling of this platform. Lives for the whole process.
ThreadScheduling& SystemThreadScheduling();
// The scheduling in use: the real one unless a test put a fake in place.
inline ThreadScheduling& CurrentThreadScheduling() {
  return CurrentService<ThreadScheduling>(SystemThreadScheduling());
}
using ScopedThreadSchedulingForTesting = ScopedServiceForTesting<ThreadScheduling>;

}  // namespace platform
