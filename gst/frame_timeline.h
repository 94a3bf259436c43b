// The running time of each frame quelvorasrc pushes: the spacing of the senders' header timestamps
// (8 units a millisecond), anchored at the arrival of the first frame.
//
// A control advances its timestamp by the nominal frame interval of its send rate (8 x floor(1000 /
// rate)) for every frame it sends, so its timestamps run a little slower than the clock, and not at
// all over frames it did not send. A frame that arrives later than its time allows moves the whole
// timeline forward to its arrival, so that sinks that wait on the clock never fall ever further
// behind; a frame that arrives early (after a burst) keeps its time, which spaces the burst out again.
#pragma once

#include <cstdint>

class FrameTimeline {
 public:
  // How late a frame may arrive after its time before the timeline moves.
  static constexpr std::uint64_t kLateAllowanceNs = 40'000'000;
  // A timestamp step larger than this (or backwards) is a new stream, not a gap.
  static constexpr std::uint32_t kLargestStep = 10 * 1000 * 8;

  void Reset() { m_bStarted = false; }

  // The time of the frame with this header timestamp that arrived at `arrivalNs` (running time).
  // `jumped` is set when the timeline started again here.
  std::uint64_t Place(std::uint32_t timestamp, std::uint64_t arrivalNs, bool* jumped);

 private:
  static constexpr std::uint64_t kNsPerUnit = 125'000;

  bool m_bStarted = false;
  std::uint32_t m_lastTimestamp = 0;
  std::uint64_t m_baseNs = 0;  // the time of timestamp unit 0 of the current run
  std::uint64_t m_units = 0;   // units since the run began, unwrapped
  std::uint64_t m_lastNs = 0;
};
