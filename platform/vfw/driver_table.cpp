// The table of capture drivers, in order of preference.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <sstream>

#include "platform/vfw/capture_driver.h"
#include "platform/vfw/vfw.h"

namespace {

std::mutex g_tableMutex;
bool g_configured = false;
std::vector<std::shared_ptr<CaptureDriver>> g_drivers;

std::vector<std::shared_ptr<CaptureDriver>> Build(const CaptureDriverConfig& config) {
  std::vector<std::shared_ptr<CaptureDriver>> drivers;
  if (config.v4l2) drivers = EnumerateV4l2Drivers(config.v4l2System);
  if (config.testCamera) drivers.push_back(MakeTestCameraDriver(config.testCameraOptions));
  if (drivers.size() > static_cast<std::size_t>(MAXVIDEODRIVERS)) drivers.resize(MAXVIDEODRIVERS);
  return drivers;
}

void Install(std::vector<std::shared_ptr<CaptureDriver>> drivers) {
  std::lock_guard<std::mutex> lock(g_tableMutex);
  g_drivers = std::move(drivers);
  g_configured = true;
}

CaptureDriverConfig ConfigFromEnvironment() {
  CaptureDriverConfig config;
  const char* value = std::getenv("QUELVORA_CAPTURE");
  if (!value || !*value) return config;
  config.v4l2 = config.testCamera = false;
  std::stringstream words(value);
  std::string word;
  while (std::getline(words, word, ',')) {
    if (word == "v4l2") config.v4l2 = true;
    if (word == "test") config.testCamera = true;
  }
  return config;
}

void CopyCut(const std::string& text, LPSTR out, INT size) {
  if (!out || size <= 0) return;
  const std::size_t n = std::min(text.size(), static_cast<std::size_t>(size - 1));
  std::memcpy(out, text.data(), n);
  out[n] = '\0';
}

}  // namespace

void ConfigureCaptureDrivers(const CaptureDriverConfig& config) { Install(Build(config)); }

void SetCaptureDriversForTesting(std::vector<std::shared_ptr<CaptureDriver>> drivers) {
  if (drivers.size() > static_cast<std::size_t>(MAXVIDEODRIVERS)) drivers.resize(MAXVIDEODRIVERS);
  Install(std::move(drivers));
}

void ConfigureCaptureDriversFromEnvironment() { ConfigureCaptureDrivers(ConfigFromEnvironment()); }

std::shared_ptr<CaptureDriver> CaptureDriverAt(int index) {
  {
    std::lock_guard<std::mutex> lock(g_tableMutex);
    if (g_configured) {
      if (index < 0 || static_cast<std::size_t>(index) >= g_drivers.size()) return nullptr;
      return g_drivers[static_cast<std::size_t>(index)];
    }
  }
  // First use without an explicit choice: probe once, outside the lock.
  std::vector<std::shared_ptr<CaptureDriver>> drivers = Build(ConfigFromEnvironment());
  {
    std::lock_guard<std::mutex> lock(g_tableMutex);
    if (!g_configured) {
      g_drivers = std::move(drivers);
      g_configured = true;
    }
  }
  return CaptureDriverAt(index);
}

int CaptureDriverCount() {
  CaptureDriverAt(0);
  std::lock_guard<std::mutex> lock(g_tableMutex);
  return static_cast<int>(g_drivers.size());
}

BOOL capGetDriverDescriptionA(WORD index, LPSTR name, INT nameLength, LPSTR version, INT versionLength) {
  std::shared_ptr<CaptureDriver> driver = CaptureDriverAt(index);
  if (!driver) return FALSE;
  CopyCut(driver->Name(), name, nameLength);
  CopyCut(driver->Version(), version, versionLength);
  return TRUE;
}
