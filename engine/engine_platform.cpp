// The real platform services of the worker, and the test override.
#include "engine/engine_platform.h"

#include <atomic>
#include <ctime>

namespace engine {
namespace {

class SystemEnginePlatform final : public EnginePlatform {
 public:
  platform::ProcessServices& Processes() override { return platform::SystemProcesses(); }
  std::int64_t Now() override { return static_cast<std::int64_t>(std::time(nullptr)); }
  platform::HResult ComInitializeEx(std::uint32_t flags) override { return platform::ComInitializeEx(flags); }
  void ComUninitialize() override { platform::ComUninitialize(); }
};

std::atomic<EnginePlatform*> gOverride{nullptr};

}  // namespace

EnginePlatform& CurrentEnginePlatform() {
  static SystemEnginePlatform* const system = new SystemEnginePlatform();  // lives for the process
  EnginePlatform* override = gOverride.load(std::memory_order_acquire);
  return override != nullptr ? *override : *system;
}

ScopedEnginePlatformForTesting::ScopedEnginePlatformForTesting(EnginePlatform& platform)
    : mPrevious(gOverride.exchange(&platform, std::memory_order_acq_rel)) {}

ScopedEnginePlatformForTesting::~ScopedEnginePlatformForTesting() {
  gOverride.store(mPrevious, std::memory_order_release);
}

}  // namespace engine
