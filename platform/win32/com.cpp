// COM services on Windows: the system's calls.
#include "platform/com.h"

namespace platform {
namespace {

class Win32Com final : public ComServices {
 public:
  HRESULT CoInitializeEx(std::uint32_t flags) override { return ::CoInitializeEx(nullptr, flags); }
  HRESULT CoInitialize() override { return ::CoInitialize(nullptr); }
  void CoUninitialize() override { ::CoUninitialize(); }

  HRESULT CoInitializeSecurity(void* securityDescriptor, LONG authServiceCount, void* authServices, void* reserved1,
                               DWORD authnLevel, DWORD impLevel, void* authList, DWORD capabilities,
                               void* reserved3) override {
    return ::CoInitializeSecurity(static_cast<PSECURITY_DESCRIPTOR>(securityDescriptor), authServiceCount,
                                  static_cast<SOLE_AUTHENTICATION_SERVICE*>(authServices), reserved1, authnLevel,
                                  impLevel, authList, capabilities, reserved3);
  }
  HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer, DWORD context, REFIID iid, void** object) override {
    return ::CoCreateInstance(clsid, outer, context, iid, object);
  }
  HRESULT CoSetProxyBlanket(IUnknown* proxy, DWORD authnService, DWORD authzService, OLECHAR* serverPrincipalName,
                            DWORD authnLevel, DWORD impLevel, void* authInfo, DWORD capabilities) override {
    return ::CoSetProxyBlanket(proxy, authnService, authzService, serverPrincipalName, authnLevel, impLevel,
                               static_cast<RPC_AUTH_IDENTITY_HANDLE>(authInfo), capabilities);
  }
};

}  // namespace

ComServices& SystemCom() {
  static Win32Com* const com = new Win32Com();  // lives for the process
  return *com;
}

}  // namespace platform
