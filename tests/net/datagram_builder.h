// Datagrams as a peer would send them, for the receive-side tests.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

struct TestDatagram {
  std::uint8_t byte0 = 0x80;  // version 2, no padding, no extension, CC 0
  bool keyFrame = false;
  std::uint8_t payloadType = 33;
  std::uint16_t sequence = 0;
  std::uint32_t frameLength = 0;
  std::vector<std::uint8_t> payload;

  // Header, 4 x CC bytes of CSRC words (0xEE), then the payload.
  std::vector<std::uint8_t> Bytes() const {
    std::vector<std::uint8_t> out = {byte0,
                                     static_cast<std::uint8_t>((keyFrame ? 0x80 : 0) | payloadType),
                                     static_cast<std::uint8_t>(sequence >> 8),
                                     static_cast<std::uint8_t>(sequence),
                                     0x00,
                                     0x00,
                                     0x00,
                                     0x00,
                                     static_cast<std::uint8_t>(frameLength >> 24),
                                     static_cast<std::uint8_t>(frameLength >> 16),
                                     static_cast<std::uint8_t>(frameLength >> 8),
                                     static_cast<std::uint8_t>(frameLength)};
    out.insert(out.end(), 4u * (byte0 & 0x0F), 0xEE);
    out.insert(out.end(), payload.begin(), payload.end());
    return out;
  }
};

// `n` bytes counting up from `first`, so that a misplaced byte shows.
inline std::vector<std::uint8_t> CountingBytes(std::size_t n, std::uint8_t first = 0) {
  std::vector<std::uint8_t> out(n);
  for (std::size_t i = 0; i < n; ++i) out[i] = static_cast<std::uint8_t>(first + i);
  return out;
}

// The fragments of one frame: pieces of at most 800 bytes, all with the frame's header.
inline std::vector<TestDatagram> Fragments(std::uint16_t sequence, bool keyFrame,
                                           const std::vector<std::uint8_t>& frame,
                                           std::size_t pieceSize = 800) {
  std::vector<TestDatagram> out;
  for (std::size_t at = 0; at < frame.size(); at += pieceSize) {
    TestDatagram d;
    d.keyFrame = keyFrame;
    d.sequence = sequence;
    d.frameLength = static_cast<std::uint32_t>(frame.size());
    d.payload.assign(frame.begin() + at, frame.begin() + std::min(frame.size(), at + pieceSize));
    out.push_back(d);
  }
  return out;
}
