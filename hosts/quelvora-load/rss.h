// The process's resident memory over a run: first, after warm-up, peak and last sample.
#pragma once

#include <cstdint>

// VmRSS of this process in KiB, from /proc/self/status; 0 when it cannot be read.
std::int64_t ReadRssKb();

struct RssTrack {
  std::int64_t startKb = 0;  // before any datagram was sent
  std::int64_t warmKb = 0;   // once buffers, decoders and socket queues have reached their size
  std::int64_t peakKb = 0;
  std::int64_t endKb = 0;
  bool warm = false;

  void Sample(std::int64_t kb);
  void MarkWarm() {
    warm = true;
    warmKb = endKb;
  }
  // What the run grew by after warm-up.
  std::int64_t GrowthKb() const { return endKb - warmKb; }
};
