// Process start and stop objects as the Linux management stand-in delivers
// them, for tests that hand the tracker's handlers what the service would.
// Linux build only.
#pragma once

#include <cstdint>

#include "platform/posix/com/wmi_objects.h"

// An event object for a process and its parent; one reference, the caller's.
inline IWbemClassObject* NewProcessEventObject(std::uint32_t parent, std::uint32_t id) {
  platform::posix::ProcessEvent event;
  event.ParentProcessId = parent;
  event.ProcessId = id;
  return platform::posix::NewProcessEventObject(event);
}
