// COM services of the platform. On Windows these are the system's calls; on
// Linux a stand-in keeps the same per-thread bookkeeping and results, so that
// the core calls them the same way on both.
#pragma once

#include <cstdint>

#include "platform/seam.h"

namespace platform {

using HResult = std::int32_t;
constexpr HResult kSOk = 0;
constexpr HResult kSFalse = 1;  // already initialised on this thread
constexpr HResult kRpcEChangedMode = static_cast<HResult>(0x80010106u);

constexpr std::uint32_t kCoinitApartmentThreaded = 0x2;
constexpr std::uint32_t kCoinitDisableOle1Dde = 0x4;

// Every call acts on the calling thread's COM state.
class ComServices {
 public:
  virtual ~ComServices() = default;
  // CoInitializeEx(nullptr, flags): S_OK the first time on a thread, S_FALSE
  // again; a different threading model on the same thread fails with
  // RPC_E_CHANGED_MODE. Each success needs one CoUninitialize on that thread.
  virtual HResult CoInitializeEx(std::uint32_t flags) = 0;
  // CoInitialize(nullptr): the single-threaded apartment.
  virtual HResult CoInitialize() = 0;
  virtual void CoUninitialize() = 0;
};

// The real services of this platform. Lives for the whole process.
ComServices& SystemCom();
// The services in use: the real ones unless a test put a fake in place.
inline ComServices& CurrentCom() { return CurrentService<ComServices>(SystemCom()); }
using ScopedComForTesting = ScopedServiceForTesting<ComServices>;

}  // namespace platform
