// An in-process server with one class, "QvTest.Counter.1": a counter driven through a dispatch
// table, registered like a control class.
#include <cstring>

#include "platform/com/dispatch.h"
#include "platform/com/objbase.h"
#include "platform/module/factory.h"

namespace {

// {5B0E6F3A-2C1D-4E8B-9A7F-1D2C3B4A5968}
constexpr CLSID kClsid{0x5B0E6F3A, 0x2C1D, 0x4E8B, {0x9A, 0x7F, 0x1D, 0x2C, 0x3B, 0x4A, 0x59, 0x68}};
// {5B0E6F3B-2C1D-4E8B-9A7F-1D2C3B4A5968}
constexpr GUID kLibid{0x5B0E6F3B, 0x2C1D, 0x4E8B, {0x9A, 0x7F, 0x1D, 0x2C, 0x3B, 0x4A, 0x59, 0x68}};

class CCounter final : public CUnknownImpl<IDispatch> {
 public:
  CCounter() { AfxOleLockApp(); }
  ~CCounter() override { AfxOleUnlockApp(); }

  BOOL Add(short sBy) {
    m_lTotal += sBy;
    return TRUE;
  }
  long Total() { return m_lTotal; }
  // The byte length of the text as the module received it.
  long LabelBytes(LPCTSTR szLabel) { return static_cast<long>(std::strlen(szLabel)); }

  HRESULT GetIDsOfNames(std::string_view name, DISPID* dispid) override;
  HRESULT Invoke(DISPID dispid, const DISPPARAMS& params, VARIANT* result, EXCEPINFO* excepInfo,
                 UINT* argErr) override;

 private:
  long m_lTotal = 0;
};

constexpr DispatchEntry kCounterMap[] = {
    {1, "Add", {VT_I2}, VT_BOOL, &Bind<&CCounter::Add>},
    {2, "Total", {}, VT_I4, &Bind<&CCounter::Total>},
    {3, "LabelBytes", {VT_BSTR}, VT_I4, &Bind<&CCounter::LabelBytes>},
};
static_assert(IsValidDispatchTable<CCounter>(kCounterMap));

HRESULT CCounter::GetIDsOfNames(std::string_view name, DISPID* dispid) {
  return ::GetIDsOfNames(kCounterMap, name, dispid);
}

HRESULT CCounter::Invoke(DISPID dispid, const DISPPARAMS& params, VARIANT* result, EXCEPINFO* excepInfo,
                         UINT* argErr) {
  return ::Invoke(kCounterMap, this, dispid, params, result, excepInfo, argErr);
}

IUnknown* CreateCounter() { return static_cast<IDispatch*>(new CCounter); }

class CCounterFactory final : public COleObjectFactory {
 public:
  CCounterFactory() : COleObjectFactory(kClsid, "QvTest.Counter.1", &CreateCounter) {}
  BOOL UpdateRegistry(BOOL bRegister) override {
    if (!bRegister) return AfxOleUnregisterClass(GetClassID(), GetProgID());
    return AfxOleRegisterControlClass(AfxGetModuleFileName(reinterpret_cast<const void*>(&CreateCounter)),
                                      GetClassID(), GetProgID(), "QvTest Counter", 1,
                                      afxRegApartmentThreading, 0x20191, kLibid, 1, 0);
  }
};

CCounterFactory g_factory;

}  // namespace

QV_DLL_EXPORT HRESULT DllGetClassObject(REFCLSID clsid, REFIID riid, void** ppv) {
  return AfxDllGetClassObject(clsid, riid, ppv);
}
QV_DLL_EXPORT HRESULT DllCanUnloadNow() { return AfxDllCanUnloadNow(); }
QV_DLL_EXPORT HRESULT DllRegisterServer() {
  return COleObjectFactory::UpdateRegistryAll(TRUE) ? S_OK : SELFREG_E_CLASS;
}
QV_DLL_EXPORT HRESULT DllUnregisterServer() {
  return COleObjectFactory::UpdateRegistryAll(FALSE) ? S_OK : SELFREG_E_CLASS;
}
