#include "platform/com/typelib.h"

#include <cstdio>

#include "platform/com/registry.h"

namespace {

constexpr const char* kPlatformKey = "linux";

std::string Hex(DWORD v) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%x", v);
  return buf;
}

std::string VersionText(WORD major, WORD minor) { return Hex(major) + "." + Hex(minor); }

std::string VersionKey(REFGUID libid, WORD major, WORD minor) {
  return "TypeLib\\" + StringFromGUID(libid) + "\\" + VersionText(major, minor);
}

std::string FolderOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// Deletes a key when it has neither subkeys nor values.
void DeleteIfEmpty(const std::string& key) {
  if (!RegKeyExists(HKEY_CLASSES_ROOT, key) || !RegSubKeyNames(HKEY_CLASSES_ROOT, key).empty()) return;
  HKEY h = nullptr;
  if (RegOpenKeyA(HKEY_CLASSES_ROOT, key.c_str(), &h) != ERROR_SUCCESS) return;
  DWORD size = 0;
  const bool hasDefault = RegQueryValueExA(h, nullptr, nullptr, nullptr, nullptr, &size) == ERROR_SUCCESS;
  RegCloseKey(h);
  if (!hasDefault) RegDeleteKeyA(HKEY_CLASSES_ROOT, key.c_str());
}

}  // namespace

HRESULT RegisterTypeLib(const TypeLibRegistration& lib) {
  if (lib.path.empty()) return E_INVALIDARG;
  const std::string version = VersionKey(lib.libid, lib.majorVersion, lib.minorVersion);
  const std::string libidText = StringFromGUID(lib.libid);
  const std::string psDispatch = StringFromGUID(CLSID_PSDispatch);
  bool ok = RegSetString(HKEY_CLASSES_ROOT, version, {},
                         lib.helpString.empty() ? lib.name : lib.helpString) == ERROR_SUCCESS &&
            RegSetString(HKEY_CLASSES_ROOT, version + "\\FLAGS", {}, "0") == ERROR_SUCCESS &&
            RegSetString(HKEY_CLASSES_ROOT, version + "\\HELPDIR", {},
                         lib.helpDir.empty() ? FolderOf(lib.path) : lib.helpDir) == ERROR_SUCCESS &&
            RegSetString(HKEY_CLASSES_ROOT, version + "\\" + Hex(lib.lcid) + "\\" + kPlatformKey, {},
                         lib.path) == ERROR_SUCCESS;
  for (const TypeLibInterface& i : lib.interfaces) {
    if (!ok) break;
    const std::string key = "Interface\\" + StringFromGUID(i.iid);
    ok = RegSetString(HKEY_CLASSES_ROOT, key, {}, i.name) == ERROR_SUCCESS &&
         RegSetString(HKEY_CLASSES_ROOT, key + "\\ProxyStubClsid", {}, psDispatch) == ERROR_SUCCESS &&
         RegSetString(HKEY_CLASSES_ROOT, key + "\\ProxyStubClsid32", {}, psDispatch) == ERROR_SUCCESS &&
         RegSetString(HKEY_CLASSES_ROOT, key + "\\TypeLib", {}, libidText) == ERROR_SUCCESS &&
         RegSetString(HKEY_CLASSES_ROOT, key + "\\TypeLib", "Version",
                      VersionText(lib.majorVersion, lib.minorVersion)) == ERROR_SUCCESS;
  }
  return ok ? S_OK : TYPE_E_REGISTRYACCESS;
}

HRESULT UnRegisterTypeLib(REFGUID libid, WORD majorVersion, WORD minorVersion, LCID lcid) {
  const std::string version = VersionKey(libid, majorVersion, minorVersion);
  if (!RegKeyExists(HKEY_CLASSES_ROOT, version)) return TYPE_E_REGISTRYACCESS;
  const std::string locale = version + "\\" + Hex(lcid);
  const std::string platform = locale + "\\" + kPlatformKey;
  if (RegKeyExists(HKEY_CLASSES_ROOT, platform) &&
      RegDeleteKeyA(HKEY_CLASSES_ROOT, platform.c_str()) != ERROR_SUCCESS)
    return TYPE_E_REGISTRYACCESS;
  DeleteIfEmpty(locale);

  const std::string libidText = StringFromGUID(libid);
  const std::string versionText = VersionText(majorVersion, minorVersion);
  for (const std::string& iid : RegSubKeyNames(HKEY_CLASSES_ROOT, "Interface")) {
    const std::string typeLib = "Interface\\" + iid + "\\TypeLib";
    const auto owner = RegGetString(HKEY_CLASSES_ROOT, typeLib);
    const auto ownerVersion = RegGetString(HKEY_CLASSES_ROOT, typeLib, "Version");
    if (!owner || !GUIDFromString(*owner) || *GUIDFromString(*owner) != libid || ownerVersion != versionText)
      continue;
    const std::string key = "Interface\\" + iid;
    if (RegDeleteKeyA(HKEY_CLASSES_ROOT, key.c_str()) != ERROR_SUCCESS) return TYPE_E_REGISTRYACCESS;
  }

  // The version goes when no other locale is registered under it.
  bool otherLocales = false;
  for (const std::string& sub : RegSubKeyNames(HKEY_CLASSES_ROOT, version)) {
    if (sub != "FLAGS" && sub != "HELPDIR") otherLocales = true;
  }
  if (!otherLocales && RegDeleteKeyA(HKEY_CLASSES_ROOT, version.c_str()) != ERROR_SUCCESS)
    return TYPE_E_REGISTRYACCESS;
  DeleteIfEmpty("TypeLib\\" + libidText);
  return S_OK;
}

HRESULT QueryPathOfRegTypeLib(REFGUID libid, WORD majorVersion, WORD minorVersion, LCID lcid,
                              std::string* path) {
  if (!path) return E_POINTER;
  const auto file = RegGetString(HKEY_CLASSES_ROOT, VersionKey(libid, majorVersion, minorVersion) + "\\" +
                                                        Hex(lcid) + "\\" + kPlatformKey);
  if (!file) return TYPE_E_LIBNOTREGISTERED;
  *path = *file;
  return S_OK;
}
