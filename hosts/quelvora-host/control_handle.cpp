#include "hosts/quelvora-host/control_handle.h"

#include "control/dispatch_table.h"
#include "control/quelvora_ctrl.h"

ControlHandle::ControlHandle(QJSEngine* engine, std::unique_ptr<CQuelvoraCtrl> control)
    : engine_(engine), control_(std::move(control)) {}

ControlHandle::~ControlHandle() = default;

QStringList ControlHandle::MethodNames() {
  QStringList names;
  for (const DispatchEntry& e : QuelvoraDispatchTable()) names << QString::fromLatin1(e.name);
  return names;
}

namespace {

// A script value as the variant a container passes: numbers, booleans and texts.
CComVariant ToVariant(const QJSValue& v) {
  if (v.isBool()) return CComVariant(v.toBool());
  if (v.isNumber()) {
    const double d = v.toNumber();
    if (d == static_cast<double>(static_cast<LONG>(d))) return CComVariant(static_cast<LONG>(d));
    return CComVariant(d);
  }
  if (v.isNull() || v.isUndefined()) return CComVariant();
  const QString s = v.toString();
  return CComVariant(std::u16string_view(reinterpret_cast<const char16_t*>(s.utf16()), static_cast<size_t>(s.size())));
}

QJSValue FromVariant(const VARIANT& v) {
  switch (v.vt) {
    case VT_BOOL: return QJSValue(v.boolVal != 0);
    case VT_I2: return QJSValue(static_cast<int>(v.iVal));
    case VT_I4: return QJSValue(static_cast<int>(v.lVal));
    case VT_R8: return QJSValue(v.dblVal);
    default: return QJSValue(QJSValue::UndefinedValue);
  }
}

}  // namespace

QJSValue ControlHandle::call(const QString& name, const QJSValue& args) {
  DISPID dispid = DISPID_UNKNOWN;
  if (FAILED(GetIDsOfNames(QuelvoraDispatchTable(), name.toStdString(), &dispid))) {
    engine_->throwError(QJSValue::ReferenceError, "no method " + name);
    return {};
  }
  DISPPARAMS params;
  const int n = args.property("length").toInt();
  for (int i = 0; i < n; ++i) params.rgvarg.push_back(ToVariant(args.property(static_cast<quint32>(i))));
  CComVariant result;
  EXCEPINFO info;
  const HRESULT hr = InvokeQuelvora(*control_, dispid, params, &result, &info, nullptr);
  if (FAILED(hr)) {
    engine_->throwError(QJSValue::TypeError,
                        QString("%1: %2 (0x%3)")
                            .arg(name, QString::fromStdString(info.description))
                            .arg(static_cast<quint32>(hr), 8, 16, QChar('0')));
    return {};
  }
  return FromVariant(result);
}
