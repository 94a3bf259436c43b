#include "platform/com/objbase.h"

#include <dlfcn.h>

#include <map>
#include <mutex>

#include "platform/com/comcat.h"
#include "platform/com/registry.h"

namespace {

struct Modules {
  std::mutex mutex;
  std::map<std::string, void*> loaded;  // path -> dlopen handle
  std::string lastError;
};

Modules& LoadedModules() {
  static Modules m;
  return m;
}

// The module at path, loaded on first use.
HRESULT ModuleFor(const std::string& path, void** handle) {
  Modules& m = LoadedModules();
  std::lock_guard<std::mutex> lock(m.mutex);
  if (const auto it = m.loaded.find(path); it != m.loaded.end()) {
    *handle = it->second;
    return S_OK;
  }
  void* h = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!h) {
    const char* e = dlerror();
    m.lastError = e ? e : "cannot load " + path;
    return CO_E_DLLNOTFOUND;
  }
  m.loaded.emplace(path, h);
  *handle = h;
  return S_OK;
}

}  // namespace

HRESULT CLSIDFromProgID(LPCSTR progId, CLSID* clsid) {
  if (!progId || !clsid) return E_INVALIDARG;
  *clsid = GUID_NULL;
  const auto text = RegGetString(HKEY_CLASSES_ROOT, std::string(progId) + "\\CLSID");
  if (!text) return CO_E_CLASSSTRING;
  const auto guid = GUIDFromString(*text);
  if (!guid) return CO_E_CLASSSTRING;
  *clsid = *guid;
  return S_OK;
}

HRESULT ProgIDFromCLSID(REFCLSID clsid, std::string* progId) {
  if (!progId) return E_INVALIDARG;
  const auto text = RegGetString(HKEY_CLASSES_ROOT, "CLSID\\" + StringFromGUID(clsid) + "\\ProgID");
  if (!text) return REGDB_E_CLASSNOTREG;
  *progId = *text;
  return S_OK;
}

HRESULT CoGetClassObject(REFCLSID clsid, DWORD clsctx, void*, REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  if (!(clsctx & CLSCTX_INPROC_SERVER)) return REGDB_E_CLASSNOTREG;
  if (clsid == CLSID_StdComponentCategoriesMgr)
    return StdComponentCategoriesMgrClassObject()->QueryInterface(riid, ppv);

  const auto path = RegGetString(HKEY_CLASSES_ROOT, "CLSID\\" + StringFromGUID(clsid) + "\\InprocServer32");
  if (!path || path->empty()) return REGDB_E_CLASSNOTREG;
  void* module = nullptr;
  if (const HRESULT hr = ModuleFor(*path, &module); FAILED(hr)) return hr;
  const auto getClassObject = reinterpret_cast<LPFNGETCLASSOBJECT>(dlsym(module, "DllGetClassObject"));
  if (!getClassObject) return CO_E_ERRORINDLL;
  // Not under the module lock: the module may create other objects while answering.
  return getClassObject(clsid, riid, ppv);
}

HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer, DWORD clsctx, REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  CComPtr<IClassFactory> factory;
  if (const HRESULT hr = CoGetClassObject(clsid, clsctx, nullptr, IID_IClassFactory, factory.ReceiveVoid());
      FAILED(hr))
    return hr;
  return factory->CreateInstance(outer, riid, ppv);
}

HRESULT CoCreateInstanceFromProgID(LPCSTR progId, REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  CLSID clsid;
  if (const HRESULT hr = CLSIDFromProgID(progId, &clsid); FAILED(hr)) return hr;
  return CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, riid, ppv);
}

void CoFreeUnusedLibraries() {
  Modules& m = LoadedModules();
  std::lock_guard<std::mutex> lock(m.mutex);
  for (auto it = m.loaded.begin(); it != m.loaded.end();) {
    const auto canUnload = reinterpret_cast<LPFNCANUNLOADNOW>(dlsym(it->second, "DllCanUnloadNow"));
    if (canUnload && canUnload() == S_OK) {
      dlclose(it->second);
      it = m.loaded.erase(it);
    } else {
      ++it;
    }
  }
}

bool CoIsModuleLoaded(const std::string& path) {
  Modules& m = LoadedModules();
  std::lock_guard<std::mutex> lock(m.mutex);
  return m.loaded.count(path) > 0;
}

std::string CoLastLoadError() {
  Modules& m = LoadedModules();
  std::lock_guard<std::mutex> lock(m.mutex);
  return m.lastError;
}
