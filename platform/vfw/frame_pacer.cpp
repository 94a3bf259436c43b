#include <algorithm>

#include "platform/vfw/capture_driver.h"
#include "platform/vfw/wake_fd.h"

void FramePacer::Start(DWORD microSecPerFrame) {
  period_ = std::chrono::microseconds(std::max<DWORD>(microSecPerFrame, 1000));
  next_ = std::chrono::steady_clock::now();
}

bool FramePacer::WaitNext(const WakeFd& wake, std::chrono::steady_clock::time_point* when) {
  if (wake.WaitUntil(next_)) return false;
  const auto now = std::chrono::steady_clock::now();
  *when = now;
  next_ += period_;
  if (next_ + period_ < now) next_ = now;  // fell behind: go on from here rather than in a burst
  return true;
}
