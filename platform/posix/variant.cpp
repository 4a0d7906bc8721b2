// Variants on Linux: clearing, and the conversions of the values the
// stand-in's event objects carry (VT_I4 ids, VT_BSTR text) to VT_UINT, with
// the results Windows gives for them.
#include "platform/variant.h"

#include <cstdint>
#include <limits>
#include <optional>
#include <string>

namespace platform {
namespace {

constexpr LCID kEnglishUnitedStates = 0x0409;

// A decimal number with an optional sign and blanks around it.
std::optional<std::int64_t> ParseDecimal(std::u16string_view text) {
  std::size_t i = 0;
  while (i < text.size() && text[i] == u' ') ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == u'-' || text[i] == u'+')) negative = text[i++] == u'-';
  std::int64_t value = 0;
  std::size_t digits = 0;
  for (; i < text.size() && text[i] >= u'0' && text[i] <= u'9'; ++i, ++digits) {
    value = value * 10 + (text[i] - u'0');
    if (value > (std::int64_t{1} << 40)) return std::nullopt;
  }
  while (i < text.size() && text[i] == u' ') ++i;
  if (digits == 0 || i != text.size()) return std::nullopt;
  return negative ? -value : value;
}

// The value of a VT_I4 or VT_BSTR variant; nullopt for any other type or
// text that is no decimal number.
std::optional<std::int64_t> IntegerOf(const VARIANT& v) {
  switch (v.vt) {
    case kVtI4: return v.lVal;
    case kVtBstr: return ParseDecimal(BstrText(v.bstrVal));
    default: return std::nullopt;
  }
}

class PosixVariants final : public VariantServices {
 public:
  void VariantInit(VARIANT* variant) override { *variant = VARIANT{}; }

  HRESULT VariantClear(VARIANT* variant) override {
    if (variant == nullptr) return kEInvalidArg;
    if (variant->vt == kVtBstr) FreeBstr(variant->bstrVal);
    *variant = VARIANT{};
    return kSOk;
  }

  HRESULT VariantChangeTypeEx(VARIANT* dest, VARIANT* source, LCID, USHORT, VARTYPE type) override {
    if (dest == nullptr || source == nullptr) return kEInvalidArg;
    if (type != kVtUint) return kDispETypeMismatch;
    const std::optional<std::int64_t> value = IntegerOf(*source);
    if (!value) return kDispETypeMismatch;
    if (*value < 0 || *value > std::numeric_limits<std::uint32_t>::max()) return kDispEOverflow;
    VARIANT result{};
    result.vt = kVtUint;
    result.uintVal = static_cast<std::uint32_t>(*value);
    VariantClear(dest);  // dest may be source: its value has been read
    *dest = result;
    return kSOk;
  }

  LCID GetThreadLocale() override { return kEnglishUnitedStates; }
};

}  // namespace

VariantServices& SystemVariants() {
  static PosixVariants* const variants = new PosixVariants();  // lives for the process
  return *variants;
}

}  // namespace platform
