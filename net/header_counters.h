// The header counters of one control: sequence number, timestamp and source identifier.
//
// The frame sender advances them on the capture streaming thread while keep-alive and fake
// video packets read them on the UI thread, so they are held atomically: sequence number and
// timestamp share one word, and a reader always gets a pair that existed.
#pragma once

#include <atomic>
#include <cstdint>

#include "net/video_packet.h"

class HeaderCounters {
 public:
  void Seed(std::uint16_t sequence, std::uint32_t timestamp, std::uint32_t sourceId) {
    m_sourceId.store(sourceId, std::memory_order_relaxed);
    m_sequenceAndTimestamp.store(Pack(sequence, timestamp), std::memory_order_relaxed);
  }

  PacketFields Load() const {
    const std::uint64_t v = m_sequenceAndTimestamp.load(std::memory_order_relaxed);
    return {static_cast<std::uint16_t>(v >> 32), static_cast<std::uint32_t>(v),
            m_sourceId.load(std::memory_order_relaxed)};
  }

  // One encoded frame: the sequence number goes up by 1, 65535 wrapping to 0.
  void NextSequence() {
    Update([](std::uint16_t& sequence, std::uint32_t&) { ++sequence; });
  }

  // After a sent frame; wraps at 2^32.
  void AdvanceTimestamp(std::uint32_t step) {
    Update([step](std::uint16_t&, std::uint32_t& timestamp) { timestamp += step; });
  }

 private:
  static std::uint64_t Pack(std::uint16_t sequence, std::uint32_t timestamp) {
    return (static_cast<std::uint64_t>(sequence) << 32) | timestamp;
  }

  template <typename F>
  void Update(F change) {
    std::uint64_t old = m_sequenceAndTimestamp.load(std::memory_order_relaxed);
    std::uint64_t next;
    do {
      std::uint16_t sequence = static_cast<std::uint16_t>(old >> 32);
      std::uint32_t timestamp = static_cast<std::uint32_t>(old);
      change(sequence, timestamp);
      next = Pack(sequence, timestamp);
    } while (!m_sequenceAndTimestamp.compare_exchange_weak(old, next, std::memory_order_relaxed));
  }

  std::atomic<std::uint64_t> m_sequenceAndTimestamp{0};
  std::atomic<std::uint32_t> m_sourceId{0};
};
