// Thread priority on Windows.
#include <windows.h>

#include "platform/thread_priority.h"

namespace platform {

bool SetCurrentThreadPriority(ThreadPriority priority) {
  return ::SetThreadPriority(::GetCurrentThread(), static_cast<int>(priority)) != FALSE;
}

}  // namespace platform
