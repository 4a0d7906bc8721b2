// The types a subscription to management events is made with: the kind of
// its events and the callback that receives them.
#pragma once

#include <cstdint>

#include "platform/wmi_types.h"

// The kind of events a subscription delivers.
enum WMIEventType : std::int32_t {
  ProcessStartTrace = 0,  // "SELECT * FROM Win32_ProcessStartTrace"
  ProcessStopTrace = 1,   // "SELECT * FROM Win32_ProcessStopTrace"
};

// Receives one delivered event object and the subscription's user data. The
// object is lent for the call only: take no reference and keep no pointer.
// Runs on a delivery thread of the platform, possibly on several at once.
using WMIEventCallback = void (*)(IWbemClassObject* object, void* userData);
