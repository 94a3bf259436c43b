#include "platform/kernel/kernel.h"

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <mutex>
#include <string>

namespace {

std::mutex g_tickMutex;
std::function<DWORD()> g_tickSource;

std::string Trim(const std::string& s) {
  size_t b = 0;
  size_t e = s.size();
  while (b < e && std::isspace(static_cast<unsigned char>(s[b]))) ++b;
  while (e > b && std::isspace(static_cast<unsigned char>(s[e - 1]))) --e;
  return s.substr(b, e - b);
}

bool EqualNoCase(const std::string& a, const char* b) {
  if (a.size() != std::strlen(b)) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
      return false;
  }
  return true;
}

}  // namespace

DWORD GetTickCount() {
  {
    std::lock_guard<std::mutex> lock(g_tickMutex);
    if (g_tickSource) return g_tickSource();
  }
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  const unsigned long long ms =
      static_cast<unsigned long long>(ts.tv_sec) * 1000ULL + static_cast<unsigned long long>(ts.tv_nsec) / 1000000ULL;
  return static_cast<DWORD>(ms);
}

void SetTickCountSourceForTesting(std::function<DWORD()> source) {
  std::lock_guard<std::mutex> lock(g_tickMutex);
  g_tickSource = std::move(source);
}

void Sleep(DWORD milliseconds) {
  timespec ts{};
  ts.tv_sec = static_cast<time_t>(milliseconds / 1000);
  ts.tv_nsec = static_cast<long>(milliseconds % 1000) * 1000000L;
  while (nanosleep(&ts, &ts) != 0) {
  }
}

const char* GetWindowsDirectoryPath() {
  static thread_local std::string dir;
  if (const char* w = std::getenv("QUELVORA_WINDIR"); w && *w) {
    dir = w;
  } else if (const char* x = std::getenv("XDG_CONFIG_HOME"); x && *x) {
    dir = x;
  } else if (const char* h = std::getenv("HOME"); h && *h) {
    dir = std::string(h) + "/.config";
  } else {
    dir = ".";
  }
  return dir.c_str();
}

UINT GetPrivateProfileIntA(LPCSTR section, LPCSTR key, INT defaultValue, LPCSTR fileName) {
  if (!section || !key || !fileName) return static_cast<UINT>(defaultValue);
  std::string path = fileName;
  if (path.find('/') == std::string::npos) path = std::string(GetWindowsDirectoryPath()) + "/" + path;
  std::ifstream in(path);
  if (!in) return static_cast<UINT>(defaultValue);
  std::string line;
  bool inSection = false;
  while (std::getline(in, line)) {
    std::string t = Trim(line);
    if (t.empty() || t[0] == ';') continue;
    if (t.front() == '[') {
      const size_t close = t.find(']');
      inSection = close != std::string::npos && EqualNoCase(Trim(t.substr(1, close - 1)), section);
      continue;
    }
    if (!inSection) continue;
    const size_t eq = t.find('=');
    if (eq == std::string::npos || !EqualNoCase(Trim(t.substr(0, eq)), key)) continue;
    // Like the platform: leading digits (with an optional sign) are the value, else 0.
    return static_cast<UINT>(std::strtol(Trim(t.substr(eq + 1)).c_str(), nullptr, 10));
  }
  return static_cast<UINT>(defaultValue);
}
