// Thread priority on Linux: every thread keeps the process's own priority.
#include "platform/thread_priority.h"

namespace platform {

bool SetCurrentThreadPriority(ThreadPriority priority) { return priority == ThreadPriority::Normal; }

}  // namespace platform
