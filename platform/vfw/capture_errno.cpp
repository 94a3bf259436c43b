#include "platform/vfw/capture_errno.h"

#include <cerrno>

CaptureErrno ClassifyCaptureErrno(int error) {
  switch (error) {
    case EAGAIN:
    case EINTR:
      return CaptureErrno::kRetry;
    case EBUSY:
      return CaptureErrno::kBusy;
    case ENODEV:
    case ENXIO:
    case ENOENT:
    case ESHUTDOWN:
    case EBADF:
      return CaptureErrno::kGone;
    default:
      return CaptureErrno::kSkip;
  }
}
