// The receive timer's cadence: keep-alive packets and name announcements go out on every tenth
// tick, counted over every receiving control of the process (one pair of counters per process,
// used on the user-interface thread only).
#pragma once

#include <cstdint>

constexpr unsigned kRecvTimerID = 100001;
constexpr unsigned kRecvTimerPeriodMs = 30;
// The window message the receive socket sends when a datagram waits (WSAAsyncSelect, FD_READ).
constexpr unsigned kRecvSocketMessage = 0x0400 + 0x100;  // WM_USER + 0x100
// The longest the receiving controls of the process drain their sockets in one round of ticks;
// what is still queued waits for the next tick.
constexpr std::uint32_t kRecvDrainBudgetMs = 200;

class ReceiveTickCounters {
 public:
  // Counts a tick of a receiving control: true on the 1st, 11th, 21st ... tick.
  bool KeepAliveDue() { return m_ulKeepAliveTicks++ % 10 == 0; }
  // Counts a tick of a control with an announcement socket: true on the 10th, 20th ... tick.
  bool AnnouncementDue() { return ++m_ulAnnouncementTicks % 10 == 0; }

  // Receiving controls share the drain budget: each tick gets its share, so that a round of ticks
  // of many flooded controls holds the user interface no longer than one would.
  void ReceivingStarted() { ++m_nReceiving; }
  void ReceivingStopped() {
    if (m_nReceiving > 0) --m_nReceiving;
  }
  std::uint32_t DrainBudgetMs() const { return kRecvDrainBudgetMs / (m_nReceiving > 1 ? m_nReceiving : 1); }

  void ResetForTesting() { m_ulKeepAliveTicks = m_ulAnnouncementTicks = 0; }

 private:
  std::uint32_t m_ulKeepAliveTicks = 0;
  std::uint32_t m_ulAnnouncementTicks = 0;
  std::uint32_t m_nReceiving = 0;
};

ReceiveTickCounters& TheReceiveTickCounters();
