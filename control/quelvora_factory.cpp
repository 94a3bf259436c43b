#include "control/quelvora_factory.h"

#include <new>

#include "control/quelvora_ctrl.h"
#include "control/quelvora_ids.h"
#include "platform/com/comcat.h"
#include "platform/com/objbase.h"
#include "platform/com/typelib_load.h"
#include "resources/module_resources.h"

namespace {

// A control takes several MB (the client table's assembly buffers, the picture buffer): when they
// cannot be had, the factory answers E_OUTOFMEMORY instead of an exception leaving the module.
IUnknown* CreateQuelvora() {
  try {
    return static_cast<IDispatch*>(new CQuelvoraCtrl);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

// The file of this module (the one that holds this code).
std::string ModulePath() { return AfxGetModuleFileName(reinterpret_cast<const void*>(&CreateQuelvora)); }

// Each step asks for a fresh category manager and lets it go at the end; a manager that cannot be
// made, or a call that fails, ends the registration with FALSE.
template <class Step>
BOOL WithCategoryManager(Step step) {
  CComPtr<ICatRegister> manager;
  if (FAILED(CoCreateInstance(CLSID_StdComponentCategoriesMgr, nullptr, CLSCTX_INPROC_SERVER,
                              IID_ICatRegister, manager.ReceiveVoid())))
    return FALSE;
  return SUCCEEDED(step(manager.get())) ? TRUE : FALSE;
}

BOOL CreateComponentCategory(const CATID& catid, std::u16string_view description) {
  return WithCategoryManager([&](ICatRegister* manager) {
    CATEGORYINFO info{catid, 1033, {}};
    description.copy(info.szDescription, 127);  // at most 127 characters, the rest stays NUL
    return manager->RegisterCategories(1, &info);
  });
}

BOOL RegisterCLSIDInCategory(REFCLSID clsid, const CATID& catid) {
  return WithCategoryManager(
      [&](ICatRegister* manager) { return manager->RegisterClassImplCategories(clsid, 1, &catid); });
}

BOOL UnRegisterCLSIDInCategory(REFCLSID clsid, const CATID& catid) {
  return WithCategoryManager(
      [&](ICatRegister* manager) { return manager->UnRegisterClassImplCategories(clsid, 1, &catid); });
}

class CQuelvoraCtrlFactory final : public COleObjectFactory {
 public:
  CQuelvoraCtrlFactory() : COleObjectFactory(CLSID_Quelvora, kQuelvoraProgID, &CreateQuelvora) {}

  BOOL UpdateRegistry(BOOL bRegister) override {
    if (bRegister) {
      if (!CreateComponentCategory(CATID_SafeForScripting, u"Controls that are safely scriptable"))
        return FALSE;
      if (!RegisterCLSIDInCategory(GetClassID(), CATID_SafeForScripting)) return FALSE;
      if (!CreateComponentCategory(CATID_SafeForInitializing,
                                   u"Controls safely initializable from persistent data"))
        return FALSE;
      if (!RegisterCLSIDInCategory(GetClassID(), CATID_SafeForInitializing)) return FALSE;
      const std::string typeName = LoadResourceString(AfxGetResourceHandle(), IDS_QUELVORA);
      return AfxOleRegisterControlClass(ModulePath(), GetClassID(), GetProgID(), typeName.c_str(),
                                        IDB_QUELVORA, afxRegApartmentThreading, kQuelvoraMiscStatus,
                                        LIBID_QUELVORALib, kQuelvoraVerMajor, kQuelvoraVerMinor);
    }
    // The category definitions stay: other classes may implement them.
    if (!UnRegisterCLSIDInCategory(GetClassID(), CATID_SafeForScripting)) return FALSE;
    if (!UnRegisterCLSIDInCategory(GetClassID(), CATID_SafeForInitializing)) return FALSE;
    return AfxOleUnregisterClass(GetClassID(), GetProgID());
  }
};

CQuelvoraCtrlFactory g_factory;

}  // namespace

COleObjectFactory& QuelvoraFactory() { return g_factory; }

HRESULT QuelvoraRegisterServer() {
  const std::string path = ModulePath();
  TypeLibDescription lib;
  if (FAILED(LoadTypeLibFromResources(AfxGetResourceHandle(), IDR_QUELVORA_TYPELIB, &lib)) ||
      FAILED(RegisterTypeLib(RegistrationOf(lib, path))))
    return SELFREG_E_TYPELIB;
  return COleObjectFactory::UpdateRegistryAll(TRUE) ? S_OK : SELFREG_E_CLASS;
}

HRESULT QuelvoraUnregisterServer() {
  if (FAILED(UnRegisterTypeLib(LIBID_QUELVORALib, kQuelvoraVerMajor, kQuelvoraVerMinor, 0)))
    return SELFREG_E_TYPELIB;
  return COleObjectFactory::UpdateRegistryAll(FALSE) ? S_OK : SELFREG_E_CLASS;
}
