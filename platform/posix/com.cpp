// The COM stand-in on Linux: per-thread initialisation counts with the
// results Windows gives.
#include "platform/com.h"

namespace platform {
namespace {

constexpr std::uint32_t kModelMask = 0x2;  // apartment-threaded or multithreaded

thread_local int tInitCount = 0;
thread_local std::uint32_t tModel = 0;

}  // namespace

HResult ComInitializeEx(std::uint32_t flags) {
  const std::uint32_t model = flags & kModelMask;
  if (tInitCount > 0 && model != tModel) return kRpcEChangedMode;
  if (tInitCount++ == 0) {
    tModel = model;
    return kSOk;
  }
  return kSFalse;
}

HResult ComInitialize() { return ComInitializeEx(kCoinitApartmentThreaded); }

void ComUninitialize() {
  if (tInitCount > 0) --tInitCount;
}

}  // namespace platform
