// The registry, kept in one file: $QUELVORA_REGISTRY when set, else
// $XDG_DATA_HOME/quelvora/registry (~/.local/share/quelvora/registry).
//
// Every call reads the file afresh (so that the registration tool, a host and a loaded module,
// each with its own copy of this code, see one registry), and every
// change is written back at once: the whole file to a temporary beside it, then renamed over the
// old one, so that a reader sees the old file or the new one and never a torn one. Writers in
// different processes take turns through an advisory lock on "<file>.lock".
//
// The calls keep the platform's names and results (ERROR_SUCCESS, ERROR_FILE_NOT_FOUND, ...). Only
// string (REG_SZ) and number (REG_DWORD) values exist. Names compare case-insensitively.
// RegDeleteKeyA removes a whole tree. A file that is not a registry file is never overwritten:
// every call answers ERROR_BADDB until it is repaired or removed.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/com/registry_store.h"
#include "platform/kernel/windef.h"

struct HKEY__;
using HKEY = HKEY__*;
using PHKEY = HKEY*;

#define HKEY_CLASSES_ROOT (reinterpret_cast<HKEY>(static_cast<std::uintptr_t>(0x80000000u)))
#define HKEY_CURRENT_USER (reinterpret_cast<HKEY>(static_cast<std::uintptr_t>(0x80000001u)))
#define HKEY_LOCAL_MACHINE (reinterpret_cast<HKEY>(static_cast<std::uintptr_t>(0x80000002u)))

constexpr LONG ERROR_SUCCESS = 0;
constexpr LONG ERROR_FILE_NOT_FOUND = 2;
constexpr LONG ERROR_INVALID_HANDLE = 6;
constexpr LONG ERROR_INVALID_PARAMETER = 87;
constexpr LONG ERROR_MORE_DATA = 234;
constexpr LONG ERROR_NO_MORE_ITEMS = 259;
constexpr LONG ERROR_BADDB = 1009;
constexpr LONG ERROR_CANTWRITE = 1013;
constexpr LONG ERROR_KEY_DELETED = 1018;

// The file in use now (the environment is read at every call).
std::string RegistryFilePath();

// Opens subKey below key, creating every missing key on the way.
LONG RegCreateKeyA(HKEY key, LPCSTR subKey, PHKEY result);
// Opens an existing key: ERROR_FILE_NOT_FOUND when it does not exist.
LONG RegOpenKeyA(HKEY key, LPCSTR subKey, PHKEY result);
LONG RegCloseKey(HKEY key);

// Sets a value (name nullptr or "" is the default value). REG_SZ data is the text up to its first
// NUL or `size` bytes; REG_DWORD data is 4 bytes.
LONG RegSetValueExA(HKEY key, LPCSTR valueName, DWORD reserved, DWORD type, const BYTE* data, DWORD size);
// Reads a value. *size is the buffer size in and the bytes needed or written out (texts with their
// NUL); ERROR_MORE_DATA when the buffer is too small; data nullptr asks for the size only.
LONG RegQueryValueExA(HKEY key, LPCSTR valueName, DWORD* reserved, DWORD* type, BYTE* data, DWORD* size);
LONG RegDeleteValueA(HKEY key, LPCSTR valueName);

// The default value of subKey (created when missing) set to a text; type must be REG_SZ.
LONG RegSetValueA(HKEY key, LPCSTR subKey, DWORD type, LPCSTR data, DWORD size);
// The default value of an existing subKey as text ("" when it has none); sizes as RegQueryValueExA.
LONG RegQueryValueA(HKEY key, LPCSTR subKey, LPSTR data, LONG* size);

// Removes subKey and everything below it.
LONG RegDeleteKeyA(HKEY key, LPCSTR subKey);
// The name of the index-th subkey (in name order); ERROR_NO_MORE_ITEMS past the last one.
LONG RegEnumKeyA(HKEY key, DWORD index, LPSTR name, DWORD size);

// Shorter forms for readers (tests, the class lookup).
std::optional<std::string> RegGetString(HKEY key, std::string_view subKey, std::string_view valueName = {});
std::optional<DWORD> RegGetDword(HKEY key, std::string_view subKey, std::string_view valueName = {});
bool RegKeyExists(HKEY key, std::string_view subKey);
std::vector<std::string> RegSubKeyNames(HKEY key, std::string_view subKey);
// Sets a text value of subKey, creating it when missing.
LONG RegSetString(HKEY key, std::string_view subKey, std::string_view valueName, std::string_view text);
