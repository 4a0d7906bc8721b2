// COM initialisation of a thread. On Windows these are the system's calls; on
// Linux a stand-in keeps the same per-thread bookkeeping and results, so that
// the core calls them the same way on both.
#pragma once

#include <cstdint>

namespace platform {

using HResult = std::int32_t;
constexpr HResult kSOk = 0;
constexpr HResult kSFalse = 1;  // already initialised on this thread
constexpr HResult kRpcEChangedMode = static_cast<HResult>(0x80010106u);

constexpr std::uint32_t kCoinitApartmentThreaded = 0x2;
constexpr std::uint32_t kCoinitDisableOle1Dde = 0x4;

// CoInitializeEx(nullptr, flags): S_OK the first time on a thread, S_FALSE
// again; a different threading model on the same thread fails with
// RPC_E_CHANGED_MODE. Each success needs one ComUninitialize on that thread.
HResult ComInitializeEx(std::uint32_t flags);
// CoInitialize(nullptr): the single-threaded apartment.
HResult ComInitialize();
void ComUninitialize();

}  // namespace platform
