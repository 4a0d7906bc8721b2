// Scheduling priority of the calling thread.
#pragma once

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

// Sets the calling thread's priority; true when the system took it. Windows:
// SetThreadPriority of the current thread. Linux: only Normal is taken (every
// thread runs at the process's own priority); the others report false.
bool SetCurrentThreadPriority(ThreadPriority priority);

}  // namespace platform
