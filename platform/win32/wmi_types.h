// The COM and management interfaces on Windows: the SDK's own declarations.
// Included through platform/wmi_types.h only.
#pragma once

#include <objbase.h>
#include <oleauto.h>
#include <wbemidl.h>
