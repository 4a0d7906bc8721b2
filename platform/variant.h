// Variants and the thread locale their conversions use: on Windows the
// system's calls; on Linux the few conversions the event objects of the
// management-event stand-in need.
#pragma once

#include "platform/seam.h"
#include "platform/wmi_types.h"

namespace platform {

// Every method may be called from any thread.
class VariantServices {
 public:
  virtual ~VariantServices() = default;
  // VariantInit empties a variant without looking at it; VariantClear frees
  // what it holds and empties it; VariantChangeTypeEx converts source into
  // dest (they may be the same variant) or fails leaving dest as it was.
  // Linux converts VT_I4 and decimal VT_BSTR values to VT_UINT only:
  // DISP_E_OVERFLOW when the value does not fit, DISP_E_TYPEMISMATCH for
  // anything else.
  virtual void VariantInit(VARIANT* variant) = 0;
  virtual HRESULT VariantClear(VARIANT* variant) = 0;
  virtual HRESULT VariantChangeTypeEx(VARIANT* dest, VARIANT* source, LCID locale, USHORT flags, VARTYPE type) = 0;
  // The calling thread's locale.
  virtual LCID GetThreadLocale() = 0;
};

// The real services of this platform. Live for the whole process.
VariantServices& SystemVariants();
// The services in use: the real ones unless a test put a fake in place.
inline VariantServices& CurrentVariants() { return CurrentService<VariantServices>(SystemVariants()); }
using ScopedVariantsForTesting = ScopedServiceForTesting<VariantServices>;

}  // namespace platform
