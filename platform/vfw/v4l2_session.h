// A connected V4L2 camera: its buffers, its stream and the frames read from it.
#pragma once

#include <memory>
#include <string>

#include "platform/vfw/capture_driver.h"
#include "platform/vfw/v4l2_io.h"

// Claims an open capture device for 24-bit pictures at `width` x `height` (or the nearest size it
// has): the format is set and buffers are requested, so that no other program can take it while it
// is connected. nullptr when the device is busy (reported on stderr, naming `label`), gone, or cannot
// deliver BGR24.
std::unique_ptr<CaptureSession> ClaimV4l2Device(std::unique_ptr<V4l2Device> device, const std::string& label,
                                                int width, int height);
