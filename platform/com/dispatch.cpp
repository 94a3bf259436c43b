#include "platform/com/dispatch.h"

#include <exception>
#include <limits>

#include "platform/com/widechar.h"

namespace dispatch_detail {

HRESULT StoreResult(std::int64_t value, VARTYPE type, VARIANT* result) {
  if (!result) return S_OK;
  switch (type) {
    case VT_BOOL:
      result->vt = VT_BOOL;
      result->boolVal = value ? VARIANT_TRUE : VARIANT_FALSE;
      return S_OK;
    case VT_I2:
      result->vt = VT_I2;
      result->iVal = static_cast<SHORT>(value);
      return S_OK;
    case VT_I4:
      // A 64-bit long that does not fit the automation long is an overflow, not a wrap.
      if (value < std::numeric_limits<LONG>::min() || value > std::numeric_limits<LONG>::max())
        return DISP_E_OVERFLOW;
      result->vt = VT_I4;
      result->lVal = static_cast<LONG>(value);
      return S_OK;
    default:
      VariantInit(result);
      return S_OK;
  }
}

}  // namespace dispatch_detail

namespace {

HRESULT Fail(HRESULT hr, const DispatchEntry* entry, EXCEPINFO* excepInfo, UINT* argErr, int arg,
             const char* what = nullptr) {
  if (argErr && arg >= 0) *argErr = static_cast<UINT>(arg);
  if (excepInfo) {
    excepInfo->scode = hr;
    excepInfo->source = entry ? entry->name : "";
    const char* text = HResultText(hr);
    excepInfo->description = what ? what : (text ? text : "Unknown error.");
    if (arg >= 0) excepInfo->description += " (argument " + std::to_string(arg + 1) + ")";
  }
  return hr;
}

}  // namespace

const DispatchEntry* FindDispatchEntry(DispatchTable table, DISPID dispid) {
  for (const DispatchEntry& e : table) {
    if (e.dispid == dispid) return &e;
  }
  return nullptr;
}

HRESULT GetIDsOfNames(DispatchTable table, std::string_view name, DISPID* dispid) {
  if (!dispid) return E_POINTER;
  for (const DispatchEntry& e : table) {
    if (dispatch_detail::EqualNoCase(e.name, name)) {
      *dispid = e.dispid;
      return S_OK;
    }
  }
  *dispid = DISPID_UNKNOWN;
  return DISP_E_UNKNOWNNAME;
}

HRESULT InvokeDispatchTable(DispatchTable table, const void* classTag, void* object, DISPID dispid,
                            const DISPPARAMS& params, VARIANT* result, EXCEPINFO* excepInfo, UINT* argErr) {
  if (result) VariantClear(result);
  const DispatchEntry* entry = FindDispatchEntry(table, dispid);
  if (!entry) return Fail(DISP_E_MEMBERNOTFOUND, nullptr, excepInfo, argErr, -1);
  const DispatchBinding* binding = entry->binding;
  if (!binding || binding->classTag != classTag || !object || !(entry->params == binding->params) ||
      (entry->result != binding->resultTypes[0] && entry->result != binding->resultTypes[1]))
    return Fail(E_UNEXPECTED, entry, excepInfo, argErr, -1);
  if (params.rgvarg.size() != entry->params.size())
    return Fail(DISP_E_BADPARAMCOUNT, entry, excepInfo, argErr, -1);

  std::array<DispatchArg, DispatchParams::kMax> args{};
  std::array<std::string, DispatchParams::kMax> texts;
  for (std::size_t i = 0; i < entry->params.size(); ++i) {
    const VARIANT& in = params.rgvarg[i];
    const int index = static_cast<int>(i);
    if (in.vt == VT_ERROR && in.scode == DISP_E_PARAMNOTFOUND)
      return Fail(DISP_E_PARAMNOTOPTIONAL, entry, excepInfo, argErr, index);
    // A null string stays null for a text parameter: the member tells it from the empty text.
    if (in.vt == VT_BSTR && !in.bstrVal && entry->params[i] == VT_BSTR) continue;
    CComVariant coerced;
    const HRESULT hr = VariantChangeType(&coerced, &in, 0, entry->params[i]);
    if (FAILED(hr)) return Fail(hr, entry, excepInfo, argErr, index);
    switch (coerced.vt) {
      case VT_I2:
        args[i].i2 = coerced.iVal;
        break;
      case VT_I4:
        args[i].i4 = coerced.lVal;
        break;
      default:
        texts[i] = WideToMultiByte(BstrView(coerced.bstrVal));
        args[i].text = texts[i].c_str();
        break;
    }
  }

  HRESULT hr = S_OK;
  try {
    hr = binding->thunk(object, args.data(), entry->result, result);
  } catch (const std::exception& e) {
    return Fail(DISP_E_EXCEPTION, entry, excepInfo, argErr, -1, e.what());
  } catch (...) {
    return Fail(DISP_E_EXCEPTION, entry, excepInfo, argErr, -1);
  }
  if (FAILED(hr)) return Fail(hr, entry, excepInfo, argErr, -1);
  return S_OK;
}
