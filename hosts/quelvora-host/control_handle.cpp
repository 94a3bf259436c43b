#include "hosts/quelvora-host/control_handle.h"

#include <cstdio>

#include "control/dispatch_table.h"
#include "hosts/quelvora-host/script_values.h"
#include "platform/com/registry.h"
#include "platform/com/typelib_load.h"
#include "platform/ui/oleobject.h"

ControlHandle::ControlHandle(QJSEngine* engine, CComPtr<IDispatch> dispatch, CQuelvoraCtrl* builtIn,
                             QStringList methods)
    : engine_(engine), dispatch_(std::move(dispatch)), builtIn_(builtIn), methods_(std::move(methods)) {}

// The last reference goes here (unless Close gave it up before): the control stops what runs and
// leaves the form.
ControlHandle::~ControlHandle() = default;

void ControlHandle::Close() {
  builtIn_ = nullptr;
  dispatch_.Release();
}

QWidget* ControlHandle::Widget() const {
  if (!dispatch_) return nullptr;
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

QJSValue ControlHandle::call(const QString& name, const QJSValue& args) {
  if (!dispatch_) {
    engine_->throwError(QJSValue::TypeError, name + ": the control was destroyed");
    return {};
  }
  // The script may close this handle from a box the call shows; the control itself then goes
  // when the call returns (it keeps itself while one of its calls runs).
  IDispatch* const dispatch = dispatch_.get();
  DISPID dispid = DISPID_UNKNOWN;
  if (FAILED(dispatch->GetIDsOfNames(name.toStdString(), &dispid))) {
    engine_->throwError(QJSValue::ReferenceError, "no method " + name);
    return {};
  }
  DISPPARAMS params;
  const int n = args.property("length").toInt();
  for (int i = 0; i < n; ++i) params.rgvarg.push_back(ToVariant(args.property(static_cast<quint32>(i))));
  CComVariant result;
  EXCEPINFO info;
  const HRESULT hr = dispatch->Invoke(dispid, params, &result, &info, nullptr);
  if (FAILED(hr)) {
    engine_->throwError(QJSValue::TypeError, QString("%1: %2 (0x%3)")
                                                 .arg(name, QString::fromStdString(info.description))
                                                 .arg(static_cast<quint32>(hr), 8, 16, QChar('0')));
    return {};
  }
  return FromVariant(result);
}
