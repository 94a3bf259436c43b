// Globally unique identifiers: class, interface, library and category IDs.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/kernel/windef.h"

struct GUID {
  DWORD Data1 = 0;
  WORD Data2 = 0;
  WORD Data3 = 0;
  BYTE Data4[8] = {};

  constexpr bool operator==(const GUID&) const = default;
};
using IID = GUID;
using CLSID = GUID;
using CATID = GUID;
using REFGUID = const GUID&;
using REFIID = const IID&;
using REFCLSID = const CLSID&;

inline constexpr GUID GUID_NULL{};

inline bool IsEqualGUID(REFGUID a, REFGUID b) { return a == b; }

// The registry form: "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}", upper-case hex.
std::string StringFromGUID(REFGUID guid);
// Parses the registry form (braces required, hex of either case); nothing for any other text.
std::optional<GUID> GUIDFromString(std::string_view text);
