// A scripted V4L2 system for tests and demos on machines without a camera: devices that answer the
// calls of the V4L2 capture driver the way libv4l2 over a camera does, and that can be made to stall
// or to vanish (every later call fails with ENODEV, as when a camera is unplugged).
//
// A device delivers a fixed set of sizes; asking for another gets the nearest one, as a driver
// adjusts a format. With conversion on (libv4l2's behaviour) it delivers BGR24, else only YUYV.
// The BGR24 picture of frame n is top-down with pixel (x, y) = blue x & 255, green y & 255,
// red n & 255, and rows of width x 3 + rowPadding bytes.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/vfw/v4l2_io.h"

struct ScriptedV4l2Camera {
  struct Size {
    int width;
    int height;
  };
  std::string path = "/dev/video0";
  std::string card = "Scripted Camera";
  std::string driver = "scripted";
  std::uint32_t version = (6u << 16) | (1u << 8) | 0u;
  bool canCapture = true;       // false: a node that is not a capture device (metadata, output)
  bool convertsToBgr24 = true;  // false: BGR24 requests come back as YUYV
  std::vector<Size> sizes = {{640, 480}, {352, 288}, {176, 144}};
  std::uint32_t rowPadding = 0;         // bytes after each BGR24 row
  std::uint64_t vanishAfterFrames = 0;  // when above 0, the device vanishes after that many frames
};

class ScriptedV4l2System : public V4l2System {
 public:
  explicit ScriptedV4l2System(std::vector<ScriptedV4l2Camera> cameras);

  std::vector<std::string> DevicePaths() override;
  std::unique_ptr<V4l2Device> Open(const std::string& path) override;

  // Every later call on the device, and every later open, fails with ENODEV.
  void Vanish(const std::string& path);
  // While stalled, reads find no frame (EAGAIN).
  void SetStalled(const std::string& path, bool stalled);

  struct Record {
    std::uint64_t opens = 0;
    std::uint64_t framesRead = 0;
    std::uint64_t streamOffs = 0;
    std::uint32_t setWidth = 0, setHeight = 0, setPixelFormat = 0;         // last VIDIOC_S_FMT result
    std::uint32_t timePerFrameNumerator = 0, timePerFrameDenominator = 0;  // last VIDIOC_S_PARM
  };
  Record RecordOf(const std::string& path) const;

  struct State;  // one per device, shared with its open files

 private:
  std::shared_ptr<State> Find(const std::string& path) const;

  std::vector<std::shared_ptr<State>> states_;
};
