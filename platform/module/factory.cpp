#include "platform/module/factory.h"

#include <dlfcn.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <vector>

#include "platform/com/registry.h"

namespace {

std::atomic<LONG> g_locks{0};

std::vector<COleObjectFactory*>& Factories() {
  static std::vector<COleObjectFactory*> list;
  return list;
}

bool Set(const std::string& key, std::string_view value, std::string_view name = {}) {
  return RegSetString(HKEY_CLASSES_ROOT, key, name, value) == ERROR_SUCCESS;
}

bool DeleteTree(const std::string& key) {
  const LONG r = RegDeleteKeyA(HKEY_CLASSES_ROOT, key.c_str());
  return r == ERROR_SUCCESS || r == ERROR_FILE_NOT_FOUND;
}

}  // namespace

void AfxOleLockApp() { ++g_locks; }
void AfxOleUnlockApp() { --g_locks; }
LONG AfxOleLockCount() { return g_locks.load(); }

COleObjectFactory::COleObjectFactory(REFCLSID clsid, LPCSTR progId, CreateFunction create)
    : m_clsid(clsid), m_progId(progId ? progId : ""), m_create(create) {
  Factories().push_back(this);
}

COleObjectFactory::~COleObjectFactory() {
  auto& list = Factories();
  list.erase(std::remove(list.begin(), list.end(), this), list.end());
}

BOOL COleObjectFactory::UpdateRegistryAll(BOOL bRegister) {
  for (COleObjectFactory* f : Factories()) {
    if (!f->UpdateRegistry(bRegister)) return FALSE;
  }
  return TRUE;
}

COleObjectFactory* COleObjectFactory::Find(REFCLSID clsid) {
  for (COleObjectFactory* f : Factories()) {
    if (f->m_clsid == clsid) return f;
  }
  return nullptr;
}

HRESULT COleObjectFactory::QueryInterface(REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = riid == IID_IUnknown || riid == IID_IClassFactory ? static_cast<IClassFactory*>(this) : nullptr;
  return *ppv ? S_OK : E_NOINTERFACE;
}

HRESULT COleObjectFactory::CreateInstance(IUnknown* outer, REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  if (outer) return CLASS_E_NOAGGREGATION;
  IUnknown* object = m_create ? m_create() : nullptr;
  if (!object) return E_OUTOFMEMORY;
  const HRESULT hr = object->QueryInterface(riid, ppv);
  object->Release();
  return hr;
}

HRESULT COleObjectFactory::LockServer(BOOL lock) {
  if (lock) {
    AfxOleLockApp();
  } else {
    AfxOleUnlockApp();
  }
  return S_OK;
}

HRESULT AfxDllGetClassObject(REFCLSID clsid, REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  COleObjectFactory* f = COleObjectFactory::Find(clsid);
  if (!f) return CLASS_E_CLASSNOTAVAILABLE;
  return f->QueryInterface(riid, ppv);
}

HRESULT AfxDllCanUnloadNow() { return AfxOleLockCount() == 0 ? S_OK : S_FALSE; }

std::string AfxGetModuleFileName(const void* address) {
  Dl_info info{};
  if (!dladdr(address, &info) || !info.dli_fname) return {};
  std::error_code ec;
  const auto absolute = std::filesystem::absolute(info.dli_fname, ec);
  return ec ? std::string(info.dli_fname) : absolute.string();
}

BOOL AfxOleRegisterControlClass(const std::string& modulePath, REFCLSID clsid, LPCSTR progId, LPCSTR typeName,
                                UINT bitmapId, int regFlags, DWORD miscStatus, REFGUID libid,
                                WORD majorVersion, WORD minorVersion) {
  const std::string clsidText = StringFromGUID(clsid);
  const std::string key = "CLSID\\" + clsidText;
  const std::string name = typeName ? typeName : "";
  if (progId && !*progId) progId = nullptr;
  const std::string version = std::to_string(majorVersion) + "." + std::to_string(minorVersion);
  bool ok = Set(key, name) && (!progId || Set(key + "\\ProgID", progId)) &&
            Set(key + "\\InprocServer32", modulePath) &&
            (!(regFlags & afxRegApartmentThreading) ||
             Set(key + "\\InprocServer32", "Apartment", "ThreadingModel")) &&
            Set(key + "\\ToolboxBitmap32", modulePath + ", " + std::to_string(bitmapId)) &&
            Set(key + "\\MiscStatus", "0") && Set(key + "\\MiscStatus\\1", std::to_string(miscStatus)) &&
            Set(key + "\\Control", "") && (!(regFlags & afxRegInsertable) || Set(key + "\\Insertable", "")) &&
            Set(key + "\\TypeLib", StringFromGUID(libid)) && Set(key + "\\Version", version);
  if (ok && progId) ok = Set(progId, name) && Set(std::string(progId) + "\\CLSID", clsidText);
  return ok ? TRUE : FALSE;
}

BOOL AfxOleUnregisterClass(REFCLSID clsid, LPCSTR progId) {
  bool ok = DeleteTree("CLSID\\" + StringFromGUID(clsid));
  if (progId && *progId) ok = DeleteTree(progId) && ok;
  return ok ? TRUE : FALSE;
}
