#include "net/frame_times.h"

#include <atomic>
#include <ctime>

namespace {
std::atomic<FrameTimesObserver*> g_observer{nullptr};
}

void SetFrameTimesObserver(FrameTimesObserver* observer) {
  g_observer.store(observer, std::memory_order_release);
}

FrameTimesObserver* TheFrameTimesObserver() { return g_observer.load(std::memory_order_acquire); }

std::int64_t FrameTimesNowNs() {
  timespec t{};
  clock_gettime(CLOCK_MONOTONIC, &t);
  return static_cast<std::int64_t>(t.tv_sec) * 1000000000 + t.tv_nsec;
}
