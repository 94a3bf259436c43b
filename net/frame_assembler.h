// Putting received frames back together, for the display and for each recording client.
//
// The wire carries no fragment number: every fragment of a frame has the same header, and a frame
// of L bytes left as ceil(L / 800) fragments, all of 800 bytes but the last. So a frame is taken
// only when nothing shows its bytes out of order:
//  - each fragment is 800 bytes, or the length the last one must have;
//  - the fragment that starts with an MPEG-4 start code (00 00 01) goes first, the short one last,
//    the others in between in the order they arrived;
//  - an exact repeat of a fragment already held is dropped; any other extra fragment, a second
//    start-code fragment, or a header that disagrees with the frame's marks the frame damaged.
// Two interior fragments of 800 bytes swapped in transit leave no trace and are not caught here.
//
// A few frames are in flight at once, one slot each (indexed by sequence number), so a late
// fragment of one frame arriving after the next frame has begun costs neither. Frames are handed
// out in sequence order. A frame is lost when it is damaged, when a frame two numbers later has
// begun while it is still incomplete, or when its slot is needed; after a loss only a key frame
// can be decoded, so the assembler waits for the next whole one ("waiting" is a state of its own,
// not a sequence number). Sequence numbers are compared modulo 2^16: 0 follows 65535.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>

#include "net/video_packet.h"

// The largest frame a slot holds, as the sender's packet buffer.
constexpr std::size_t kFrameSlotBytes = 100000;
constexpr int kFramesInFlight = 4;
// A frame still incomplete when one this many numbers later has begun will not complete.
constexpr int kLossDistance = 2;
// A sequence number this far behind the last frame handed out starts a new stream (a sender that
// started again) rather than being a late fragment.
constexpr int kRestartDistance = 64;

// True when `a` comes after `b` in sequence-number order (modulo 2^16).
inline bool SequenceAfter(std::uint16_t a, std::uint16_t b) {
  const auto d = static_cast<std::uint16_t>(a - b);
  return d != 0 && d < 0x8000;
}

// A whole frame, ready for the decoder. `data` stays valid until the next Add or Reset.
struct AssembledFrame {
  const std::uint8_t* data = nullptr;
  std::size_t length = 0;
  std::uint16_t sequence = 0;
  std::uint32_t timestamp = 0;  // as the frame's first fragment to arrive carried it
  bool keyFrame = false;
  // Sequence numbers between the frame handed out before this one and this one: frames that were
  // lost, damaged or passed over while waiting. 0 for the first frame after a Reset.
  std::uint32_t skipped = 0;
};

class FrameAssembler {
 public:
  enum class Added {
    kTaken,      // the fragment is part of a frame being put together
    kEmpty,      // no payload (a keep-alive with the user name): nothing to put together
    kRepeat,     // an exact repeat of a fragment already held: dropped
    kLate,       // belongs to a frame already handed out or given up: dropped
    kBadLength,  // the header's frame length is 0 or larger than a slot: dropped
    kDamaged,    // the fragment shows the frame's bytes cannot be put in order: frame damaged
  };

  // `storage` holds kFramesInFlight * kFrameSlotBytes bytes and outlives the assembler.
  explicit FrameAssembler(std::uint8_t* storage = nullptr) { Attach(storage); }
  void Attach(std::uint8_t* storage);
  bool Attached() const { return m_pStorage != nullptr; }

  // Empty slots, waiting for a key frame, no sequence number known.
  void Reset();

  Added Add(const ParsedDatagram& header, const std::uint8_t* payload);

  // The next frame for the decoder, in sequence order (after a loss, the next whole key frame).
  std::optional<AssembledFrame> Next();

  // The frame Next handed out did not decode: it counts as lost.
  void DecodeFailed() {
    m_bWaiting = true;
    ++m_nRefused;
  }
  // Frames refused since the assembler was made: damaged pieces, or no decode.
  std::uint64_t Refused() const { return m_nRefused; }

  bool Waiting() const { return m_bWaiting; }
  // Whether a key frame is being put together: a request for one would only repeat it.
  bool KeyFrameArriving() const;

 private:
  struct Slot {
    enum class State { kEmpty, kFilling, kComplete, kDamaged };
    State state = State::kEmpty;
    std::uint16_t sequence = 0;
    std::uint32_t timestamp = 0;
    std::uint32_t frameLength = 0;
    bool keyFrame = false;
    int count = 0;  // fragments the frame left as
    std::uint32_t lastLength = 0;
    bool haveFirst = false;
    bool haveLast = false;  // the short last fragment, when the last one is short
    int interiorHeld = 0;
    int interiorRoom = 0;
    std::uint8_t* buffer = nullptr;
  };

  Slot& SlotOf(std::uint16_t sequence) { return m_slots[sequence % kFramesInFlight]; }
  void Begin(Slot& slot, const ParsedDatagram& header);
  Added Place(Slot& slot, const ParsedDatagram& header, const std::uint8_t* payload);
  bool IsRepeatAt(const Slot& slot, int index, const std::uint8_t* payload, std::size_t length) const;
  void Complete(Slot& slot);
  // Gives the next expected frame up when it cannot complete any more.
  void GiveUpStalledFrame();
  AssembledFrame HandOut(Slot& slot);
  Slot* OldestCompleteKeyFrame();

  std::uint8_t* m_pStorage = nullptr;
  std::array<Slot, kFramesInFlight> m_slots{};
  bool m_bWaiting = true;
  bool m_bHaveLast = false;  // a frame was handed out (or given up) since the Reset
  std::uint16_t m_nLast = 0;
  bool m_bHaveNewest = false;
  std::uint16_t m_nNewest = 0;
  Slot* m_pHandedOut = nullptr;  // emptied at the next Add or Next
  std::uint64_t m_nRefused = 0;
};
