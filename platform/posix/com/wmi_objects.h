// The management-event stand-in on Linux: the classes CoCreateInstance knows
// and the objects the service hands out.
#pragma once

#include "platform/posix/events/process_events.h"
#include "platform/wmi_types.h"

namespace platform::posix {

// A new object of a known class (the administrative locator or the unsecured
// apartment), asked for its interface `iid`: S_OK with one reference in
// *object; REGDB_E_CLASSNOTREG for other classes; E_NOINTERFACE.
HRESULT CreateManagementObject(REFCLSID clsid, REFIID iid, void** object);

// The "ROOT\CIMV2" namespace: notification queries on the process events.
IWbemServices* NewManagementServices();

// An event object answering "ProcessId", "ParentProcessId" and "ProcessName"
// for one process event; one reference for the caller.
IWbemClassObject* NewProcessEventObject(const ProcessEvent& event);

}  // namespace platform::posix
