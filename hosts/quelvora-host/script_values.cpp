#include "hosts/quelvora-host/script_values.h"

#include <string_view>

CComVariant ToVariant(const QJSValue& v) {
  if (v.isBool()) return CComVariant(v.toBool());
  if (v.isNumber()) {
    const double d = v.toNumber();
    // Compared before converting: a value outside the range of long (or NaN) has no long value.
    if (d >= -2147483648.0 && d <= 2147483647.0 && d == static_cast<double>(static_cast<LONG>(d)))
      return CComVariant(static_cast<LONG>(d));
    return CComVariant(d);
  }
  // null is the null string (AddClient without a recording file); undefined is empty.
  if (v.isNull()) return CComVariant::NullText();
  if (v.isUndefined()) return CComVariant();
  const QString s = v.toString();
  return CComVariant(
      std::u16string_view(reinterpret_cast<const char16_t*>(s.utf16()), static_cast<size_t>(s.size())));
}

QJSValue FromVariant(const VARIANT& v) {
  switch (v.vt) {
    case VT_BOOL:
      return QJSValue(v.boolVal != 0);
    case VT_I2:
      return QJSValue(static_cast<int>(v.iVal));
    case VT_I4:
      return QJSValue(static_cast<int>(v.lVal));
    case VT_R8:
      return QJSValue(v.dblVal);
    default:
      return QJSValue(QJSValue::UndefinedValue);
  }
}
