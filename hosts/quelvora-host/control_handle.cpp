#include "hosts/quelvora-host/control_handle.h"

#include <cstdio>

#include "control/dispatch_table.h"
#include "platform/com/registry.h"
#include "platform/com/typelib_load.h"
#include "platform/ui/oleobject.h"

ControlHandle::ControlHandle(QJSEngine* engine, CComPtr<IDispatch> dispatch, CQuelvoraCtrl* builtIn,
                             QStringList methods)
    : engine_(engine), dispatch_(std::move(dispatch)), builtIn_(builtIn), methods_(std::move(methods)) {}

// The last reference goes here: the control stops what runs and leaves the form.
ControlHandle::~ControlHandle() = default;

QWidget* ControlHandle::Widget() const {
  CComPtr<IOleWindow> window;
  HWND hwnd = nullptr;
  if (FAILED(dispatch_->QueryInterface(IID_IOleWindow, window.ReceiveVoid())) ||
      FAILED(window->GetWindow(&hwnd)))
    return nullptr;
  CWnd* wnd = CWnd::FromHandle(hwnd);
  return wnd ? wnd->Widget() : nullptr;
}

QStringList ControlHandle::BuiltInMethodNames() {
  QStringList names;
  for (const DispatchEntry& e : QuelvoraDispatchTable()) names << QString::fromLatin1(e.name);
  return names;
}

QStringList ControlHandle::RegisteredMethodNames(REFCLSID clsid) {
  // As a container learns a class's members: the library named by the class's registration, the
  // class in it, and the class's default (not event) interface.
  const std::string key = "CLSID\\" + StringFromGUID(clsid);
  const auto libidText = RegGetString(HKEY_CLASSES_ROOT, key + "\\TypeLib");
  const auto version = RegGetString(HKEY_CLASSES_ROOT, key + "\\Version");
  const auto libid = libidText ? GUIDFromString(*libidText) : std::nullopt;
  unsigned major = 0;
  unsigned minor = 0;
  if (!libid || !version || std::sscanf(version->c_str(), "%u.%u", &major, &minor) != 2) return {};
  CComPtr<ITypeLib> lib;
  if (FAILED(LoadRegTypeLib(*libid, static_cast<WORD>(major), static_cast<WORD>(minor), 0, lib.Receive())))
    return {};
  const TypeLibDescription& d = lib->Description();
  QStringList names;
  for (const TypeLibTypeInfo& t : d.types) {
    if (t.kind != TypeKind::CoClass || t.guid != clsid) continue;
    for (const TypeLibImplType& impl : t.implTypes) {
      const TypeLibTypeInfo* itf = impl.isDefault && !impl.isSource ? d.Find(impl.name) : nullptr;
      if (!itf) continue;
      for (const TypeLibFunc& f : itf->funcs) names << QString::fromStdString(f.name);
    }
  }
  return names;
}

namespace {

// A script value as the variant a container passes: numbers, booleans, texts and null.
CComVariant ToVariant(const QJSValue& v) {
  if (v.isBool()) return CComVariant(v.toBool());
  if (v.isNumber()) {
    const double d = v.toNumber();
    if (d == static_cast<double>(static_cast<LONG>(d))) return CComVariant(static_cast<LONG>(d));
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

}  // namespace

QJSValue ControlHandle::call(const QString& name, const QJSValue& args) {
  DISPID dispid = DISPID_UNKNOWN;
  if (FAILED(dispatch_->GetIDsOfNames(name.toStdString(), &dispid))) {
    engine_->throwError(QJSValue::ReferenceError, "no method " + name);
    return {};
  }
  DISPPARAMS params;
  const int n = args.property("length").toInt();
  for (int i = 0; i < n; ++i) params.rgvarg.push_back(ToVariant(args.property(static_cast<quint32>(i))));
  CComVariant result;
  EXCEPINFO info;
  const HRESULT hr = dispatch_->Invoke(dispid, params, &result, &info, nullptr);
  if (FAILED(hr)) {
    engine_->throwError(QJSValue::TypeError, QString("%1: %2 (0x%3)")
                                                 .arg(name, QString::fromStdString(info.description))
                                                 .arg(static_cast<quint32>(hr), 8, 16, QChar('0')));
    return {};
  }
  return FromVariant(result);
}
