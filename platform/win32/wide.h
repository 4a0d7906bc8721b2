// Our UTF-16 text as the wchar_t text of the Windows API: on Windows both are
// 16-bit UTF-16 code units, so the cast only renames the type.
#pragma once

#include <string>
#include <string_view>

namespace platform {

static_assert(sizeof(wchar_t) == sizeof(char16_t), "Windows wide text is UTF-16");

// The text, terminated, for calls that take a wide string.
inline const wchar_t* Wide(const std::u16string& text) { return reinterpret_cast<const wchar_t*>(text.c_str()); }
// The text's buffer, for calls that write into it.
inline wchar_t* Wide(std::u16string& text) { return reinterpret_cast<wchar_t*>(text.data()); }
// The first unit of a counted text (not terminated), for calls given a length.
inline const wchar_t* WideUnits(std::u16string_view text) { return reinterpret_cast<const wchar_t*>(text.data()); }

}  // namespace platform
