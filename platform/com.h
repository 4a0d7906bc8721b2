// COM services of the platform: apartments, the process's security and the
// objects of the management service (variants are in platform/variant.h). On
// Windows these are the system's calls; on Linux a stand-in keeps the same
// per-thread bookkeeping and results and offers a small management-event
// service of its own, so that the core calls them the same way on both.
#pragma once

#include <cstdint>

#include "platform/seam.h"
#include "platform/wmi_types.h"

namespace platform {

constexpr std::uint32_t kCoinitApartmentThreaded = 0x2;
constexpr std::uint32_t kCoinitDisableOle1Dde = 0x4;

// Every call acts on the calling thread's COM state.
class ComServices {
 public:
  virtual ~ComServices() = default;
  // CoInitializeEx(nullptr, flags): S_OK the first time on a thread, S_FALSE
  // again; a different threading model on the same thread fails with
  // RPC_E_CHANGED_MODE. Each success needs one CoUninitialize on that thread.
  virtual HRESULT CoInitializeEx(std::uint32_t flags) = 0;
  // CoInitialize(nullptr): the single-threaded apartment.
  virtual HRESULT CoInitialize() = 0;
  virtual void CoUninitialize() = 0;

  // The process's COM security, once per process: success the first time,
  // RPC_E_TOO_LATE once it is set. Needs COM on the calling thread.
  virtual HRESULT CoInitializeSecurity(void* securityDescriptor, LONG authServiceCount, void* authServices,
                                       void* reserved1, DWORD authnLevel, DWORD impLevel, void* authList,
                                       DWORD capabilities, void* reserved3) = 0;
  // A new object of the class, its interface `iid` stored in *object with one
  // reference for the caller (null on failure). Needs COM on the calling
  // thread; the object belongs to the calling thread's apartment. Linux knows
  // the administrative locator and the unsecured apartment.
  virtual HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer, DWORD context, REFIID iid, void** object) = 0;
  // Sets the security used on calls through the proxy.
  virtual HRESULT CoSetProxyBlanket(IUnknown* proxy, DWORD authnService, DWORD authzService,
                                    OLECHAR* serverPrincipalName, DWORD authnLevel, DWORD impLevel, void* authInfo,
                                    DWORD capabilities) = 0;
};

// The real services of this platform. Lives for the whole process.
ComServices& SystemCom();
// The services in use: the real ones unless a test put a fake in place.
inline ComServices& CurrentCom() { return CurrentService<ComServices>(SystemCom()); }
using ScopedComForTesting = ScopedServiceForTesting<ComServices>;

}  // namespace platform
