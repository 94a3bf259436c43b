// Type-library registration: the keys that let a client find a library by its ID and version,
// and the dispatch interfaces it describes.
//
//   HKCR\TypeLib\{libid}\<major>.<minor>          = help string (or the name)
//                                  \FLAGS          = "0"
//                                  \HELPDIR        = help folder (the library file's folder)
//                                  \<lcid>\linux   = the file holding the library
//   HKCR\Interface\{iid}                           = interface name
//                      \ProxyStubClsid, \ProxyStubClsid32 = the automation marshaller's class ID
//                      \TypeLib                    = {libid}, "Version" = "<major>.<minor>"
//
// Versions and locales are written in hex, as the platform does.
#pragma once

#include <string>
#include <vector>

#include "platform/com/comcat.h"

// {00020420-0000-0000-C000-000000000046}
inline constexpr CLSID CLSID_PSDispatch{
    0x00020420, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

struct TypeLibInterface {
  IID iid;
  std::string name;
};

struct TypeLibRegistration {
  GUID libid;
  WORD majorVersion = 1;
  WORD minorVersion = 0;
  LCID lcid = 0;
  std::string name;                          // QUELVORALib-style library name
  std::string helpString;                    // written as the version key's value; the name when empty
  std::string path;                          // the file that holds the library (the module)
  std::string helpDir;                       // empty: the folder of path
  std::vector<TypeLibInterface> interfaces;  // the dispatch interfaces the library describes
};

// E_INVALIDARG without a path; TYPE_E_REGISTRYACCESS when the registry cannot be written.
HRESULT RegisterTypeLib(const TypeLibRegistration& lib);
// Removes what RegisterTypeLib wrote for this version and locale, and the interfaces registered
// as belonging to it; the library and version keys go when nothing else is left in them.
// TYPE_E_REGISTRYACCESS when that version is not registered or the registry cannot be written.
HRESULT UnRegisterTypeLib(REFGUID libid, WORD majorVersion, WORD minorVersion, LCID lcid);
// The file registered for the library; TYPE_E_LIBNOTREGISTERED when there is none.
HRESULT QueryPathOfRegTypeLib(REFGUID libid, WORD majorVersion, WORD minorVersion, LCID lcid,
                              std::string* path);
