#include "recording/record_pacer.h"

#include <algorithm>

std::uint32_t RecordPacer::GapBefore(std::uint32_t skipped, std::uint32_t nowMs) const {
  if (!m_bStarted) return 0;
  const std::uint64_t fit = static_cast<std::uint64_t>(nowMs - m_lastMs) * kMaxRecordedFramesPerSecond / 1000;
  return static_cast<std::uint32_t>(std::min<std::uint64_t>(skipped, fit));
}

bool RecordPacer::TakePosition(std::uint32_t nowMs) {
  if (m_bStarted) {
    // 30 frames a second are 30 thousandths of a frame a millisecond.
    const std::uint64_t refill = static_cast<std::uint64_t>(nowMs - m_lastMs) * kMaxRecordedFramesPerSecond;
    m_nMilliFrames = static_cast<std::uint32_t>(
        std::min<std::uint64_t>(m_nMilliFrames + refill, kRecordBurstFrames * 1000));
  }
  m_bStarted = true;
  m_lastMs = nowMs;
  if (m_nMilliFrames < 1000) return false;
  m_nMilliFrames -= 1000;
  return true;
}
