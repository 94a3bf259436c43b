// The registry as a value: a tree of keys with named values, and its text form as stored in the
// registry file. Key and value names compare case-insensitively (ASCII) and keep the spelling they
// were created with.
//
// File form (UTF-8 or whatever bytes the values hold), one key per bracketed line, in the manner of
// exported registry files:
//
//   QUELVORA REGISTRY 1
//
//   [HKEY_CLASSES_ROOT\QUELVORA.QuelvoraCtrl.1\CLSID]
//   @="{...}"
//   "ThreadingModel"="Apartment"
//   "Count"=dword:0000001e
//
// "@" is the default (unnamed) value. In quoted text \\ \" \n \r \t and \xHH stand for their bytes.
// Intermediate keys are implied by their children; a key with neither values nor subkeys is
// written on its own so that it survives.
#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/kernel/windef.h"

constexpr DWORD REG_NONE = 0;
constexpr DWORD REG_SZ = 1;
constexpr DWORD REG_DWORD = 4;

struct NoCaseLess {
  using is_transparent = void;
  bool operator()(std::string_view a, std::string_view b) const;
};

struct RegistryValue {
  DWORD type = REG_SZ;
  std::string text;  // REG_SZ: the text without its terminating NUL
  DWORD number = 0;  // REG_DWORD
  bool operator==(const RegistryValue&) const = default;
};

struct RegistryKey {
  std::map<std::string, RegistryValue, NoCaseLess> values;
  std::map<std::string, std::unique_ptr<RegistryKey>, NoCaseLess> subkeys;

  RegistryKey* Find(std::string_view name) const;
  RegistryKey* Create(std::string_view name);
  RegistryKey Clone() const;
  bool operator==(const RegistryKey& other) const;
};

using KeyPath = std::vector<std::string>;

// Splits "A\B\C" into its names. Nothing when a name is empty or holds a control character; ""
// is the empty path (the key itself).
std::optional<KeyPath> SplitKeyPath(std::string_view path);

class RegistryTree {
 public:
  // A registry with its three roots, empty.
  RegistryTree();

  // The predefined root keys, by their usual names ("HKEY_CLASSES_ROOT", ...).
  static bool IsRootName(std::string_view name);

  // The key at path below a root, or nullptr.
  RegistryKey* Find(std::string_view root, const KeyPath& path) const;
  // Creates every missing key along the path.
  RegistryKey* Create(std::string_view root, const KeyPath& path);
  // Removes a key with everything below it; false when it does not exist. Roots stay.
  bool Remove(std::string_view root, const KeyPath& path);

  std::string Serialize() const;
  // Nothing when the text is not a registry file.
  static std::optional<RegistryTree> Parse(std::string_view text);

  RegistryTree Clone() const;
  bool operator==(const RegistryTree& other) const;

 private:
  std::map<std::string, RegistryKey, NoCaseLess> roots_;
};
