// Capture drivers: the backends behind the capture window, and the table of drivers that
// capGetDriverDescriptionA and WM_CAP_DRIVER_CONNECT index.
//
// By default the table holds the machine's V4L2 cameras in /dev/video* order; the built-in test
// camera joins it, after the cameras, only when asked for ($QUELVORA_CAPTURE, or a host's
// ConfigureCaptureDrivers). The list is built afresh whenever someone starts to read it
// (capGetDriverDescriptionA with index 0) and when a driver is connected, so that a camera plugged
// in later appears and an unplugged one goes.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/kernel/windef.h"

class V4l2System;
class WakeFd;
struct CAPTUREPARMS;

// A connected driver: it holds its device from the connection on, so that a device another program
// uses fails to connect. Used by one capture window at a time: format calls on the UI thread while
// no frame is being grabbed, Start/Grab/Stop on the window's grabbing thread.
class CaptureSession {
 public:
  virtual ~CaptureSession() = default;
  // The format frames are delivered in (a BI_RGB DIB header with biSizeImage filled in).
  virtual BITMAPINFOHEADER Format() const = 0;
  // Takes the format when the device can deliver it; FALSE leaves the format unchanged.
  virtual bool SetFormat(const BITMAPINFOHEADER& format) = 0;
  virtual bool HasOverlay() const = 0;

  // Starts delivering frames at (about) the given period. false when the device cannot stream.
  virtual bool Start(DWORD microSecPerFrame) = 0;
  enum class GrabResult {
    kFrame,    // `bits` holds the newest frame
    kSkipped,  // frames came but none was usable; the stream goes on
    kStopped,  // `wake` was woken while waiting
    kGone,     // the device is gone: no frame will come again
  };
  struct Grabbed {
    GrabResult result;
    std::chrono::steady_clock::time_point captured;  // when the camera took the frame
  };
  // Waits for the next frame, at the device's pace, and fills the newest one there is into `bits`
  // (Format(), biSizeImage bytes).
  virtual Grabbed Grab(BYTE* bits, const WakeFd& wake) = 0;
  virtual void Stop() = 0;
};

// Paces a source that has no clock of its own: one frame a period from Start, the first at once.
class FramePacer {
 public:
  void Start(DWORD microSecPerFrame);
  // Waits for the next frame's time; false when `wake` was woken first. `when` gets that time.
  bool WaitNext(const WakeFd& wake, std::chrono::steady_clock::time_point* when);

 private:
  std::chrono::microseconds period_{66667};
  std::chrono::steady_clock::time_point next_;
};

class CaptureDriver {
 public:
  virtual ~CaptureDriver() = default;
  virtual std::string Name() const = 0;
  virtual std::string Version() const = 0;
  // Connects; nullptr when the device cannot be opened, is busy in another program or cannot
  // deliver 24-bit pictures.
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

// The capture devices of a V4L2 system (the machine's by default), in device-number order. A camera
// with several capture nodes (the same bus_info) is listed once, by its first node.
std::vector<std::shared_ptr<CaptureDriver>> EnumerateV4l2Drivers(
    std::shared_ptr<V4l2System> system = nullptr);

struct CaptureDriverConfig {
  bool v4l2 = true;         // V4L2 capture devices first
  bool testCamera = false;  // then the test camera
  TestCameraOptions testCameraOptions;
  std::shared_ptr<V4l2System> v4l2System;  // nullptr: /dev/video* through libv4l2
};
// The words of $QUELVORA_CAPTURE: a comma-separated list of "v4l2" and "test" (the cameras always
// before the test camera, whatever the order written), or "none"; unknown words are ignored.
// Unset (nullptr) or empty means "v4l2": the test camera is there only when asked for.
CaptureDriverConfig CaptureDriverConfigFromText(const char* text);

// Where the table's drivers come from; asked again at every fresh build of the table. At most
// MAXVIDEODRIVERS (10) of what it gives are kept. Windows already connected keep their driver.
using CaptureDriverSource = std::function<std::vector<std::shared_ptr<CaptureDriver>>()>;
void SetCaptureDriverSource(CaptureDriverSource source);
// The standard source: V4L2 cameras and the test camera as `config` says.
void ConfigureCaptureDrivers(const CaptureDriverConfig& config);
// ConfigureCaptureDrivers from $QUELVORA_CAPTURE. This is the table's source when nothing
// configured it. `system` stands for the machine's devices when given.
void ConfigureCaptureDriversFromEnvironment(std::shared_ptr<V4l2System> system = nullptr);
// Builds the table afresh from its source.
void RefreshCaptureDrivers();
// The driver at `index` in the table as last built, or nullptr.
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
// The same from a picture of another size, scaled (smoothly, proportions not kept) to width x height.
void ScaleBgr24TopDownToDib(const BYTE* src, std::size_t srcStride, int srcWidth, int srcHeight, BYTE* dst,
                            int width, int height, int bitCount);
// Whether a format block asks for something the backends can deliver: BI_RGB, 16 or 24 bits,
// bottom-up, width and height 1 to 8192.
bool IsDeliverableFormat(const BITMAPINFOHEADER& format);
// The header with biSizeImage set from the size and depth.
BITMAPINFOHEADER NormalizedFormat(const BITMAPINFOHEADER& format);
