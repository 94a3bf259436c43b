#include "platform/com/variant.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "platform/com/guid.h"
#include "platform/com/widechar.h"

namespace {

// The result of coercing v to vt: the HRESULT, and the value as text when it succeeded.
struct Coerced {
  HRESULT hr;
  std::int64_t number = 0;
  std::u16string text;
};

Coerced To(VARTYPE vt, const CComVariant& v) {
  CComVariant out;
  Coerced c{VariantChangeType(&out, &v, 0, vt), 0, {}};
  if (SUCCEEDED(c.hr)) {
    EXPECT_EQ(out.vt, vt);
    if (vt == VT_I2) c.number = out.iVal;
    if (vt == VT_I4) c.number = out.lVal;
    if (vt == VT_BSTR) c.text = BstrView(out.bstrVal);
  }
  return c;
}

TEST(GuidTest, StringFormRoundTripsAndRejectsMalformedText) {
  constexpr GUID g{0x7DD95801, 0x9882, 0x11CF, {0x9F, 0xA9, 0x00, 0xAA, 0x00, 0x6C, 0x42, 0xC4}};
  EXPECT_EQ(StringFromGUID(g), "{7DD95801-9882-11CF-9FA9-00AA006C42C4}");
  EXPECT_EQ(GUIDFromString("{7dd95801-9882-11cf-9fa9-00aa006c42c4}"), g);
  EXPECT_FALSE(GUIDFromString("7DD95801-9882-11CF-9FA9-00AA006C42C4"));
  EXPECT_FALSE(GUIDFromString("{7DD95801-9882-11CF-9FA900-AA006C42C4}"));
  EXPECT_FALSE(GUIDFromString("{7DD95801-9882-11CF-9FA9-00AA006C42CG}"));
  EXPECT_FALSE(GUIDFromString("{7DD95801-9882-11CF-9FA9-00AA006C42C4}x"));
}

TEST(BstrTest, KeepsLengthAndEmbeddedNulsAndCopiesOnVariantCopy) {
  const char16_t text[] = {u'a', u'\0', u'b'};
  BSTR b = SysAllocStringLen(text, 3);
  EXPECT_EQ(SysStringLen(b), 3u);
  EXPECT_EQ(b[3], u'\0');
  SysFreeString(b);
  EXPECT_EQ(SysStringLen(nullptr), 0u);
  EXPECT_EQ(SysAllocString(nullptr), nullptr);

  CComVariant a(u"hello");
  CComVariant copy(a);
  ASSERT_EQ(copy.vt, VT_BSTR);
  EXPECT_NE(copy.bstrVal, a.bstrVal);
  EXPECT_EQ(BstrView(copy.bstrVal), u"hello");
  CComVariant moved(std::move(copy));
  EXPECT_EQ(copy.vt, VT_EMPTY);
  EXPECT_EQ(BstrView(moved.bstrVal), u"hello");
}

TEST(WideCharTest, ConvertsToTheAnsiCodePageWithDefaultCharacterForTheRest) {
  // "中文" in GB2312 is D6 D0 CE C4; ASCII passes through code page 936 unchanged.
  EXPECT_EQ(WideToMultiByte(u"ab\u4e2d\u6587", 936), "ab\xD6\xD0\xCE\xC4");
  EXPECT_EQ(MultiByteToWide("ab\xD6\xD0\xCE\xC4", 936), u"ab\u4e2d\u6587");
  EXPECT_EQ(WideToMultiByte(u"caf\u00e9", 1252), "caf\xE9");
  // A CJK character and an emoji are not in 1252: '?' for each, the surrogate pair counting as one.
  EXPECT_EQ(WideToMultiByte(u"a\u4e2d\U0001F600b", 1252), "a??b");
  EXPECT_EQ(WideToMultiByte(u"\u00e9", 936), "\xA8\xA6");
  // A lone surrogate is not a character.
  const char16_t lone[] = {u'x', 0xD800, u'y'};
  EXPECT_EQ(WideToMultiByte({lone, 3}, CP_UTF8), "x?y");
  // A byte that starts no character, or a character cut off at the end, becomes U+FFFD and the
  // rest still converts.
  EXPECT_EQ(MultiByteToWide("\xFF"
                            "a",
                            936),
            u"\uFFFDa");
  EXPECT_EQ(MultiByteToWide("a\xD6", 936), u"a\uFFFD");
  EXPECT_EQ(WideToUtf8(Utf8ToWide("\xE4\xB8\xAD")), "\xE4\xB8\xAD");
}

TEST(WideCharTest, UnknownCodePageKeepsAsciiOnly) {
  EXPECT_EQ(WideToMultiByte(u"ab\u00e9", 99999), "ab?");
  EXPECT_EQ(MultiByteToWide("ab\xE9", 99999), u"ab\uFFFD");
}

TEST(VariantChangeTypeTest, ToShortRangeChecksInsteadOfWrapping) {
  EXPECT_EQ(To(VT_I2, CComVariant(LONG{32767})).number, 32767);
  EXPECT_EQ(To(VT_I2, CComVariant(LONG{-32768})).number, -32768);
  EXPECT_EQ(To(VT_I2, CComVariant(LONG{32768})).hr, DISP_E_OVERFLOW);
  EXPECT_EQ(To(VT_I2, CComVariant(LONG{-32769})).hr, DISP_E_OVERFLOW);
  EXPECT_EQ(To(VT_I2, CComVariant(LONG{65536 + 5})).hr, DISP_E_OVERFLOW);
  EXPECT_EQ(To(VT_I4, CComVariant(SHORT{-7})).number, -7);
}

TEST(VariantChangeTypeTest, DoublesRoundHalfToEvenThenRangeCheck) {
  EXPECT_EQ(To(VT_I2, CComVariant(2.5)).number, 2);
  EXPECT_EQ(To(VT_I2, CComVariant(3.5)).number, 4);
  EXPECT_EQ(To(VT_I2, CComVariant(-2.5)).number, -2);
  EXPECT_EQ(To(VT_I2, CComVariant(-3.5)).number, -4);
  EXPECT_EQ(To(VT_I2, CComVariant(2.4999)).number, 2);
  EXPECT_EQ(To(VT_I2, CComVariant(2.5001)).number, 3);
  // -32768.5 rounds to the even -32768, which fits; 32767.5 rounds to 32768, which does not.
  EXPECT_EQ(To(VT_I2, CComVariant(-32768.5)).number, -32768);
  EXPECT_EQ(To(VT_I2, CComVariant(32767.5)).hr, DISP_E_OVERFLOW);
  EXPECT_EQ(To(VT_I2, CComVariant(32767.49)).number, 32767);
  EXPECT_EQ(To(VT_I4, CComVariant(2147483647.4)).number, 2147483647);
  EXPECT_EQ(To(VT_I4, CComVariant(2147483647.5)).hr, DISP_E_OVERFLOW);
  EXPECT_EQ(To(VT_I4, CComVariant(-2147483648.5)).number, -2147483648LL);
  EXPECT_EQ(To(VT_I4, CComVariant(std::numeric_limits<double>::quiet_NaN())).hr, DISP_E_OVERFLOW);
  EXPECT_EQ(To(VT_I4, CComVariant(-std::numeric_limits<double>::infinity())).hr, DISP_E_OVERFLOW);
}

TEST(VariantChangeTypeTest, BooleansEmptyNullAndErrors) {
  EXPECT_EQ(To(VT_I2, CComVariant(true)).number, -1);
  EXPECT_EQ(To(VT_I4, CComVariant(false)).number, 0);
  EXPECT_EQ(To(VT_I2, CComVariant()).number, 0);
  EXPECT_EQ(To(VT_BSTR, CComVariant()).text, u"");
  EXPECT_EQ(To(VT_I2, CComVariant::Null()).hr, DISP_E_TYPEMISMATCH);
  EXPECT_EQ(To(VT_BSTR, CComVariant::Null()).hr, DISP_E_TYPEMISMATCH);
  EXPECT_EQ(To(VT_I4, CComVariant::Missing()).hr, DISP_E_TYPEMISMATCH);
  EXPECT_EQ(To(VT_BOOL, CComVariant(LONG{1})).hr, DISP_E_BADVARTYPE);
}

TEST(VariantChangeTypeTest, NumericStringsParseAndOthersMismatch) {
  EXPECT_EQ(To(VT_I2, CComVariant(u"  42 ")).number, 42);
  EXPECT_EQ(To(VT_I2, CComVariant(u"+7")).number, 7);
  EXPECT_EQ(To(VT_I2, CComVariant(u"-12.5")).number, -12);
  EXPECT_EQ(To(VT_I2, CComVariant(u"13.5")).number, 14);
  EXPECT_EQ(To(VT_I4, CComVariant(u"1.5e3")).number, 1500);
  EXPECT_EQ(To(VT_I4, CComVariant(u".5")).number, 0);
  EXPECT_EQ(To(VT_I4, CComVariant(u"1e-400")).number, 0);
  EXPECT_EQ(To(VT_I2, CComVariant(u"40000")).hr, DISP_E_OVERFLOW);
  EXPECT_EQ(To(VT_I4, CComVariant(u"1e400")).hr, DISP_E_OVERFLOW);
  for (const char16_t* bad : {u"", u"  ", u"abc", u"12abc", u"1.2.3", u"--1", u"1e", u"True", u"."}) {
    EXPECT_EQ(To(VT_I4, CComVariant(bad)).hr, DISP_E_TYPEMISMATCH) << WideToUtf8(bad);
  }
}

TEST(VariantChangeTypeTest, ToTextGivesDecimalForms) {
  EXPECT_EQ(To(VT_BSTR, CComVariant(SHORT{-5})).text, u"-5");
  EXPECT_EQ(To(VT_BSTR, CComVariant(LONG{123456})).text, u"123456");
  EXPECT_EQ(To(VT_BSTR, CComVariant(true)).text, u"-1");
  EXPECT_EQ(To(VT_BSTR, CComVariant(0.1)).text, u"0.1");
  EXPECT_EQ(To(VT_BSTR, CComVariant(1e20)).text, u"1E+20");
  CComVariant alpha(true);
  ASSERT_EQ(alpha.ChangeType(VT_BSTR, VARIANT_ALPHABOOL), S_OK);
  EXPECT_EQ(BstrView(alpha.bstrVal), u"True");
}

TEST(VariantChangeTypeTest, InPlaceChangeAndFailureLeavesDestination) {
  CComVariant v(u"17");
  ASSERT_EQ(v.ChangeType(VT_I2), S_OK);
  EXPECT_EQ(v.vt, VT_I2);
  EXPECT_EQ(v.iVal, 17);
  CComVariant keep(LONG{9});
  const CComVariant big(LONG{100000});
  EXPECT_EQ(VariantChangeType(&keep, &big, 0, VT_I2), DISP_E_OVERFLOW);
  EXPECT_EQ(keep.vt, VT_I4);
  EXPECT_EQ(keep.lVal, 9);
}

}  // namespace
