// Variants on Linux: clearing and the integer conversions the system uses.
#pragma once

#include "platform/com.h"

namespace platform::posix {

// Frees what the variant holds (a string) and leaves it empty.
HRESULT ClearVariant(VARIANT* variant);

// Converts an integer, empty or decimal-string variant to VT_UINT, VT_UI4,
// VT_INT or VT_I4, as Windows does for these: DISP_E_OVERFLOW when the value
// does not fit, DISP_E_TYPEMISMATCH for anything else. dest may be source;
// on failure dest is unchanged.
HRESULT ChangeVariantType(VARIANT* dest, VARIANT* source, VARTYPE type);

}  // namespace platform::posix
