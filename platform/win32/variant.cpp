// Variants and the thread locale on Windows: the system's calls, from
// oleaut32.dll loaded when a variant is first used (the management worker's
// values; the dialog needs none).
#include "platform/variant.h"

#include "platform/win32/system_library.h"

namespace platform {
namespace {

constexpr wchar_t kAutomation[] = L"oleaut32.dll";
// What a call returns when oleaut32.dll or its function cannot be loaded.
constexpr HRESULT kMissing = HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND);

class Win32Variants final : public VariantServices {
 public:
  void VariantInit(VARIANT* variant) override {
    using Fn = void(WINAPI*)(VARIANT*);
    static const auto init = SystemFunction<Fn>(kAutomation, "VariantInit");
    if (init != nullptr) {
      init(variant);
    } else {
      variant->vt = VT_EMPTY;  // what VariantInit itself does
      variant->wReserved1 = variant->wReserved2 = variant->wReserved3 = 0;
    }
  }
  HRESULT VariantClear(VARIANT* variant) override {
    using Fn = HRESULT(WINAPI*)(VARIANT*);
    static const auto clear = SystemFunction<Fn>(kAutomation, "VariantClear");
    return clear != nullptr ? clear(variant) : kMissing;
  }
  HRESULT VariantChangeTypeEx(VARIANT* dest, VARIANT* source, LCID locale, USHORT flags, VARTYPE type) override {
    using Fn = HRESULT(WINAPI*)(VARIANT*, const VARIANT*, LCID, USHORT, VARTYPE);
    static const auto change = SystemFunction<Fn>(kAutomation, "VariantChangeTypeEx");
    return change != nullptr ? change(dest, source, locale, flags, type) : kMissing;
  }
  LCID GetThreadLocale() override { return ::GetThreadLocale(); }
};

}  // namespace

VariantServices& SystemVariants() {
  static Win32Variants* const variants = new Win32Variants();  // lives for the process
  return *variants;
}

}  // namespace platform
