// The COM stand-in on Linux: per-thread initialisation counts with the
// results Windows gives.
#include "platform/com.h"

namespace platform {
namespace {

constexpr std::uint32_t kModelMask = 0x2;  // apartment-threaded or multithreaded

thread_local int tInitCount = 0;
thread_local std::uint32_t tModel = 0;

class PosixCom final : public ComServices {
 public:
  HResult CoInitializeEx(std::uint32_t flags) override {
    const std::uint32_t model = flags & kModelMask;
    if (tInitCount > 0 && model != tModel) return kRpcEChangedMode;
    if (tInitCount++ == 0) {
      tModel = model;
      return kSOk;
    }
    return kSFalse;
  }
  HResult CoInitialize() override { return CoInitializeEx(kCoinitApartmentThreaded); }
  void CoUninitialize() override {
    if (tInitCount > 0) --tInitCount;
  }
};

}  // namespace

ComServices& SystemCom() {
  static PosixCom* const com = new PosixCom();  // lives for the process
  return *com;
}

}  // namespace platform
