// The control as a component object: its dispatch interface over the dispatch table, and the
// hooks through which the framework and the registration read the class's identity.
#include <map>
#include <mutex>

#include "control/dispatch_table.h"
#include "control/quelvora_ctrl.h"
#include "control/quelvora_ids.h"
#include "resources/module_resources.h"

namespace {

// Loaded libraries by library ID, kept for the module's lifetime as the framework keeps them.
struct TypeLibCache {
  std::mutex mutex;
  std::map<std::string, CComPtr<ITypeLib>> libs;
};

TypeLibCache& Cache() {
  static TypeLibCache cache;
  return cache;
}

}  // namespace

HRESULT CQuelvoraCtrl::GetIDsOfNames(std::string_view name, DISPID* dispid) {
  return ::GetIDsOfNames(QuelvoraDispatchTable(), name, dispid);
}

HRESULT CQuelvoraCtrl::Invoke(DISPID dispid, const DISPPARAMS& params, VARIANT* result, EXCEPINFO* excepInfo,
                              UINT* argErr) {
  CallScope scope(*this);
  return InvokeQuelvora(*this, dispid, params, result, excepInfo, argErr);
}

UINT CQuelvoraCtrl::GetTypeInfoCount() { return 1; }

HRESULT CQuelvoraCtrl::GetTypeLib(LCID lcid, ITypeLib** lib) {
  if (!lib) return E_POINTER;
  *lib = nullptr;
  TypeLibCache& cache = Cache();
  std::lock_guard<std::mutex> lock(cache.mutex);
  CComPtr<ITypeLib>& cached = cache.libs[StringFromGUID(LIBID_QUELVORALib)];
  if (!cached) {
    if (const HRESULT hr =
            LoadRegTypeLib(LIBID_QUELVORALib, kQuelvoraVerMajor, kQuelvoraVerMinor, lcid, cached.Receive());
        FAILED(hr))
      return hr;
  }
  cached->AddRef();
  *lib = cached.get();
  return S_OK;
}

HRESULT CQuelvoraCtrl::GetClassID(CLSID* clsid) {
  if (!clsid) return E_POINTER;
  *clsid = CLSID_Quelvora;
  return S_OK;
}

UINT CQuelvoraCtrl::GetUserTypeNameID() { return IDS_QUELVORA; }

HINSTANCE CQuelvoraCtrl::GetResourceInstance() { return AfxGetResourceHandle(); }

DWORD CQuelvoraCtrl::GetMiscStatus() { return kQuelvoraMiscStatus; }
