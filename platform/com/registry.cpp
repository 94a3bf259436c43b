#include "platform/com/registry.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <mutex>

namespace {

struct OpenKey {
  std::string root;
  KeyPath path;
};

struct State {
  std::mutex mutex;
  std::string path;  // the file the tree was read from
  RegistryTree tree;
  std::map<std::uintptr_t, OpenKey> handles;
  std::uintptr_t nextHandle = 1;
};

State& Registry() {
  static State state;
  return state;
}

// 0, or the errno of the failure.
int ReadFile(const std::string& path, std::string& out) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return errno;
  char buf[8192];
  ssize_t n;
  while ((n = ::read(fd, buf, sizeof buf)) > 0) out.append(buf, static_cast<size_t>(n));
  const int error = n < 0 ? errno : 0;
  ::close(fd);
  return error;
}

// Reads the file afresh (it is small, and another process may have replaced it at any moment).
// Caller holds the mutex.
LONG Load(State& s) {
  s.path = RegistryFilePath();
  s.tree = RegistryTree();
  std::string text;
  if (const int error = ReadFile(s.path, text); error != 0)
    return error == ENOENT ? ERROR_SUCCESS : ERROR_BADDB;
  auto parsed = RegistryTree::Parse(text);
  if (!parsed) return ERROR_BADDB;
  s.tree = std::move(*parsed);
  return ERROR_SUCCESS;
}

bool WriteAll(int fd, const std::string& text) {
  size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

// Writes the tree to a temporary beside the file and renames it over the file.
bool Save(State& s) {
  const std::string& path = s.path;
  const std::string temp = path + ".tmp." + std::to_string(::getpid());
  const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  const bool written = WriteAll(fd, s.tree.Serialize()) && ::fsync(fd) == 0;
  const bool closed = ::close(fd) == 0;
  if (!written || !closed || ::rename(temp.c_str(), path.c_str()) != 0) {
    ::unlink(temp.c_str());
    return false;
  }
  return true;
}

// Holds the cross-process writer lock while alive.
class FileLock {
 public:
  explicit FileLock(const std::string& path) : fd_(::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644)) {
    if (fd_ >= 0 && ::flock(fd_, LOCK_EX) != 0) {
      ::close(fd_);
      fd_ = -1;
    }
  }
  ~FileLock() {
    if (fd_ >= 0) ::close(fd_);  // closing releases the lock
  }
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;
  bool ok() const { return fd_ >= 0; }

 private:
  int fd_;
};

const char* RootName(HKEY key) {
  if (key == HKEY_CLASSES_ROOT) return "HKEY_CLASSES_ROOT";
  if (key == HKEY_CURRENT_USER) return "HKEY_CURRENT_USER";
  if (key == HKEY_LOCAL_MACHINE) return "HKEY_LOCAL_MACHINE";
  return nullptr;
}

// Where a handle plus a subkey path points. ERROR_KEY_DELETED when the handle's own key is gone.
LONG Resolve(State& s, HKEY key, std::string_view subKey, OpenKey& where) {
  if (const char* root = RootName(key)) {
    where = {root, {}};
  } else {
    const auto it = s.handles.find(reinterpret_cast<std::uintptr_t>(key));
    if (it == s.handles.end()) return ERROR_INVALID_HANDLE;
    where = it->second;
    if (!s.tree.Find(where.root, where.path)) return ERROR_KEY_DELETED;
  }
  const auto names = SplitKeyPath(subKey);
  if (!names) return ERROR_INVALID_PARAMETER;
  where.path.insert(where.path.end(), names->begin(), names->end());
  return ERROR_SUCCESS;
}

std::string_view View(LPCSTR s) { return s ? std::string_view(s) : std::string_view(); }

// Runs a read against the current file.
LONG Read(const std::function<LONG(State&)>& body) {
  State& s = Registry();
  std::lock_guard<std::mutex> lock(s.mutex);
  if (const LONG r = Load(s); r != ERROR_SUCCESS) return r;
  return body(s);
}

// Runs a change against the current file and writes the file when the body changed something.
LONG Modify(const std::function<LONG(State&, bool& changed)>& body) {
  State& s = Registry();
  std::lock_guard<std::mutex> lock(s.mutex);
  const std::string path = RegistryFilePath();
  std::error_code ec;
  std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ec);
  FileLock fileLock(path + ".lock");
  if (!fileLock.ok()) return ERROR_CANTWRITE;
  if (const LONG r = Load(s); r != ERROR_SUCCESS) return r;
  bool changed = false;
  const LONG r = body(s, changed);
  if (changed && !Save(s)) return ERROR_CANTWRITE;
  return r;
}

HKEY NewHandle(State& s, OpenKey where) {
  const std::uintptr_t id = s.nextHandle++;
  s.handles.emplace(id, std::move(where));
  return reinterpret_cast<HKEY>(id);
}

LONG CopyOut(const std::string& text, BYTE* data, DWORD* size) {
  const DWORD needed = static_cast<DWORD>(text.size() + 1);
  if (!size) return data ? ERROR_INVALID_PARAMETER : ERROR_SUCCESS;
  if (!data) {
    *size = needed;
    return ERROR_SUCCESS;
  }
  if (*size < needed) {
    *size = needed;
    return ERROR_MORE_DATA;
  }
  std::memcpy(data, text.c_str(), needed);
  *size = needed;
  return ERROR_SUCCESS;
}

}  // namespace

std::string RegistryFilePath() {
  if (const char* r = std::getenv("QUELVORA_REGISTRY"); r && *r) return r;
  if (const char* x = std::getenv("XDG_DATA_HOME"); x && *x) return std::string(x) + "/quelvora/registry";
  if (const char* h = std::getenv("HOME"); h && *h) return std::string(h) + "/.local/share/quelvora/registry";
  return "quelvora-registry";
}

LONG RegCreateKeyA(HKEY key, LPCSTR subKey, PHKEY result) {
  if (!result) return ERROR_INVALID_PARAMETER;
  *result = nullptr;
  const LONG r = Modify([&](State& s, bool& changed) {
    OpenKey where;
    if (const LONG r = Resolve(s, key, View(subKey), where); r != ERROR_SUCCESS) return r;
    if (!s.tree.Find(where.root, where.path)) {
      s.tree.Create(where.root, where.path);
      changed = true;
    }
    *result = NewHandle(s, std::move(where));
    return ERROR_SUCCESS;
  });
  // A key that could not be written is not handed out.
  if (r != ERROR_SUCCESS && *result) {
    RegCloseKey(*result);
    *result = nullptr;
  }
  return r;
}

LONG RegOpenKeyA(HKEY key, LPCSTR subKey, PHKEY result) {
  if (!result) return ERROR_INVALID_PARAMETER;
  return Read([&](State& s) {
    OpenKey where;
    if (const LONG r = Resolve(s, key, View(subKey), where); r != ERROR_SUCCESS) return r;
    if (!s.tree.Find(where.root, where.path)) return ERROR_FILE_NOT_FOUND;
    *result = NewHandle(s, std::move(where));
    return ERROR_SUCCESS;
  });
}

LONG RegCloseKey(HKEY key) {
  if (RootName(key)) return ERROR_SUCCESS;
  State& s = Registry();
  std::lock_guard<std::mutex> lock(s.mutex);
  return s.handles.erase(reinterpret_cast<std::uintptr_t>(key)) ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}

LONG RegSetValueExA(HKEY key, LPCSTR valueName, DWORD, DWORD type, const BYTE* data, DWORD size) {
  RegistryValue value;
  value.type = type;
  if (type == REG_SZ) {
    const char* text = reinterpret_cast<const char*>(data);
    value.text = data ? std::string(text, strnlen(text, size)) : std::string();
  } else if (type == REG_DWORD) {
    if (!data || size != sizeof(DWORD)) return ERROR_INVALID_PARAMETER;
    std::memcpy(&value.number, data, sizeof(DWORD));
  } else {
    return ERROR_INVALID_PARAMETER;
  }
  return Modify([&](State& s, bool& changed) {
    OpenKey where;
    if (const LONG r = Resolve(s, key, {}, where); r != ERROR_SUCCESS) return r;
    RegistryKey* k = s.tree.Find(where.root, where.path);
    const std::string name(View(valueName));
    const auto it = k->values.find(name);
    if (it != k->values.end() && it->second == value) return ERROR_SUCCESS;
    k->values.insert_or_assign(name, value);
    changed = true;
    return ERROR_SUCCESS;
  });
}

LONG RegQueryValueExA(HKEY key, LPCSTR valueName, DWORD*, DWORD* type, BYTE* data, DWORD* size) {
  return Read([&](State& s) {
    OpenKey where;
    if (const LONG r = Resolve(s, key, {}, where); r != ERROR_SUCCESS) return r;
    const RegistryKey* k = s.tree.Find(where.root, where.path);
    const auto it = k->values.find(View(valueName));
    if (it == k->values.end()) return ERROR_FILE_NOT_FOUND;
    if (type) *type = it->second.type;
    if (it->second.type == REG_SZ) return CopyOut(it->second.text, data, size);
    if (!size) return data ? ERROR_INVALID_PARAMETER : ERROR_SUCCESS;
    const DWORD have = *size;
    *size = sizeof(DWORD);
    if (!data) return ERROR_SUCCESS;
    if (have < sizeof(DWORD)) return ERROR_MORE_DATA;
    std::memcpy(data, &it->second.number, sizeof(DWORD));
    return ERROR_SUCCESS;
  });
}

LONG RegDeleteValueA(HKEY key, LPCSTR valueName) {
  return Modify([&](State& s, bool& changed) {
    OpenKey where;
    if (const LONG r = Resolve(s, key, {}, where); r != ERROR_SUCCESS) return r;
    RegistryKey* k = s.tree.Find(where.root, where.path);
    const auto it = k->values.find(View(valueName));
    if (it == k->values.end()) return ERROR_FILE_NOT_FOUND;
    k->values.erase(it);
    changed = true;
    return ERROR_SUCCESS;
  });
}

LONG RegSetValueA(HKEY key, LPCSTR subKey, DWORD type, LPCSTR data, DWORD) {
  if (type != REG_SZ) return ERROR_INVALID_PARAMETER;
  return RegSetString(key, View(subKey), {}, View(data));
}

LONG RegQueryValueA(HKEY key, LPCSTR subKey, LPSTR data, LONG* size) {
  if (size && *size < 0) return ERROR_INVALID_PARAMETER;
  return Read([&](State& s) {
    OpenKey where;
    if (const LONG r = Resolve(s, key, View(subKey), where); r != ERROR_SUCCESS) return r;
    const RegistryKey* k = s.tree.Find(where.root, where.path);
    if (!k) return ERROR_FILE_NOT_FOUND;
    const auto it = k->values.find(std::string_view());
    const std::string text =
        it != k->values.end() && it->second.type == REG_SZ ? it->second.text : std::string();
    DWORD n = size ? static_cast<DWORD>(*size) : 0;
    const LONG r = CopyOut(text, reinterpret_cast<BYTE*>(data), size ? &n : nullptr);
    if (size) *size = static_cast<LONG>(n);
    return r;
  });
}

LONG RegDeleteKeyA(HKEY key, LPCSTR subKey) {
  if (View(subKey).empty()) return ERROR_INVALID_PARAMETER;
  return Modify([&](State& s, bool& changed) {
    OpenKey where;
    if (const LONG r = Resolve(s, key, View(subKey), where); r != ERROR_SUCCESS) return r;
    if (!s.tree.Remove(where.root, where.path)) return ERROR_FILE_NOT_FOUND;
    changed = true;
    return ERROR_SUCCESS;
  });
}

LONG RegEnumKeyA(HKEY key, DWORD index, LPSTR name, DWORD size) {
  return Read([&](State& s) {
    OpenKey where;
    if (const LONG r = Resolve(s, key, {}, where); r != ERROR_SUCCESS) return r;
    const RegistryKey* k = s.tree.Find(where.root, where.path);
    if (index >= k->subkeys.size()) return ERROR_NO_MORE_ITEMS;
    auto it = k->subkeys.begin();
    std::advance(it, index);
    DWORD n = size;
    return CopyOut(it->first, reinterpret_cast<BYTE*>(name), &n);
  });
}

std::optional<std::string> RegGetString(HKEY key, std::string_view subKey, std::string_view valueName) {
  std::optional<std::string> out;
  Read([&](State& s) {
    OpenKey where;
    if (const LONG r = Resolve(s, key, subKey, where); r != ERROR_SUCCESS) return r;
    const RegistryKey* k = s.tree.Find(where.root, where.path);
    if (!k) return ERROR_FILE_NOT_FOUND;
    const auto it = k->values.find(valueName);
    if (it == k->values.end() || it->second.type != REG_SZ) return ERROR_FILE_NOT_FOUND;
    out = it->second.text;
    return ERROR_SUCCESS;
  });
  return out;
}

std::optional<DWORD> RegGetDword(HKEY key, std::string_view subKey, std::string_view valueName) {
  std::optional<DWORD> out;
  Read([&](State& s) {
    OpenKey where;
    if (const LONG r = Resolve(s, key, subKey, where); r != ERROR_SUCCESS) return r;
    const RegistryKey* k = s.tree.Find(where.root, where.path);
    if (!k) return ERROR_FILE_NOT_FOUND;
    const auto it = k->values.find(valueName);
    if (it == k->values.end() || it->second.type != REG_DWORD) return ERROR_FILE_NOT_FOUND;
    out = it->second.number;
    return ERROR_SUCCESS;
  });
  return out;
}

bool RegKeyExists(HKEY key, std::string_view subKey) {
  return Read([&](State& s) {
           OpenKey where;
           if (const LONG r = Resolve(s, key, subKey, where); r != ERROR_SUCCESS) return r;
           return s.tree.Find(where.root, where.path) ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND;
         }) == ERROR_SUCCESS;
}

std::vector<std::string> RegSubKeyNames(HKEY key, std::string_view subKey) {
  std::vector<std::string> names;
  Read([&](State& s) {
    OpenKey where;
    if (const LONG r = Resolve(s, key, subKey, where); r != ERROR_SUCCESS) return r;
    const RegistryKey* k = s.tree.Find(where.root, where.path);
    if (!k) return ERROR_FILE_NOT_FOUND;
    for (const auto& [name, sub] : k->subkeys) names.push_back(name);
    return ERROR_SUCCESS;
  });
  return names;
}

LONG RegSetString(HKEY key, std::string_view subKey, std::string_view valueName, std::string_view text) {
  RegistryValue value;
  value.text = std::string(text.substr(0, text.find('\0')));
  return Modify([&](State& s, bool& changed) {
    OpenKey where;
    if (const LONG r = Resolve(s, key, subKey, where); r != ERROR_SUCCESS) return r;
    RegistryKey* k = s.tree.Find(where.root, where.path);
    if (!k) {
      k = s.tree.Create(where.root, where.path);
      changed = true;
    }
    const auto it = k->values.find(valueName);
    if (it != k->values.end() && it->second == value) return ERROR_SUCCESS;
    k->values.insert_or_assign(std::string(valueName), value);
    changed = true;
    return ERROR_SUCCESS;
  });
}
