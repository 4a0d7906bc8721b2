// The one shape of every platform seam: the real service, the one in use, and
// a scoped test override. A service header declares its abstract class X,
// SystemX() and CurrentX() (returning CurrentService<X>(SystemX())), and
// ScopedXForTesting as an alias of ScopedServiceForTesting<X>.
#pragma once

#include <atomic>

namespace platform {

template <class Service>
struct ServiceOverride {
  static inline std::atomic<Service*> slot{nullptr};
};

// The service in use: the test's fake while one is in place, else the real one.
// Any thread.
template <class Service>
Service& CurrentService(Service& system) {
  Service* fake = ServiceOverride<Service>::slot.load(std::memory_order_acquire);
  return fake != nullptr ? *fake : system;
}

// While alive, CurrentX() returns the given fake. Overrides nest; they are made
// and ended while no other thread uses the service.
template <class Service>
class ScopedServiceForTesting {
 public:
  explicit ScopedServiceForTesting(Service& fake)
      : mPrevious(ServiceOverride<Service>::slot.exchange(&fake, std::memory_order_acq_rel)) {}
  ~ScopedServiceForTesting() { ServiceOverride<Service>::slot.store(mPrevious, std::memory_order_release); }
  ScopedServiceForTesting(const ScopedServiceForTesting&) = delete;
  ScopedServiceForTesting& operator=(const ScopedServiceForTesting&) = delete;

 private:
  Service* mPrevious;
};

}  // namespace platform
