// Thread priority on Windows.
#include <windows.h>

#include "platform/thread_priority.h"

namespace platform {
namespace {

class Win32ThreadScheduling final : public ThreadScheduling {
 public:
  bool SetCurrentThreadPriority(ThreadPriority priority) override {
    return ::SetThreadPriority(::GetCurrentThread(), static_cast<int>(priority)) != FALSE;
  }
};

}  // namespace

ThreadScheduling& SystemThreadScheduling() {
  static Win32ThreadScheduling scheduling;
  return scheduling;
}

}  // namespace platform
