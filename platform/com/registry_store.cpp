#include "platform/com/registry_store.h"

#include <cstdio>
#include <functional>

namespace {

constexpr std::string_view kSignature = "QUELVORA REGISTRY 1";
constexpr const char* kRoots[] = {"HKEY_CLASSES_ROOT", "HKEY_CURRENT_USER", "HKEY_LOCAL_MACHINE"};

char Fold(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

std::string Quote(std::string_view text) {
  std::string out = "\"";
  for (char c : text) {
    const auto u = static_cast<unsigned char>(c);
    switch (c) {
      case '\\':
        out += "\\\\";
        break;
      case '"':
        out += "\\\"";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        if (u < 0x20 || u == 0x7F) {
          char buf[5];
          std::snprintf(buf, sizeof buf, "\\x%02X", u);
          out += buf;
        } else {
          out += c;
        }
    }
  }
  return out + "\"";
}

int Hex(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Reads a quoted text at line[pos], leaving pos after the closing quote.
std::optional<std::string> Unquote(std::string_view line, size_t& pos) {
  if (pos >= line.size() || line[pos] != '"') return std::nullopt;
  std::string out;
  for (++pos; pos < line.size(); ++pos) {
    const char c = line[pos];
    if (c == '"') {
      ++pos;
      return out;
    }
    if (c != '\\') {
      out += c;
      continue;
    }
    if (++pos >= line.size()) return std::nullopt;
    switch (line[pos]) {
      case '\\':
        out += '\\';
        break;
      case '"':
        out += '"';
        break;
      case 'n':
        out += '\n';
        break;
      case 'r':
        out += '\r';
        break;
      case 't':
        out += '\t';
        break;
      case 'x': {
        if (pos + 2 >= line.size()) return std::nullopt;
        const int hi = Hex(line[pos + 1]);
        const int lo = Hex(line[pos + 2]);
        if (hi < 0 || lo < 0) return std::nullopt;
        out += static_cast<char>(hi * 16 + lo);
        pos += 2;
        break;
      }
      default:
        return std::nullopt;
    }
  }
  return std::nullopt;
}

bool ParseValueLine(std::string_view line, RegistryKey& key) {
  size_t pos = 0;
  std::string name;
  if (line.starts_with('@')) {
    pos = 1;
  } else {
    auto quoted = Unquote(line, pos);
    if (!quoted) return false;
    name = std::move(*quoted);
  }
  if (pos >= line.size() || line[pos] != '=') return false;
  ++pos;
  RegistryValue value;
  const std::string_view rest = line.substr(pos);
  if (rest.starts_with("dword:")) {
    const std::string_view digits = rest.substr(6);
    if (digits.size() != 8) return false;
    DWORD n = 0;
    for (char c : digits) {
      const int h = Hex(c);
      if (h < 0) return false;
      n = n * 16 + static_cast<DWORD>(h);
    }
    value.type = REG_DWORD;
    value.number = n;
  } else {
    auto text = Unquote(line, pos);
    if (!text || pos != line.size()) return false;
    value.text = std::move(*text);
  }
  key.values.insert_or_assign(std::move(name), std::move(value));
  return true;
}

void WriteKey(const RegistryKey& key, const std::string& path, bool isRoot, std::string& out) {
  if (!key.values.empty() || (!isRoot && key.subkeys.empty())) {
    out += "\n[" + path + "]\n";
    for (const auto& [name, value] : key.values) {
      out += name.empty() ? std::string("@") : Quote(name);
      out += '=';
      if (value.type == REG_DWORD) {
        char buf[16];
        std::snprintf(buf, sizeof buf, "dword:%08x", value.number);
        out += buf;
      } else {
        out += Quote(value.text);
      }
      out += '\n';
    }
  }
  for (const auto& [name, sub] : key.subkeys) WriteKey(*sub, path + "\\" + name, false, out);
}

}  // namespace

bool NoCaseLess::operator()(std::string_view a, std::string_view b) const {
  const size_t n = std::min(a.size(), b.size());
  for (size_t i = 0; i < n; ++i) {
    const char x = Fold(a[i]);
    const char y = Fold(b[i]);
    if (x != y) return static_cast<unsigned char>(x) < static_cast<unsigned char>(y);
  }
  return a.size() < b.size();
}

RegistryKey* RegistryKey::Find(std::string_view name) const {
  const auto it = subkeys.find(name);
  return it == subkeys.end() ? nullptr : it->second.get();
}

RegistryKey* RegistryKey::Create(std::string_view name) {
  if (RegistryKey* k = Find(name)) return k;
  auto [it, inserted] = subkeys.emplace(std::string(name), std::make_unique<RegistryKey>());
  return it->second.get();
}

RegistryKey RegistryKey::Clone() const {
  RegistryKey copy;
  copy.values = values;
  for (const auto& [name, sub] : subkeys)
    copy.subkeys.emplace(name, std::make_unique<RegistryKey>(sub->Clone()));
  return copy;
}

bool RegistryKey::operator==(const RegistryKey& other) const {
  if (values != other.values || subkeys.size() != other.subkeys.size()) return false;
  for (const auto& [name, sub] : subkeys) {
    const RegistryKey* theirs = other.Find(name);
    if (!theirs || !(*sub == *theirs)) return false;
  }
  return true;
}

std::optional<KeyPath> SplitKeyPath(std::string_view path) {
  KeyPath names;
  if (path.empty()) return names;
  size_t start = 0;
  while (true) {
    const size_t end = path.find('\\', start);
    const std::string_view name = path.substr(start, end == std::string_view::npos ? path.npos : end - start);
    if (name.empty()) return std::nullopt;
    for (char c : name) {
      if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) return std::nullopt;
    }
    names.emplace_back(name);
    if (end == std::string_view::npos) return names;
    start = end + 1;
  }
}

bool RegistryTree::IsRootName(std::string_view name) {
  for (const char* r : kRoots) {
    if (name == r) return true;
  }
  return false;
}

RegistryTree::RegistryTree() {
  for (const char* r : kRoots) roots_[r];
}

RegistryKey* RegistryTree::Find(std::string_view root, const KeyPath& path) const {
  const auto it = roots_.find(root);
  if (it == roots_.end()) return nullptr;
  const RegistryKey* key = &it->second;
  for (const std::string& name : path) {
    key = key->Find(name);
    if (!key) return nullptr;
  }
  return const_cast<RegistryKey*>(key);
}

RegistryKey* RegistryTree::Create(std::string_view root, const KeyPath& path) {
  const auto it = roots_.find(root);
  if (it == roots_.end()) return nullptr;
  RegistryKey* key = &it->second;
  for (const std::string& name : path) key = key->Create(name);
  return key;
}

bool RegistryTree::Remove(std::string_view root, const KeyPath& path) {
  if (path.empty()) return false;
  KeyPath parentPath(path.begin(), path.end() - 1);
  RegistryKey* parent = Find(root, parentPath);
  if (!parent) return false;
  return parent->subkeys.erase(path.back()) > 0;
}

std::string RegistryTree::Serialize() const {
  std::string out(kSignature);
  out += '\n';
  for (const auto& [name, key] : roots_) WriteKey(key, name, true, out);
  return out;
}

std::optional<RegistryTree> RegistryTree::Parse(std::string_view text) {
  RegistryTree tree;
  RegistryKey* current = nullptr;
  bool sawSignature = false;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find('\n', pos);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(pos, end - pos);
    pos = end + 1;
    if (line.ends_with('\r')) line.remove_suffix(1);
    if (!sawSignature) {
      if (line != kSignature) return std::nullopt;
      sawSignature = true;
      continue;
    }
    if (line.empty() || line.starts_with(';')) continue;
    if (line.starts_with('[')) {
      if (!line.ends_with(']') || line.size() < 3) return std::nullopt;
      const std::string_view full = line.substr(1, line.size() - 2);
      const size_t slash = full.find('\\');
      const std::string_view root = full.substr(0, slash);
      const auto path =
          SplitKeyPath(slash == std::string_view::npos ? std::string_view() : full.substr(slash + 1));
      if (!path || (slash != std::string_view::npos && path->empty())) return std::nullopt;
      current = tree.Create(root, *path);
      if (!current) return std::nullopt;
      continue;
    }
    if (!current || !ParseValueLine(line, *current)) return std::nullopt;
  }
  // An empty file is an empty registry; any other file must carry the signature.
  if (!sawSignature && !text.empty()) return std::nullopt;
  return tree;
}

RegistryTree RegistryTree::Clone() const {
  RegistryTree copy;
  for (const auto& [name, key] : roots_) copy.roots_[name] = key.Clone();
  return copy;
}

bool RegistryTree::operator==(const RegistryTree& other) const {
  for (const auto& [name, key] : roots_) {
    const auto it = other.roots_.find(name);
    if (it == other.roots_.end() || !(key == it->second)) return false;
  }
  return roots_.size() == other.roots_.size();
}
