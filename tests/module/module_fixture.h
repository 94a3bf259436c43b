// Tests of the control's module as a container and a registration tool meet it: loaded by path
// with dlopen, registered into a registry file of the test's own.
#pragma once

#include <dlfcn.h>

#include <filesystem>
#include <string>
#include <vector>

#include "platform/com/dispatch.h"
#include "platform/com/objbase.h"
#include "platform/com/registry.h"
#include "tests/platform/com/registry_fixture.h"

inline const std::string kModulePath = std::filesystem::absolute(QV_QUELVORA_MODULE).string();

class ModuleTest : public RegistryFileTest {
 protected:
  void TearDown() override {
    CoFreeUnusedLibraries();
    RegistryFileTest::TearDown();
  }

  // Calls an export the way a registration tool does: load, call, unload.
  static HRESULT RunExport(const char* name) {
    void* h = dlopen(kModulePath.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!h) return CO_E_DLLNOTFOUND;
    const auto fn = reinterpret_cast<LPFNREGISTERSERVER>(dlsym(h, name));
    const HRESULT hr = fn ? fn() : CO_E_ERRORINDLL;
    dlclose(h);
    return hr;
  }

  static HRESULT Call(IDispatch* d, std::string_view name, std::vector<CComVariant> args,
                      CComVariant* result) {
    DISPID id = DISPID_UNKNOWN;
    if (const HRESULT hr = d->GetIDsOfNames(name, &id); FAILED(hr)) return hr;
    DISPPARAMS p{std::move(args)};
    return d->Invoke(id, p, result, nullptr, nullptr);
  }

  static bool Has(std::string_view key) { return RegKeyExists(HKEY_CLASSES_ROOT, key); }
  static std::optional<std::string> Get(std::string_view key, std::string_view value = {}) {
    return RegGetString(HKEY_CLASSES_ROOT, key, value);
  }
};

inline const std::string kClsidText = "{3C8E4A51-7B2D-4F19-A6C3-5E1D9B0F7A21}";
inline const std::string kLibidText = "{3C8E4A52-7B2D-4F19-A6C3-5E1D9B0F7A21}";
inline const std::string kClassKey = "CLSID\\" + kClsidText;
inline const std::string kProgId = "QUELVORA.QuelvoraCtrl.1";
inline const std::string kScriptingCat = "{7DD95801-9882-11CF-9FA9-00AA006C42C4}";
inline const std::string kInitializingCat = "{7DD95802-9882-11CF-9FA9-00AA006C42C4}";
