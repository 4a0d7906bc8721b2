// The real clock: time(), a steady millisecond count and a sleep of the calling thread, the same on both platforms.
#include "platform/clock.h"

#include <chrono>
#include <ctime>
#include <thread>

namespace platform {
namespace {

class SystemClockImpl final : public Clock {
 public:
  std::int64_t Now() override { return static_cast<std::int64_t>(std::time(nullptr)); }
  std::uint64_t TickMs() override {
    return static_cast<std::uint64_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
            .count());
  }
  void Sleep(std::uint32_t milliseconds) override {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
  }
};

}  // namespace

Clock& SystemClock() {
  static SystemClockImpl* const clock = new SystemClockImpl();  // lives for the process
  return *clock;
}

}  // namespace platform
