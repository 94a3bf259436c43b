// A scripted V4L2 system for tests and benchmarks on machines without a camera: devices that
// answer the calls of the V4L2 capture driver the way libv4l2 over a camera does, and that can be
// driven into what real cameras do: busy in another program, failing reads, unplugged mid-stream,
// plugged in later, sending MJPEG that does not decode, running faster than asked.
//
// A device has a fixed list of sizes; a format asked for in another size gets the nearest one, by
// the rule UVC cameras use (the smallest area not shared by the two rectangles). With conversion on
// (libv4l2's behaviour) it delivers BGR24, else only its own format.
//
// Streaming works as V4L2 memory-mapped streaming does: the owner of the buffers (the open file that
// requested them; S_FMT and REQBUFS from another file fail with EBUSY) queues them, the camera fills
// the first queued buffer at each of its frames, stamped with the monotonic clock, and drops the
// frame when none is queued; DQBUF hands out the filled buffers oldest first, EAGAIN when there are
// none. The picture of frame n is top-down BGR24 with pixel (x, y) = blue x & 255, green y & 255,
// red n & 255 (rows of width x 3 + rowPadding bytes). An MJPEG camera sends that picture as JPEG,
// which libv4lconvert decodes at DQBUF, and a frame it cannot decode is handled as libv4l2 handles
// one: the buffer goes back to the queue, the next filled one is tried, and after four failures in a
// row DQBUF fails with EIO.
#pragma once

#include <linux/videodev2.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
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
  std::string busInfo;  // empty: none, so every node counts as its own camera
  std::uint32_t version = (6u << 16) | (1u << 8) | 0u;
  bool canCapture = true;       // false: a node that is not a capture device (metadata, output)
  bool convertsToBgr24 = true;  // false: BGR24 requests come back in the camera's own format
  std::uint32_t pixelFormat = V4L2_PIX_FMT_YUYV;  // what the camera itself sends: YUYV or MJPEG
  std::vector<Size> sizes = {{640, 480}, {352, 288}, {176, 144}};
  std::uint32_t rowPadding = 0;  // bytes after each BGR24 row (YUYV cameras)
  double framesPerSecond = 0;    // 0: the rate asked for with VIDIOC_S_PARM, 30 until one is
  bool manualFrames = false;     // frames come only from PushFrames, never from the clock
  std::uint64_t vanishAfterFrames = 0;  // when above 0, the camera is unplugged at that frame
};

class ScriptedV4l2System : public V4l2System {
 public:
  explicit ScriptedV4l2System(std::vector<ScriptedV4l2Camera> cameras = {});
  ~ScriptedV4l2System() override;

  std::vector<std::string> DevicePaths() override;
  int QueryCapability(const std::string& path, v4l2_capability* cap) override;
  std::unique_ptr<V4l2Device> Open(const std::string& path) override;

  // The camera appears (at the end of the device list).
  void Plug(ScriptedV4l2Camera camera);
  // The camera goes: it leaves the device list, and every call on a file still open fails with
  // ENODEV (poll reports it at once).
  void Unplug(const std::string& path);
  // Another program holds the camera (it claimed it first): S_FMT, REQBUFS and STREAMON fail with
  // EBUSY for every file that does not own its buffers already.
  void SetBusy(const std::string& path, bool busy);
  // VIDIOC_STREAMON fails with `error` (0: it works again), as when the USB bus lacks bandwidth.
  void SetStreamOnError(const std::string& path, int error);
  // The next `count` dequeues of a filled buffer fail with `error`; the frame is lost.
  void FailDequeues(const std::string& path, int count, int error = EIO);
  // The next `count` MJPEG frames are cut short after their headers, so that they do not decode.
  void CorruptFrames(const std::string& path, int count);
  // While stalled, the camera sends no frame.
  void SetStalled(const std::string& path, bool stalled);
  // Frames now, one after the other (the only frames of a camera with manualFrames).
  void PushFrames(const std::string& path, int count);

  struct Record {
    std::uint64_t opens = 0;
    std::uint64_t framesProduced = 0;  // frames the camera took, dropped ones included
    std::uint64_t framesDropped = 0;   // taken while no buffer was queued
    std::uint64_t framesDequeued = 0;  // handed to the reader
    std::uint64_t lastFrameDequeued = 0;
    std::uint64_t streamOns = 0, streamOffs = 0;
    std::uint32_t buffersRequested = 0;                                    // last REQBUFS with a count
    std::uint32_t setWidth = 0, setHeight = 0, setPixelFormat = 0;         // last VIDIOC_S_FMT result
    std::uint32_t timePerFrameNumerator = 0, timePerFrameDenominator = 0;  // last VIDIOC_S_PARM
  };
  Record RecordOf(const std::string& path) const;
  // When the camera took frame `frame` (one of the last 256).
  std::chrono::steady_clock::time_point CaptureTimeOf(const std::string& path, std::uint64_t frame) const;

  struct State;  // one per camera, shared with its open files

 private:
  std::shared_ptr<State> Find(const std::string& path) const;

  mutable std::mutex mutex_;
  std::vector<std::shared_ptr<State>> plugged_;
  std::vector<std::shared_ptr<State>> all_;  // unplugged ones too, for their records
};
