// An allowance that refills at a steady rate up to a burst: how many of something may happen now.
// Counted in thousandths, on the wrapping millisecond clock of GetTickCount.
#pragma once

#include <algorithm>
#include <cstdint>

class RateAllowance {
 public:
  constexpr RateAllowance(std::uint32_t perSecond, std::uint32_t burst)
      : m_nPerSecond(perSecond), m_nBurstMilli(burst * 1000), m_nMilli(burst * 1000) {}

  // Takes one at `nowMs` when there is one; false (and nothing taken) when there is not.
  bool Take(std::uint32_t nowMs) {
    if (m_bStarted) {
      // perSecond a second is perSecond thousandths a millisecond.
      const std::uint64_t refill = static_cast<std::uint64_t>(nowMs - m_lastMs) * m_nPerSecond;
      m_nMilli = static_cast<std::uint32_t>(std::min<std::uint64_t>(m_nMilli + refill, m_nBurstMilli));
    }
    m_bStarted = true;
    m_lastMs = nowMs;
    if (m_nMilli < 1000) return false;
    m_nMilli -= 1000;
    return true;
  }

  bool Started() const { return m_bStarted; }
  std::uint32_t LastMs() const { return m_lastMs; }

 private:
  std::uint32_t m_nPerSecond;
  std::uint32_t m_nBurstMilli;
  std::uint32_t m_nMilli;
  bool m_bStarted = false;
  std::uint32_t m_lastMs = 0;
};
