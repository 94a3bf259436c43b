// VARIANT: the automation value, and the coercions OLE Automation applies between its types.
#pragma once

#include <string_view>

#include "platform/com/bstr.h"
#include "platform/com/hresult.h"

using VARTYPE = USHORT;
constexpr VARTYPE VT_EMPTY = 0;
constexpr VARTYPE VT_NULL = 1;
constexpr VARTYPE VT_I2 = 2;
constexpr VARTYPE VT_I4 = 3;
constexpr VARTYPE VT_R8 = 5;
constexpr VARTYPE VT_BSTR = 8;
constexpr VARTYPE VT_ERROR = 10;
constexpr VARTYPE VT_BOOL = 11;

using VARIANT_BOOL = SHORT;
constexpr VARIANT_BOOL VARIANT_TRUE = -1;
constexpr VARIANT_BOOL VARIANT_FALSE = 0;

// VariantChangeType flags: a boolean becomes "True"/"False" instead of "-1"/"0".
constexpr USHORT VARIANT_ALPHABOOL = 0x2;

struct VARIANT {
  VARTYPE vt;
  union {
    SHORT iVal;
    LONG lVal;
    double dblVal;
    VARIANT_BOOL boolVal;
    SCODE scode;
    BSTR bstrVal;
  };
};

void VariantInit(VARIANT* v);
// Frees what the variant owns and leaves it VT_EMPTY.
HRESULT VariantClear(VARIANT* v);
HRESULT VariantCopy(VARIANT* dest, const VARIANT* src);

// Converts src to type vt into dest (dest may be src). Targets VT_EMPTY, VT_I2, VT_I4 and VT_BSTR
// are supported; any other target is DISP_E_BADVARTYPE.
//  - to VT_I2 / VT_I4: empty is 0; a boolean is -1 or 0; a double is rounded half to even, then a
//    value outside the type is DISP_E_OVERFLOW (as is NaN), never a wrap; a string is parsed as a
//    decimal number ("  -12.5e1 ": blanks around, sign, fraction, exponent) and then rounded and
//    range-checked the same way; any other text is DISP_E_TYPEMISMATCH. Null and error values
//    are DISP_E_TYPEMISMATCH.
//  - to VT_BSTR: empty is "", booleans "-1"/"0" (or "True"/"False" with VARIANT_ALPHABOOL),
//    numbers their decimal text (doubles with up to 15 significant digits).
// On failure dest is left unchanged.
HRESULT VariantChangeType(VARIANT* dest, const VARIANT* src, USHORT flags, VARTYPE vt);

// Owns one VARIANT.
class CComVariant : public VARIANT {
 public:
  CComVariant() { VariantInit(this); }
  explicit CComVariant(bool b) : CComVariant() { SetBool(b); }
  explicit CComVariant(SHORT s) : CComVariant() {
    vt = VT_I2;
    iVal = s;
  }
  explicit CComVariant(LONG l) : CComVariant() {
    vt = VT_I4;
    lVal = l;
  }
  explicit CComVariant(double d) : CComVariant() {
    vt = VT_R8;
    dblVal = d;
  }
  explicit CComVariant(std::u16string_view text) : CComVariant() {
    vt = VT_BSTR;
    bstrVal = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
  }
  explicit CComVariant(const char16_t* text) : CComVariant(std::u16string_view(text)) {}
  CComVariant(const CComVariant& o) : CComVariant() { VariantCopy(this, &o); }
  explicit CComVariant(const VARIANT& o) : CComVariant() { VariantCopy(this, &o); }
  CComVariant(CComVariant&& o) noexcept : VARIANT(o) { VariantInit(&o); }
  CComVariant& operator=(const CComVariant& o) {
    if (this != &o) VariantCopy(this, &o);
    return *this;
  }
  CComVariant& operator=(CComVariant&& o) noexcept {
    if (this != &o) {
      VariantClear(this);
      static_cast<VARIANT&>(*this) = o;
      VariantInit(&o);
    }
    return *this;
  }
  ~CComVariant() { VariantClear(this); }

  // An argument left out by the caller: VT_ERROR with DISP_E_PARAMNOTFOUND.
  static CComVariant Missing();
  static CComVariant Null();
  // A text argument with no text at all (VT_BSTR holding a null BSTR), as a container passes a
  // null string; it differs from the empty text.
  static CComVariant NullText();
  static CComVariant FromUtf8(std::string_view utf8);

  void SetBool(bool b) {
    VariantClear(this);
    vt = VT_BOOL;
    boolVal = b ? VARIANT_TRUE : VARIANT_FALSE;
  }
  HRESULT ChangeType(VARTYPE to, USHORT flags = 0) { return VariantChangeType(this, this, flags, to); }
  // Takes over the value; the caller clears it.
  VARIANT Detach() {
    VARIANT v = *this;
    VariantInit(this);
    return v;
  }
};
