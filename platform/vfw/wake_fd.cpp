#include "platform/vfw/wake_fd.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <ctime>

WakeFd::WakeFd() : fd_(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

WakeFd::~WakeFd() {
  if (fd_ >= 0) close(fd_);
}

void WakeFd::Wake() const {
  const std::uint64_t one = 1;
  // A full counter (never reached here) is still readable, which is all a waiter looks at.
  [[maybe_unused]] const ssize_t n = write(fd_, &one, sizeof one);
}

void WakeFd::Clear() const {
  std::uint64_t value;
  [[maybe_unused]] const ssize_t n = read(fd_, &value, sizeof value);
}

bool WakeFd::WaitUntil(std::chrono::steady_clock::time_point deadline) const {
  for (;;) {
    const auto left = std::max(std::chrono::steady_clock::duration::zero(),
                               deadline - std::chrono::steady_clock::now());
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(left);
    const timespec timeout{static_cast<time_t>(seconds.count()),
                           static_cast<long>(std::chrono::nanoseconds(left - seconds).count())};
    pollfd p{fd_, POLLIN, 0};
    const int r = ppoll(&p, 1, &timeout, nullptr);
    if (r >= 0) return r > 0;
    if (errno != EINTR) return false;
  }
}
