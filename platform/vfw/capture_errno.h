// What a failed V4L2 call means for a capture stream, sorted from its errno.
#pragma once

enum class CaptureErrno {
  kRetry,  // nothing ready yet, or interrupted: wait and call again
  kSkip,   // this frame is lost (bad or short data, a hiccup of the device): go on with the next
  kBusy,   // another program holds the device
  kGone,   // the device is no longer there: the stream is over
};

// EAGAIN and EINTR retry; EBUSY is busy; ENODEV, ENXIO, ENOENT, ESHUTDOWN and EBADF (a file whose
// device was unplugged) are gone; everything else, EIO included, skips. libv4l2 answers EIO after a
// few frames it cannot convert, which MJPEG cameras send now and then, so EIO alone does not end a
// stream: a reader that gets it asks the device whether it is still there.
CaptureErrno ClassifyCaptureErrno(int error);
