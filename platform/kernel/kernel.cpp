#include "platform/kernel/kernel.h"

#include <cstdlib>
#include <ctime>
#include <fstream>
#include <mutex>
#include <string>

#include "platform/kernel/profile.h"

namespace {

std::mutex g_tickMutex;
std::function<DWORD()> g_tickSource;

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
  return ReadProfileInt(in, section, key, defaultValue);
}
