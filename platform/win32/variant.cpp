// Variants and the thread locale on Windows: the system's calls.
#include "platform/variant.h"

namespace platform {
namespace {

class Win32Variants final : public VariantServices {
 public:
  void VariantInit(VARIANT* variant) override { ::VariantInit(variant); }
  HRESULT VariantClear(VARIANT* variant) override { return ::VariantClear(variant); }
  HRESULT VariantChangeTypeEx(VARIANT* dest, VARIANT* source, LCID locale, USHORT flags, VARTYPE type) override {
    return ::VariantChangeTypeEx(dest, source, locale, flags, type);
  }
  LCID GetThreadLocale() override { return ::GetThreadLocale(); }
};

}  // namespace

VariantServices& SystemVariants() {
  static Win32Variants* const variants = new Win32Variants();  // lives for the process
  return *variants;
}

}  // namespace platform
