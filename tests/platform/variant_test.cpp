// Variants and BSTR strings through the platform's services: the same results
// from Windows (oleaut32.dll, loaded when first used) and the Linux stand-in.
#include <gtest/gtest.h>

#include <cstdint>

#include "platform/variant.h"
#include "platform/wmi_types.h"

namespace {

using namespace platform;

TEST(BstrStrings, KeepTheirTextLengthAndEmbeddedZeros) {
  const std::u16string_view texts[] = {u"installer.exe", u"", std::u16string_view(u"a\0b", 3), u"\u00e9t\u00e9"};
  for (const std::u16string_view text : texts) {
    const ScopedBstr string(text);
    ASSERT_NE(string.Get(), nullptr);
    // The length prefix comes before the characters, the terminating zero after them.
    const auto prefix = *reinterpret_cast<const std::uint32_t*>(reinterpret_cast<const char*>(string.Get()) - 4);
    EXPECT_EQ(prefix, text.size() * sizeof(char16_t));
    EXPECT_EQ(string.Get()[text.size()], 0);
    EXPECT_EQ(std::u16string_view(reinterpret_cast<const char16_t*>(string.Get()), text.size()), text);
  }
  EXPECT_TRUE(BstrText(nullptr).empty());
}

TEST(Variants, InitConvertAndClear) {
  VariantServices& variants = SystemVariants();
  VARIANT value;
  value.vt = kVtI4;
  value.lVal = 5;
  variants.VariantInit(&value);
  EXPECT_EQ(value.vt, kVtEmpty) << "initialising empties whatever was there";

  const struct {
    VARTYPE Type;
    std::int32_t Number;
    const char16_t* Text;
    HRESULT Result;
    std::uint32_t Converted;
  } cases[] = {
      // The event objects carry VT_I4 ids and VT_BSTR text; the tracker asks for VT_UINT.
      {kVtI4, 17, nullptr, kSOk, 17},
      {kVtI4, 0, nullptr, kSOk, 0},
      {kVtI4, 2147483647, nullptr, kSOk, 2147483647u},
#ifndef _WIN32
      // Wine's oleaut32 answers 4294967295 here; process ids are never negative.
      {kVtI4, -1, nullptr, kDispEOverflow, 0},
#endif
      {kVtBstr, 0, u"42", kSOk, 42},
      {kVtBstr, 0, u" 42 ", kSOk, 42},
      {kVtBstr, 0, u"+7", kSOk, 7},
      {kVtBstr, 0, u"4294967295", kSOk, 4294967295u},
      {kVtBstr, 0, u"4294967296", kDispEOverflow, 0},
      {kVtBstr, 0, u"-3", kDispEOverflow, 0},
      {kVtBstr, 0, u"4x", kDispETypeMismatch, 0},
      {kVtBstr, 0, u"", kDispETypeMismatch, 0},
  };
  for (const auto& c : cases) {
    VARIANT v;
    variants.VariantInit(&v);
    v.vt = c.Type;
    if (c.Type == kVtBstr) {
      v.bstrVal = AllocBstr(c.Text);
    } else {
      v.lVal = c.Number;
    }
    const HRESULT result = variants.VariantChangeTypeEx(&v, &v, variants.GetThreadLocale(), 0, kVtUint);
    EXPECT_EQ(result, c.Result) << c.Type << " " << c.Number;
    if (result == kSOk) {
      EXPECT_EQ(v.vt, kVtUint);
      EXPECT_EQ(v.uintVal, c.Converted);
    } else {
      EXPECT_EQ(v.vt, c.Type) << "a failed conversion leaves the value";
    }
    EXPECT_EQ(variants.VariantClear(&v), kSOk);
    EXPECT_EQ(v.vt, kVtEmpty);
  }
}

}  // namespace
