// The COM stand-in on Linux: per-thread initialisation counts with the
// results Windows gives, the process's security flag and the classes of the
// management-event stand-in.
#include "platform/com.h"

#include <atomic>

#include "platform/posix/com/wmi_objects.h"

namespace platform {
namespace {

constexpr std::uint32_t kModelMask = 0x2;  // apartment-threaded or multithreaded
constexpr HRESULT kClassENoAggregation = ToHResult(0x80040110u);

thread_local int tInitCount = 0;
thread_local std::uint32_t tModel = 0;

std::atomic<bool> gSecuritySet{false};

class PosixCom final : public ComServices {
 public:
  HRESULT CoInitializeEx(std::uint32_t flags) override {
    const std::uint32_t model = flags & kModelMask;
    if (tInitCount > 0 && model != tModel) return kRpcEChangedMode;
    if (tInitCount++ == 0) {
      tModel = model;
      return kSOk;
    }
    return kSFalse;
  }
  HRESULT CoInitialize() override { return CoInitializeEx(kCoinitApartmentThreaded); }
  void CoUninitialize() override {
    if (tInitCount > 0) --tInitCount;
  }

  HRESULT CoInitializeSecurity(void*, LONG, void*, void*, DWORD, DWORD, void*, DWORD, void*) override {
    if (tInitCount == 0) return kCoENotInitialized;
    return gSecuritySet.exchange(true) ? kRpcETooLate : kSOk;
  }
  HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer, DWORD, REFIID iid, void** object) override {
    if (object == nullptr) return kEPointer;
    *object = nullptr;
    if (tInitCount == 0) return kCoENotInitialized;
    if (outer != nullptr) return kClassENoAggregation;
    return posix::CreateManagementObject(clsid, iid, object);
  }
  HRESULT CoSetProxyBlanket(IUnknown* proxy, DWORD, DWORD, OLECHAR*, DWORD, DWORD, void*, DWORD) override {
    return proxy == nullptr ? kEInvalidArg : kSOk;
  }
};

}  // namespace

ComServices& SystemCom() {
  static PosixCom* const com = new PosixCom();  // lives for the process
  return *com;
}

}  // namespace platform
