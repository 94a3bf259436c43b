#include "platform/com/comcat.h"

#include <cstdio>
#include <mutex>

#include "platform/com/registry.h"
#include "platform/com/widechar.h"

namespace {

std::mutex g_faultMutex;
CatRegisterFaults g_faults;
int g_callsOfFailMethod = 0;

// True when this call of `method` is the one to fail.
bool Injected(const char* method, HRESULT& result) {
  std::lock_guard<std::mutex> lock(g_faultMutex);
  if (g_faults.failMethod != method) return false;
  if (++g_callsOfFailMethod != g_faults.failOnCall) return false;
  result = g_faults.result;
  return true;
}

HRESULT FromRegistry(LONG error) { return error == ERROR_SUCCESS ? S_OK : HRESULT_FROM_WIN32(error); }

std::string ImplementedKey(REFCLSID clsid, REFGUID catid) {
  return "CLSID\\" + StringFromGUID(clsid) + "\\Implemented Categories\\" + StringFromGUID(catid);
}

class CStdComponentCategoriesMgr final : public CUnknownImpl<ICatRegister> {
 public:
  HRESULT RegisterCategories(ULONG count, const CATEGORYINFO* categories) override {
    if (HRESULT hr = S_OK; Injected("RegisterCategories", hr)) return hr;
    if (count && !categories) return E_POINTER;
    for (ULONG i = 0; i < count; ++i) {
      const CATEGORYINFO& c = categories[i];
      const OLECHAR* d = c.szDescription;
      size_t length = 0;
      while (length < 127 && d[length]) ++length;
      char name[16];
      std::snprintf(name, sizeof name, "%x", c.lcid);
      const LONG r = RegSetString(HKEY_CLASSES_ROOT, "Component Categories\\" + StringFromGUID(c.catid), name,
                                  WideToUtf8({d, length}));
      if (r != ERROR_SUCCESS) return FromRegistry(r);
    }
    return S_OK;
  }

  HRESULT UnRegisterCategories(ULONG count, const CATID* catids) override {
    if (HRESULT hr = S_OK; Injected("UnRegisterCategories", hr)) return hr;
    if (count && !catids) return E_POINTER;
    for (ULONG i = 0; i < count; ++i) {
      const std::string key = "Component Categories\\" + StringFromGUID(catids[i]);
      const LONG r = RegDeleteKeyA(HKEY_CLASSES_ROOT, key.c_str());
      if (r != ERROR_SUCCESS && r != ERROR_FILE_NOT_FOUND) return FromRegistry(r);
    }
    return S_OK;
  }

  HRESULT RegisterClassImplCategories(REFCLSID clsid, ULONG count, const CATID* catids) override {
    if (HRESULT hr = S_OK; Injected("RegisterClassImplCategories", hr)) return hr;
    if (count && !catids) return E_POINTER;
    for (ULONG i = 0; i < count; ++i) {
      HKEY key = nullptr;
      const LONG r = RegCreateKeyA(HKEY_CLASSES_ROOT, ImplementedKey(clsid, catids[i]).c_str(), &key);
      if (r != ERROR_SUCCESS) return FromRegistry(r);
      RegCloseKey(key);
    }
    return S_OK;
  }

  HRESULT UnRegisterClassImplCategories(REFCLSID clsid, ULONG count, const CATID* catids) override {
    if (HRESULT hr = S_OK; Injected("UnRegisterClassImplCategories", hr)) return hr;
    if (count && !catids) return E_POINTER;
    for (ULONG i = 0; i < count; ++i) {
      const LONG r = RegDeleteKeyA(HKEY_CLASSES_ROOT, ImplementedKey(clsid, catids[i]).c_str());
      if (r != ERROR_SUCCESS && r != ERROR_FILE_NOT_FOUND) return FromRegistry(r);
    }
    return S_OK;
  }
};

class CManagerClassObject final : public IClassFactory {
 public:
  HRESULT QueryInterface(REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    *ppv = riid == IID_IUnknown || riid == IID_IClassFactory ? this : nullptr;
    return *ppv ? S_OK : E_NOINTERFACE;
  }
  // The class object lives as long as the process.
  ULONG AddRef() override { return 2; }
  ULONG Release() override { return 1; }

  HRESULT CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (outer) return CLASS_E_NOAGGREGATION;
    {
      std::lock_guard<std::mutex> lock(g_faultMutex);
      if (g_faults.failCreation) return g_faults.result;
    }
    auto* manager = new CStdComponentCategoriesMgr;
    const HRESULT hr = manager->QueryInterface(riid, ppv);
    manager->Release();
    return hr;
  }
  HRESULT LockServer(BOOL) override { return S_OK; }
};

}  // namespace

IClassFactory* StdComponentCategoriesMgrClassObject() {
  static CManagerClassObject object;
  return &object;
}

void SetCatRegisterFaultsForTesting(const CatRegisterFaults& faults) {
  std::lock_guard<std::mutex> lock(g_faultMutex);
  g_faults = faults;
  g_callsOfFailMethod = 0;
}
