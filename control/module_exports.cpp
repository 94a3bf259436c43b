// The exports of the control's module "QUELVORA.OCX": self-registration, the class object, the
// unload answer, and the resource directory through which other programs read its resources.
#include "control/quelvora_factory.h"
#include "platform/com/objbase.h"
#include "platform/module/control_module.h"
#include "resources/module_resources.h"

namespace {

class CQuelvoraModule final : public COleControlModule {
 public:
  BOOL InitInstance() override { return COleControlModule::InitInstance(); }
  int ExitInstance() override { return COleControlModule::ExitInstance(); }
};

CQuelvoraModule theQuelvoraModule;

// Starts the module object when the module is loaded and ends it when it is unloaded; declared
// after the module object, so made after it and destroyed before it.
struct ModuleLifetime {
  ModuleLifetime() { theQuelvoraModule.InitInstance(); }
  ~ModuleLifetime() { theQuelvoraModule.ExitInstance(); }
} theModuleLifetime;

}  // namespace

QV_DLL_EXPORT HRESULT DllRegisterServer() { return QuelvoraRegisterServer(); }
QV_DLL_EXPORT HRESULT DllUnregisterServer() { return QuelvoraUnregisterServer(); }
QV_DLL_EXPORT HRESULT DllGetClassObject(REFCLSID clsid, REFIID riid, void** ppv) {
  return AfxDllGetClassObject(clsid, riid, ppv);
}
QV_DLL_EXPORT HRESULT DllCanUnloadNow() { return AfxDllCanUnloadNow(); }
QV_DLL_EXPORT HINSTANCE QvModuleResources() { return AfxGetResourceHandle(); }
