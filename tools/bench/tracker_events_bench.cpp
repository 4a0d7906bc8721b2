// Benchmark: how many process start and stop events one handler thread of
// the tracker gets through per second, with the debug console closed and
// open. Events are of processes outside the tree, as nearly all are. Run
// with standard error sent away (2>/dev/null): the open console writes there.
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string_view>

#include "diag/debug_console.h"
#include "process/process_engine.h"

namespace {

// An event whose ids are known at once.
class BenchEvent final : public process::EventProperties {
 public:
  BenchEvent(std::uint32_t parent, std::uint32_t id) : mParent(parent), mId(id) {}
  bool ReadId(std::u16string_view name, std::uint32_t& id) override {
    id = name == process::kParentProcessIdProperty ? mParent : mId;
    return true;
  }
  void Release(std::u16string_view) override {}

 private:
  std::uint32_t mParent;
  std::uint32_t mId;
};

double EventsPerSecond(long events) {
  ProcessEngine tracker;
  const auto start = std::chrono::steady_clock::now();
  for (long i = 0; i < events; i += 2) {
    const auto id = static_cast<std::uint32_t>(1000 + i % 4096);
    BenchEvent started(1, id);
    tracker.OnProcessStart(started);
    BenchEvent stopped(0, id);
    tracker.OnProcessStop(stopped);
  }
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  return static_cast<double>(events) / seconds;
}

}  // namespace

int main() {
  DebugConsoleInstance(false);
  EventsPerSecond(200'000);  // warm-up
  std::printf("console closed: %.0f events/s\n", EventsPerSecond(4'000'000));
  DebugConsoleInstance(true);
  std::printf("console open:   %.0f events/s\n", EventsPerSecond(400'000));
  return 0;
}
