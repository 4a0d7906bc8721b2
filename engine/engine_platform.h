// The platform services the worker stands on, gathered so that tests can put
// fakes in their place.
#pragma once

#include <cstdint>

#include "platform/com.h"
#include "platform/process.h"

namespace engine {

// Every method may be called from any thread.
class EnginePlatform {
 public:
  virtual ~EnginePlatform() = default;
  virtual platform::ProcessServices& Processes() = 0;
  // Calendar time in whole seconds, as time() gives it.
  virtual std::int64_t Now() = 0;
  virtual platform::HResult ComInitializeEx(std::uint32_t flags) = 0;
  virtual void ComUninitialize() = 0;
};

// The services in use: the real ones unless a test put others in place.
// A worker takes them when it is constructed.
EnginePlatform& CurrentEnginePlatform();

// While alive, workers constructed meanwhile use the given services.
class ScopedEnginePlatformForTesting {
 public:
  explicit ScopedEnginePlatformForTesting(EnginePlatform& platform);
  ~ScopedEnginePlatformForTesting();
  ScopedEnginePlatformForTesting(const ScopedEnginePlatformForTesting&) = delete;
  ScopedEnginePlatformForTesting& operator=(const ScopedEnginePlatformForTesting&) = delete;

 private:
  EnginePlatform* mPrevious;
};

}  // namespace engine
