#include "recording/record_pacer.h"

#include <algorithm>

std::uint32_t RecordPacer::GapBefore(std::uint32_t skipped, std::uint32_t nowMs) const {
  if (!m_positions.Started()) return 0;
  const std::uint64_t fit =
      static_cast<std::uint64_t>(nowMs - m_positions.LastMs()) * kMaxRecordedFramesPerSecond / 1000;
  return static_cast<std::uint32_t>(std::min<std::uint64_t>(skipped, fit));
}
