#include "platform/com/variant.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>

#include "platform/com/widechar.h"

namespace {

// Round half to even, as the automation conversions do.
double BankersRound(double x) {
  const double down = std::floor(x);
  const double frac = x - down;
  if (frac > 0.5) return down + 1;
  if (frac < 0.5) return down;
  return std::fmod(down, 2.0) == 0.0 ? down : down + 1;
}

bool IsBlank(char16_t c) { return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n'; }

// A decimal number with optional blanks around it, sign, fraction and exponent.
std::optional<double> ParseNumber(std::u16string_view text) {
  size_t b = 0;
  size_t e = text.size();
  while (b < e && IsBlank(text[b])) ++b;
  while (e > b && IsBlank(text[e - 1])) --e;
  std::string ascii;
  size_t digits = 0;
  size_t i = b;
  auto isDigit = [&](size_t k) { return k < e && text[k] >= u'0' && text[k] <= u'9'; };
  if (i < e && (text[i] == u'+' || text[i] == u'-')) ascii.push_back(static_cast<char>(text[i++]));
  for (; isDigit(i); ++i, ++digits) ascii.push_back(static_cast<char>(text[i]));
  if (i < e && text[i] == u'.') {
    ascii.push_back('.');
    for (++i; isDigit(i); ++i, ++digits) ascii.push_back(static_cast<char>(text[i]));
  }
  if (digits == 0) return std::nullopt;
  bool negativeExponent = false;
  if (i < e && (text[i] == u'e' || text[i] == u'E')) {
    ascii.push_back('e');
    ++i;
    if (i < e && (text[i] == u'+' || text[i] == u'-')) {
      negativeExponent = text[i] == u'-';
      ascii.push_back(static_cast<char>(text[i++]));
    }
    if (!isDigit(i)) return std::nullopt;
    for (; isDigit(i); ++i) ascii.push_back(static_cast<char>(text[i]));
  }
  if (i != e) return std::nullopt;
  // from_chars takes no leading '+' and is independent of the process locale.
  const char* first = ascii.data();
  if (*first == '+') ++first;
  double value = 0;
  const auto [ptr, ec] = std::from_chars(first, ascii.data() + ascii.size(), value);
  if (ec == std::errc::result_out_of_range) {
    // Too small a magnitude is zero; too large one overflows every integer type.
    if (negativeExponent) return 0.0;
    return std::numeric_limits<double>::infinity();
  }
  if (ec != std::errc() || ptr != ascii.data() + ascii.size()) return std::nullopt;
  return value;
}

// The integer value of src rounded and checked against [lo, hi].
HRESULT ToInteger(const VARIANT& src, std::int64_t lo, std::int64_t hi, std::int64_t& out) {
  double d = 0;
  switch (src.vt) {
    case VT_EMPTY:
      out = 0;
      return S_OK;
    case VT_BOOL:
      out = src.boolVal ? -1 : 0;
      return S_OK;
    case VT_I2:
      out = src.iVal;
      break;
    case VT_I4:
      out = src.lVal;
      break;
    case VT_R8:
      d = src.dblVal;
      break;
    case VT_BSTR: {
      const auto parsed = ParseNumber(BstrView(src.bstrVal));
      if (!parsed) return DISP_E_TYPEMISMATCH;
      d = *parsed;
      break;
    }
    case VT_NULL:
    case VT_ERROR:
      return DISP_E_TYPEMISMATCH;
    default:
      return DISP_E_BADVARTYPE;
  }
  if (src.vt == VT_R8 || src.vt == VT_BSTR) {
    if (std::isnan(d)) return DISP_E_OVERFLOW;
    const double r = BankersRound(d);
    if (r < static_cast<double>(lo) || r > static_cast<double>(hi)) return DISP_E_OVERFLOW;
    out = static_cast<std::int64_t>(r);
    return S_OK;
  }
  if (out < lo || out > hi) return DISP_E_OVERFLOW;
  return S_OK;
}

std::u16string Ascii(const std::string& s) { return std::u16string(s.begin(), s.end()); }

std::u16string FormatDouble(double d) {
  char buf[64];
  const auto [ptr, ec] = std::to_chars(buf, buf + sizeof buf, d, std::chars_format::general, 15);
  const char* end = ec == std::errc() ? ptr : buf;
  // Negative zero prints as zero.
  if (end - buf == 2 && buf[0] == '-' && buf[1] == '0') return u"0";
  std::u16string out;
  out.reserve(static_cast<size_t>(end - buf));
  for (const char* c = buf; c != end; ++c) out.push_back(*c == 'e' ? u'E' : static_cast<char16_t>(*c));
  return out;
}

HRESULT ToText(const VARIANT& src, USHORT flags, std::u16string& out) {
  switch (src.vt) {
    case VT_EMPTY:
      out.clear();
      return S_OK;
    case VT_BOOL:
      if (flags & VARIANT_ALPHABOOL) {
        out = src.boolVal ? u"True" : u"False";
      } else {
        out = src.boolVal ? u"-1" : u"0";
      }
      return S_OK;
    case VT_I2:
      out = Ascii(std::to_string(src.iVal));
      return S_OK;
    case VT_I4:
      out = Ascii(std::to_string(src.lVal));
      return S_OK;
    case VT_R8:
      out = FormatDouble(src.dblVal);
      return S_OK;
    case VT_BSTR:
      out = BstrView(src.bstrVal);
      return S_OK;
    case VT_NULL:
    case VT_ERROR:
      return DISP_E_TYPEMISMATCH;
    default:
      return DISP_E_BADVARTYPE;
  }
}

}  // namespace

void VariantInit(VARIANT* v) {
  v->vt = VT_EMPTY;
  v->dblVal = 0;
}

HRESULT VariantClear(VARIANT* v) {
  if (!v) return E_INVALIDARG;
  if (v->vt == VT_BSTR) SysFreeString(v->bstrVal);
  VariantInit(v);
  return S_OK;
}

HRESULT VariantCopy(VARIANT* dest, const VARIANT* src) {
  if (!dest || !src) return E_INVALIDARG;
  if (dest == src) return S_OK;
  VARIANT copy = *src;
  if (src->vt == VT_BSTR && src->bstrVal) {
    copy.bstrVal = SysAllocStringLen(src->bstrVal, SysStringLen(src->bstrVal));
    if (!copy.bstrVal) return E_OUTOFMEMORY;
  }
  VariantClear(dest);
  *dest = copy;
  return S_OK;
}

HRESULT VariantChangeType(VARIANT* dest, const VARIANT* src, USHORT flags, VARTYPE vt) {
  if (!dest || !src) return E_INVALIDARG;
  VARIANT result;
  VariantInit(&result);
  switch (vt) {
    case VT_EMPTY:
      break;
    case VT_I2:
    case VT_I4: {
      std::int64_t value = 0;
      const bool shortTarget = vt == VT_I2;
      const HRESULT hr = shortTarget ? ToInteger(*src, INT16_MIN, INT16_MAX, value)
                                     : ToInteger(*src, INT32_MIN, INT32_MAX, value);
      if (FAILED(hr)) return hr;
      result.vt = vt;
      if (shortTarget) {
        result.iVal = static_cast<SHORT>(value);
      } else {
        result.lVal = static_cast<LONG>(value);
      }
      break;
    }
    case VT_BSTR: {
      std::u16string text;
      const HRESULT hr = ToText(*src, flags, text);
      if (FAILED(hr)) return hr;
      result.vt = VT_BSTR;
      result.bstrVal = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
      if (!result.bstrVal) return E_OUTOFMEMORY;
      break;
    }
    default:
      return DISP_E_BADVARTYPE;
  }
  VariantClear(dest);
  *dest = result;
  return S_OK;
}

CComVariant CComVariant::Missing() {
  CComVariant v;
  v.vt = VT_ERROR;
  v.scode = DISP_E_PARAMNOTFOUND;
  return v;
}

CComVariant CComVariant::Null() {
  CComVariant v;
  v.vt = VT_NULL;
  return v;
}

CComVariant CComVariant::NullText() {
  CComVariant v;
  v.vt = VT_BSTR;
  v.bstrVal = nullptr;
  return v;
}

CComVariant CComVariant::FromUtf8(std::string_view utf8) { return CComVariant(Utf8ToWide(utf8)); }
