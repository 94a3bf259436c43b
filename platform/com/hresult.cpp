#include "platform/com/hresult.h"

const char* HResultText(HRESULT hr) {
  switch (hr) {
    case S_OK:
      return "The operation completed successfully.";
    case E_FAIL:
      return "Unspecified error.";
    case E_OUTOFMEMORY:
      return "Out of memory.";
    case E_INVALIDARG:
      return "The parameter is incorrect.";
    case E_NOINTERFACE:
      return "No such interface supported.";
    case E_POINTER:
      return "Invalid pointer.";
    case E_NOTIMPL:
      return "Not implemented.";
    case E_UNEXPECTED:
      return "Catastrophic failure.";
    case CLASS_E_NOAGGREGATION:
      return "Class does not support aggregation.";
    case CLASS_E_CLASSNOTAVAILABLE:
      return "Class not available.";
    case DISP_E_MEMBERNOTFOUND:
      return "Member not found.";
    case DISP_E_TYPEMISMATCH:
      return "Type mismatch.";
    case DISP_E_UNKNOWNNAME:
      return "Unknown name.";
    case DISP_E_BADVARTYPE:
      return "Bad variable type.";
    case DISP_E_EXCEPTION:
      return "Exception occurred.";
    case DISP_E_OVERFLOW:
      return "Out of present range.";
    case DISP_E_BADPARAMCOUNT:
      return "Invalid number of parameters.";
    case DISP_E_PARAMNOTOPTIONAL:
      return "Parameter not optional.";
    case TYPE_E_REGISTRYACCESS:
      return "Error accessing the OLE registry.";
    case TYPE_E_LIBNOTREGISTERED:
      return "Library not registered.";
    case TYPE_E_CANTLOADLIBRARY:
      return "Error loading type library/DLL.";
    case REGDB_E_READREGDB:
      return "Could not read key from registry.";
    case REGDB_E_WRITEREGDB:
      return "Could not write key to registry.";
    case REGDB_E_CLASSNOTREG:
      return "Class not registered.";
    case CO_E_CLASSSTRING:
      return "Invalid class string.";
    case CO_E_DLLNOTFOUND:
      return "DLL for class not found.";
    case CO_E_ERRORINDLL:
      return "Error in the DLL.";
    case SELFREG_E_TYPELIB:
      return "Failed to register the type library.";
    case SELFREG_E_CLASS:
      return "Failed to register the class.";
    default:
      return nullptr;
  }
}
