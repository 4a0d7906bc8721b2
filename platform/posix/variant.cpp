// Variants on Linux: clearing and integer conversions.
#include "platform/posix/variant.h"

#include <cstdint>
#include <limits>
#include <optional>
#include <string>

namespace platform::posix {
namespace {

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

// The value of an integer-like variant; nullopt when its type is not one.
// `overflow` is set for an unsigned 64-bit value beyond every target.
std::optional<std::int64_t> IntegerOf(const VARIANT& v, bool& overflow) {
  switch (v.vt) {
    case kVtEmpty: return 0;
    case kVtI1: return v.cVal;
    case kVtUi1: return v.bVal;
    case kVtI2: return v.iVal;
    case kVtUi2: return v.uiVal;
    case kVtI4: return v.lVal;
    case kVtInt: return v.intVal;
    case kVtUi4: return v.ulVal;
    case kVtUint: return v.uintVal;
    case kVtI8: return v.llVal;
    case kVtUi8:
      if (v.ullVal > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
        overflow = true;
        return std::nullopt;
      }
      return static_cast<std::int64_t>(v.ullVal);
    case kVtBstr: return ParseDecimal(BstrText(v.bstrVal));
    default: return std::nullopt;
  }
}

}  // namespace

HRESULT ClearVariant(VARIANT* variant) {
  if (variant == nullptr) return kEInvalidArg;
  if (variant->vt == kVtBstr) FreeBstr(variant->bstrVal);
  variant->vt = kVtEmpty;
  variant->ullVal = 0;
  return kSOk;
}

HRESULT ChangeVariantType(VARIANT* dest, VARIANT* source, VARTYPE type) {
  if (dest == nullptr || source == nullptr) return kEInvalidArg;
  bool overflow = false;
  const std::optional<std::int64_t> value = IntegerOf(*source, overflow);
  if (!value) return overflow ? kDispEOverflow : kDispETypeMismatch;
  const bool isUnsigned = type == kVtUint || type == kVtUi4;
  const bool isSigned = type == kVtInt || type == kVtI4;
  if (!isUnsigned && !isSigned) return kDispETypeMismatch;
  const std::int64_t low = isUnsigned ? 0 : std::numeric_limits<std::int32_t>::min();
  const std::int64_t high = isUnsigned ? std::numeric_limits<std::uint32_t>::max() : std::numeric_limits<std::int32_t>::max();
  if (*value < low || *value > high) return kDispEOverflow;

  VARIANT result{};
  result.vt = type;
  if (isUnsigned) {
    result.uintVal = static_cast<std::uint32_t>(*value);
  } else {
    result.intVal = static_cast<std::int32_t>(*value);
  }
  ClearVariant(dest);  // dest may be source: its value has been read
  *dest = result;
  return kSOk;
}

}  // namespace platform::posix
