// The resources of a module: dialog templates, strings, bitmaps, icons, the version block and the
// type library, found by type and numeric ID. A module's resources are a directory the module
// builds into itself; its handle (HINSTANCE) points at that directory. Another module's resources
// are reached through the file: the module is loaded and asked for its directory by the exported
// function QvModuleResources, the stand-in for a resource section a loader reads.
#pragma once

#include <cstddef>
#include <string>

#include "platform/kernel/windef.h"

struct ResourceEntry {
  LPCSTR type;  // one of the RT_ names below
  UINT id;
  LPCVOID data;      // RT_DIALOG: a DialogTemplate; RT_VERSION: a VersionInfo; else the bytes
  std::size_t size;  // bytes of data (RT_STRING: the text without a NUL); 0 for the structured kinds
};

struct ResourceDirectory {
  const ResourceEntry* entries;
  std::size_t count;
};

using HINSTANCE = const ResourceDirectory*;
using HMODULE = HINSTANCE;
using HRSRC = const ResourceEntry*;

// Resource types, named as a resource script names them.
inline constexpr LPCSTR RT_BITMAP = "BITMAP";  // a BMP file
inline constexpr LPCSTR RT_ICON = "ICON";      // an ICO file with every size of the icon
inline constexpr LPCSTR RT_DIALOG = "DIALOG";
inline constexpr LPCSTR RT_STRING = "STRING";  // one string of the string table
inline constexpr LPCSTR RT_VERSION = "VERSION";
inline constexpr LPCSTR RT_TYPELIB = "TYPELIB";

// The name of the export that hands out a module's directory.
inline constexpr LPCSTR kModuleResourcesExport = "QvModuleResources";
using LPFNMODULERESOURCES = HINSTANCE (*)();

// The entry of a type and ID (types compare case-insensitively), or nullptr.
HRSRC FindResourceA(HMODULE module, UINT id, LPCSTR type);
LPCVOID LoadResource(HMODULE module, HRSRC resource);
DWORD SizeofResource(HMODULE module, HRSRC resource);

// Copies string `id` with a NUL into buffer (cut to size - 1 characters); returns the characters
// copied, 0 when there is no such string.
int LoadStringA(HINSTANCE instance, UINT id, LPSTR buffer, int size);
// The whole string, or "" when there is none.
std::string LoadResourceString(HINSTANCE instance, UINT id);
