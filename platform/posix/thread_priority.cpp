// Thread priority on Linux: every thread keeps the process's own priority.
#include "platform/thread_priority.h"

namespace platform {
namespace {

class PosixThreadScheduling final : public ThreadScheduling {
 public:
  bool SetCurrentThreadPriority(ThreadPriority priority) override { return priority == ThreadPriority::Normal; }
};

}  // namespace

ThreadScheduling& SystemThreadScheduling() {
  static PosixThreadScheduling scheduling;
  return scheduling;
}

}  // namespace platform
