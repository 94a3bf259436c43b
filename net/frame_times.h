// When a frame passed the points of a control that set its latency: reaching the capture callback,
// leaving the encoder, its last datagram sent; on the receiving side its last datagram read and its
// picture drawn. Benchmarks observe them to measure a call's latency across processes (the clock is
// CLOCK_MONOTONIC, the same in every process of the machine). While no observer is set nothing is
// stamped: each point costs one atomic load.
#pragma once

#include <cstdint>

struct SentFrameTimes {
  std::uint16_t sequence = 0;  // the frame's header sequence number
  std::uint32_t frameLength = 0;
  bool keyFrame = false;
  std::int64_t capturedNs = 0;  // the capture callback got the frame
  std::int64_t encodedNs = 0;   // copied, labelled and encoded
  std::int64_t sentNs = 0;      // its last datagram sent; 0 when nothing was sent
};

struct ShownFrameTimes {
  std::uint16_t sequence = 0;
  std::int64_t readNs = 0;   // the datagram that completed the frame was read
  std::int64_t drawnNs = 0;  // decoded and drawn
};

class FrameTimesObserver {
 public:
  virtual ~FrameTimesObserver() = default;
  // On the capture streaming thread, once per frame sent.
  virtual void FrameSent(const SentFrameTimes& times) = 0;
  // On the UI thread, once per picture drawn.
  virtual void FrameShown(const ShownFrameTimes& times) = 0;
};

// One observer for the process, or nullptr. Set it before sending or receiving starts and clear it
// after both stopped; it must outlive every call.
void SetFrameTimesObserver(FrameTimesObserver* observer);
FrameTimesObserver* TheFrameTimesObserver();
std::int64_t FrameTimesNowNs();
