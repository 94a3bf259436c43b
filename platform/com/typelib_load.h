// Type libraries as data: what a library describes (its dispatch interfaces with their methods,
// and its classes), read from the TYPELIB resource of a module, and the loaded library as an
// object found through its registration.
//
// The resource holds the library as JSON:
//   {"name", "libid", "version": "1.0", "helpstring", "helpfile",
//    "types": [{"kind": "dispinterface", "name", "guid", "helpstring",
//               "methods": [{"dispid", "name", "params": [{"type", "name"}], "result"}]},
//              {"kind": "coclass", "name", "guid", "helpstring",
//               "interfaces": [{"name", "default", "source"}]}]}
// with the automation types "short", "long", "BSTR", "BOOL" and "void" (no result).
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/com/typelib.h"
#include "platform/com/variant.h"
#include "platform/kernel/resource.h"

enum class TypeKind { DispInterface, CoClass };

struct TypeLibParam {
  VARTYPE vt = VT_EMPTY;
  std::string name;
};

struct TypeLibFunc {
  LONG dispid = 0;
  std::string name;
  std::vector<TypeLibParam> params;
  VARTYPE result = VT_EMPTY;  // VT_EMPTY: no result
};

struct TypeLibImplType {
  std::string name;
  bool isDefault = false;
  bool isSource = false;
};

struct TypeLibTypeInfo {
  TypeKind kind = TypeKind::DispInterface;
  std::string name;
  GUID guid;
  std::string helpString;
  std::vector<TypeLibFunc> funcs;          // dispatch interfaces
  std::vector<TypeLibImplType> implTypes;  // classes
};

struct TypeLibDescription {
  std::string name;
  GUID libid;
  WORD majorVersion = 0;
  WORD minorVersion = 0;
  std::string helpString;
  std::string helpFile;
  std::vector<TypeLibTypeInfo> types;

  const TypeLibTypeInfo* Find(std::string_view typeName) const;
};

// Nothing when the text is not such a library (bad JSON, a GUID or type that does not parse).
std::optional<TypeLibDescription> ParseTypeLib(std::string_view json);

// TYPELIB `id` among a module's resources. TYPE_E_CANTLOADLIBRARY when there is none or it does
// not parse.
HRESULT LoadTypeLibFromResources(HINSTANCE instance, UINT id, TypeLibDescription* lib);
// TYPELIB `id` of the module file at path (loaded for the purpose and let go again).
// TYPE_E_CANTLOADLIBRARY when the module does not load, holds no such resource or it does not
// parse.
HRESULT LoadTypeLibFromModule(const std::string& path, UINT id, TypeLibDescription* lib);

// What RegisterTypeLib needs to register a loaded library found in the file at path.
TypeLibRegistration RegistrationOf(const TypeLibDescription& lib, const std::string& path);

// {00020402-0000-0000-C000-000000000046}
inline constexpr IID IID_ITypeLib{
    0x00020402, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

struct ITypeLib : IUnknown {
  static constexpr const IID& iid = IID_ITypeLib;
  virtual const TypeLibDescription& Description() const = 0;

 protected:
  ~ITypeLib() = default;
};

// The library registered under libid and version for the locale (then its language-neutral form,
// then locale 0, as a client falls back), loaded from the file the registration names.
// TYPE_E_LIBNOTREGISTERED or TYPE_E_CANTLOADLIBRARY.
HRESULT LoadRegTypeLib(REFGUID libid, WORD majorVersion, WORD minorVersion, LCID lcid, ITypeLib** lib);
