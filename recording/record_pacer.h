// How a recording client's file keeps time and how fast it may grow.
//
// Every frame of the stream has a sample position in the file: a frame that decoded is written
// there, and the frames that were lost, damaged or passed over while waiting for a key frame leave
// their positions empty (the writer fills them with empty chunks, which players show as the
// previous picture), so the file plays in step with the call. A hostile or broken sender cannot
// make a file grow faster than a camera could: positions advance at most 30 a second over time,
// with a small burst for frames that arrive bunched together.
#pragma once

#include <cstdint>

#include "net/rate_allowance.h"

constexpr int kMaxRecordedFramesPerSecond = 30;
// Frames taken back to back before the rate applies.
constexpr int kRecordBurstFrames = 8;

class RecordPacer {
 public:
  void Reset() { *this = RecordPacer{}; }

  // Empty positions to leave before a frame that follows `skipped` frames not recorded: as many as
  // were skipped, but no more than 30 a second fit into the time since the last position (so a
  // sender that starts again with new sequence numbers leaves no hole).
  std::uint32_t GapBefore(std::uint32_t skipped, std::uint32_t nowMs) const;

  // Whether a frame may take a position at `nowMs`; taking it counts against the rate.
  bool TakePosition(std::uint32_t nowMs) { return m_positions.Take(nowMs); }

 private:
  RateAllowance m_positions{kMaxRecordedFramesPerSecond, kRecordBurstFrames};
};
