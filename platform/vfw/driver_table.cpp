// The table of capture drivers, in order of preference, built afresh from its source.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <sstream>

#include "platform/vfw/capture_driver.h"
#include "platform/vfw/vfw.h"

namespace {

std::mutex g_tableMutex;
CaptureDriverSource g_source;
std::vector<std::shared_ptr<CaptureDriver>> g_drivers;

std::vector<std::shared_ptr<CaptureDriver>> Build(const CaptureDriverConfig& config) {
  std::vector<std::shared_ptr<CaptureDriver>> drivers;
  if (config.v4l2) drivers = EnumerateV4l2Drivers(config.v4l2System);
  if (config.testCamera) drivers.push_back(MakeTestCameraDriver(config.testCameraOptions));
  return drivers;
}

// The source, the environment's when nobody chose one.
CaptureDriverSource Source() {
  std::lock_guard<std::mutex> lock(g_tableMutex);
  if (!g_source) {
    const CaptureDriverConfig config = CaptureDriverConfigFromText(std::getenv("QUELVORA_CAPTURE"));
    g_source = [config] { return Build(config); };
  }
  return g_source;
}

void CopyCut(const std::string& text, LPSTR out, INT size) {
  if (!out || size <= 0) return;
  const std::size_t n = std::min(text.size(), static_cast<std::size_t>(size - 1));
  std::memcpy(out, text.data(), n);
  out[n] = '\0';
}

}  // namespace

CaptureDriverConfig CaptureDriverConfigFromText(const char* text) {
  CaptureDriverConfig config;
  if (!text || !*text) return config;
  config.v4l2 = false;
  std::stringstream words(text);
  std::string word;
  while (std::getline(words, word, ',')) {
    if (word == "v4l2") config.v4l2 = true;
    if (word == "test") config.testCamera = true;
  }
  return config;
}

void SetCaptureDriverSource(CaptureDriverSource source) {
  {
    std::lock_guard<std::mutex> lock(g_tableMutex);
    g_source = std::move(source);
  }
  RefreshCaptureDrivers();
}

void ConfigureCaptureDrivers(const CaptureDriverConfig& config) {
  SetCaptureDriverSource([config] { return Build(config); });
}

void ConfigureCaptureDriversFromEnvironment(std::shared_ptr<V4l2System> system) {
  CaptureDriverConfig config = CaptureDriverConfigFromText(std::getenv("QUELVORA_CAPTURE"));
  config.v4l2System = std::move(system);
  ConfigureCaptureDrivers(config);
}

void RefreshCaptureDrivers() {
  // Devices are probed outside the lock: opening one may take a while.
  std::vector<std::shared_ptr<CaptureDriver>> drivers = Source()();
  if (drivers.size() > static_cast<std::size_t>(MAXVIDEODRIVERS)) drivers.resize(MAXVIDEODRIVERS);
  std::lock_guard<std::mutex> lock(g_tableMutex);
  g_drivers = std::move(drivers);
}

std::shared_ptr<CaptureDriver> CaptureDriverAt(int index) {
  std::lock_guard<std::mutex> lock(g_tableMutex);
  if (index < 0 || static_cast<std::size_t>(index) >= g_drivers.size()) return nullptr;
  return g_drivers[static_cast<std::size_t>(index)];
}

int CaptureDriverCount() {
  std::lock_guard<std::mutex> lock(g_tableMutex);
  return static_cast<int>(g_drivers.size());
}

BOOL capGetDriverDescriptionA(WORD index, LPSTR name, INT nameLength, LPSTR version, INT versionLength) {
  // A walk over the drivers starts at 0: it sees the devices as they are now, and one list for the
  // whole walk.
  if (index == 0) RefreshCaptureDrivers();
  std::shared_ptr<CaptureDriver> driver = CaptureDriverAt(index);
  if (!driver) return FALSE;
  CopyCut(driver->Name(), name, nameLength);
  CopyCut(driver->Version(), version, versionLength);
  return TRUE;
}
