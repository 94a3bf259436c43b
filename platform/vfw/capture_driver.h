// Capture drivers: the backends behind the capture window, and the table of drivers that
// capGetDriverDescriptionA and WM_CAP_DRIVER_CONNECT index.
//
// By default the table holds the V4L2 capture devices in /dev/video* order, then the built-in test
// camera. Hosts and tests choose it explicitly with ConfigureCaptureDrivers or
// SetCaptureDriversForTesting; until they do, $QUELVORA_CAPTURE decides (see
// ConfigureCaptureDriversFromEnvironment).
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/kernel/windef.h"

class V4l2System;
struct CAPTUREPARMS;

// A connected driver. Used by one capture window at a time: format calls on the UI thread while no
// frame is being grabbed, Start/Grab/Stop on the window's grabbing thread.
class CaptureSession {
 public:
  virtual ~CaptureSession() = default;
  // The format frames are delivered in (a BI_RGB DIB header with biSizeImage filled in).
  virtual BITMAPINFOHEADER Format() const = 0;
  // Takes the format when the device can deliver exactly it; FALSE leaves the format unchanged.
  virtual bool SetFormat(const BITMAPINFOHEADER& format) = 0;
  virtual bool HasOverlay() const = 0;

  enum class GrabResult { kFrame, kStopped, kFailed };
  // Prepares for frames at the given period. false when the device cannot deliver.
  virtual bool Start(DWORD microSecPerFrame) = 0;
  // Fills one frame of Format() (biSizeImage bytes) into `bits`. Returns kStopped when `stop` was
  // set while waiting, kFailed when the device is gone.
  virtual GrabResult Grab(BYTE* bits, const std::atomic<bool>& stop) = 0;
  virtual void Stop() = 0;
};

class CaptureDriver {
 public:
  virtual ~CaptureDriver() = default;
  virtual std::string Name() const = 0;
  virtual std::string Version() const = 0;
  // Connects; nullptr when the device cannot be opened.
  virtual std::unique_ptr<CaptureSession> Connect() = 0;
};

// The built-in test camera: moving colour bars, a moving box and a frame counter, with a marker on
// the picture's top row (left half pure red, right half pure blue) that shows orientation and
// channel order.
struct TestCameraOptions {
  struct Size {
    int width;
    int height;
  };
  // The sizes it accepts; empty accepts every size from 16 x 16 to 2048 x 2048.
  std::vector<Size> acceptedSizes;
  // Claims a hardware overlay (shown like the preview), so that callers' overlay path can be tested.
  bool hasOverlay = false;
};
constexpr const char* kTestCameraName = "Quelvora Test Camera";
constexpr const char* kTestCameraVersion = "Version: 1.0";
std::shared_ptr<CaptureDriver> MakeTestCameraDriver(const TestCameraOptions& options = {});
// The test camera's picture number `frame` (counted from 0 at each stream start) as top-down 24-bit
// B,G,R rows of width x 3 bytes, so that what a receiver shows can be compared with its source.
void DrawTestCameraPicture(BYTE* bits, int width, int height, std::uint32_t frame);

// The capture devices of a V4L2 system (the machine's by default), in device-number order.
std::vector<std::shared_ptr<CaptureDriver>> EnumerateV4l2Drivers(
    std::shared_ptr<V4l2System> system = nullptr);

struct CaptureDriverConfig {
  bool v4l2 = true;        // V4L2 capture devices first
  bool testCamera = true;  // then the test camera
  TestCameraOptions testCameraOptions;
  std::shared_ptr<V4l2System> v4l2System;  // nullptr: /dev/video* through libv4l2
};
// Rebuilds the table. At most MAXVIDEODRIVERS (10) drivers are kept. Windows already connected keep
// their driver.
void ConfigureCaptureDrivers(const CaptureDriverConfig& config);
// Makes the table exactly `drivers` (an empty list: no driver at all).
void SetCaptureDriversForTesting(std::vector<std::shared_ptr<CaptureDriver>> drivers);
// Rebuilds the table from $QUELVORA_CAPTURE: a comma-separated list of "v4l2" and "test" (in that
// order of preference whatever the order written), or "none"; unset or empty means "v4l2,test".
// Unknown words are ignored. This is what the table is when nothing configured it.
void ConfigureCaptureDriversFromEnvironment();
// The driver at `index`, or nullptr.
std::shared_ptr<CaptureDriver> CaptureDriverAt(int index);
int CaptureDriverCount();

// The streaming parameters a new capture window starts with (what WM_CAP_GET_SEQUENCE_SETUP returns
// before any WM_CAP_SET_SEQUENCE_SETUP).
CAPTUREPARMS DefaultCaptureParms();

// DIB layout helpers shared by the backends.
// Bytes per row of a BI_RGB DIB: padded to 4 bytes.
inline std::size_t DibStride(int width, int bitCount) {
  return ((static_cast<std::size_t>(width) * static_cast<std::size_t>(bitCount) + 31) / 32) * 4;
}
// Converts a top-down 24-bit blue-green-red picture (rows of `srcStride` bytes) to a bottom-up DIB of
// 24 bits (blue-green-red) or 16 bits (5-5-5), rows padded as DibStride says.
void ConvertBgr24TopDownToDib(const BYTE* src, std::size_t srcStride, int width, int height, BYTE* dst,
                              int bitCount);
// Whether a format block asks for something the backends can deliver: BI_RGB, 16 or 24 bits,
// bottom-up, width and height 1 to 8192.
bool IsDeliverableFormat(const BITMAPINFOHEADER& format);
// The header with biSizeImage set from the size and depth.
BITMAPINFOHEADER NormalizedFormat(const BITMAPINFOHEADER& format);
