#include "gst/frame_timeline.h"

#include <algorithm>

std::uint64_t FrameTimeline::Place(std::uint32_t timestamp, std::uint64_t arrivalNs, bool* jumped) {
  const std::uint32_t step = timestamp - m_lastTimestamp;
  *jumped = !m_bStarted || step == 0 || step > kLargestStep;
  m_lastTimestamp = timestamp;
  if (*jumped) {
    // Never before a frame already pushed, whose time may lie ahead of the clock.
    m_baseNs = m_bStarted ? std::max(arrivalNs, m_lastNs + 1) : arrivalNs;
    m_units = 0;
    m_bStarted = true;
    m_lastNs = m_baseNs;
    return m_baseNs;
  }
  m_units += step;
  std::uint64_t time = m_baseNs + m_units * kNsPerUnit;
  if (arrivalNs > time + kLateAllowanceNs) {
    m_baseNs += arrivalNs - time;
    time = arrivalNs;
  }
  m_lastNs = time;
  return time;
}
