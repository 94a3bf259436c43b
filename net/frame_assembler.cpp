#include "net/frame_assembler.h"

#include <cstring>

namespace {

bool StartsWithStartCode(const std::uint8_t* payload, std::size_t length) {
  return length >= 3 && payload[0] == 0 && payload[1] == 0 && payload[2] == 1;
}

}  // namespace

void FrameAssembler::Attach(std::uint8_t* storage) {
  m_pStorage = storage;
  Reset();
}

void FrameAssembler::Reset() {
  for (std::size_t i = 0; i < m_slots.size(); ++i) {
    m_slots[i] = Slot{};
    if (m_pStorage != nullptr) m_slots[i].buffer = m_pStorage + i * kFrameSlotBytes;
  }
  m_bWaiting = true;
  m_bHaveLast = false;
  m_bHaveNewest = false;
  m_pHandedOut = nullptr;
}

bool FrameAssembler::KeyFrameArriving() const {
  for (const Slot& slot : m_slots) {
    if (slot.state != Slot::State::kFilling && slot.state != Slot::State::kComplete) continue;
    if (slot.keyFrame && (!m_bHaveLast || SequenceAfter(slot.sequence, m_nLast))) return true;
  }
  return false;
}

FrameAssembler::Added FrameAssembler::Add(const ParsedDatagram& header, const std::uint8_t* payload) {
  if (m_pHandedOut != nullptr) {
    m_pHandedOut->state = Slot::State::kEmpty;
    m_pHandedOut = nullptr;
  }
  if (header.payloadLength == 0) return Added::kEmpty;
  if (m_pStorage == nullptr) return Added::kLate;
  if (header.frameLength == 0 || header.frameLength > kFrameSlotBytes) return Added::kBadLength;

  const std::uint16_t sequence = header.sequence;
  if (m_bHaveLast && !SequenceAfter(sequence, m_nLast)) {
    if (static_cast<std::uint16_t>(m_nLast - sequence) < kRestartDistance) return Added::kLate;
    Reset();  // far behind: the sender started a new stream
  }
  if (!m_bHaveNewest || SequenceAfter(sequence, m_nNewest)) {
    m_nNewest = sequence;
    m_bHaveNewest = true;
  }

  Slot& slot = SlotOf(sequence);
  if (slot.state != Slot::State::kEmpty && slot.sequence != sequence) {
    if (SequenceAfter(slot.sequence, sequence)) return Added::kLate;
    // An older frame still holds the slot: it can no longer be handed out in order.
    slot.state = Slot::State::kEmpty;
  }
  if (slot.state == Slot::State::kEmpty) Begin(slot, header);
  return Place(slot, header, payload);
}

void FrameAssembler::Begin(Slot& slot, const ParsedDatagram& header) {
  std::uint8_t* buffer = slot.buffer;
  slot = Slot{};
  slot.buffer = buffer;
  slot.state = Slot::State::kFilling;
  slot.sequence = header.sequence;
  slot.timestamp = header.timestamp;
  slot.frameLength = header.frameLength;
  slot.keyFrame = header.marker;
  slot.count = static_cast<int>((header.frameLength + kMaxFragmentPayload - 1) / kMaxFragmentPayload);
  slot.lastLength = header.frameLength - static_cast<std::uint32_t>(kMaxFragmentPayload) * (slot.count - 1);
  slot.interiorRoom = slot.lastLength == kMaxFragmentPayload ? slot.count - 1 : slot.count - 2;
  if (slot.interiorRoom < 0) slot.interiorRoom = 0;
}

bool FrameAssembler::IsRepeatAt(const Slot& slot, int index, const std::uint8_t* payload,
                                std::size_t length) const {
  const std::size_t held = index == slot.count - 1 ? slot.lastLength : kMaxFragmentPayload;
  return held == length && std::memcmp(slot.buffer + index * kMaxFragmentPayload, payload, length) == 0;
}

FrameAssembler::Added FrameAssembler::Place(Slot& slot, const ParsedDatagram& header,
                                            const std::uint8_t* payload) {
  if (slot.state == Slot::State::kDamaged) return Added::kDamaged;
  const std::size_t length = header.payloadLength;
  const auto damaged = [this, &slot] {
    slot.state = Slot::State::kDamaged;
    ++m_nRefused;
    return Added::kDamaged;
  };
  if (header.frameLength != slot.frameLength || header.marker != slot.keyFrame) return damaged();

  int index;
  if (slot.count == 1) {
    if (length != slot.frameLength) return damaged();
    if (slot.haveFirst) return IsRepeatAt(slot, 0, payload, length) ? Added::kRepeat : damaged();
    index = 0;
    slot.haveFirst = true;
  } else {
    const bool shortLast = slot.lastLength != kMaxFragmentPayload && length == slot.lastLength;
    if (length != kMaxFragmentPayload && !shortLast) return damaged();
    if (shortLast) {
      index = slot.count - 1;
      if (slot.haveLast) return IsRepeatAt(slot, index, payload, length) ? Added::kRepeat : damaged();
      slot.haveLast = true;
    } else if (StartsWithStartCode(payload, length)) {
      index = 0;
      if (slot.haveFirst) return IsRepeatAt(slot, 0, payload, length) ? Added::kRepeat : damaged();
      slot.haveFirst = true;
    } else {
      for (int i = 1; i <= slot.interiorHeld; ++i) {
        if (IsRepeatAt(slot, i, payload, length)) return Added::kRepeat;
      }
      if (slot.interiorHeld == slot.interiorRoom) return damaged();
      index = 1 + slot.interiorHeld++;
    }
  }
  std::memcpy(slot.buffer + index * kMaxFragmentPayload, payload, length);
  const bool lastPlaced = slot.count == 1 || slot.lastLength == kMaxFragmentPayload || slot.haveLast;
  if (slot.haveFirst && lastPlaced && slot.interiorHeld == slot.interiorRoom) slot.state = Slot::State::kComplete;
  return Added::kTaken;
}

FrameAssembler::Slot* FrameAssembler::OldestCompleteKeyFrame() {
  Slot* oldest = nullptr;
  for (Slot& slot : m_slots) {
    if (slot.state != Slot::State::kComplete || !slot.keyFrame) continue;
    if (m_bHaveLast && !SequenceAfter(slot.sequence, m_nLast)) continue;
    if (oldest == nullptr || SequenceAfter(oldest->sequence, slot.sequence)) oldest = &slot;
  }
  return oldest;
}

AssembledFrame FrameAssembler::HandOut(Slot& slot) {
  AssembledFrame frame;
  frame.data = slot.buffer;
  frame.length = slot.frameLength;
  frame.sequence = slot.sequence;
  frame.timestamp = slot.timestamp;
  frame.keyFrame = slot.keyFrame;
  frame.skipped = m_bHaveLast ? static_cast<std::uint16_t>(slot.sequence - m_nLast - 1) : 0;
  m_nLast = slot.sequence;
  m_bHaveLast = true;
  m_bWaiting = false;
  // Frames older than this one can no longer be handed out in order.
  for (Slot& other : m_slots) {
    if (&other != &slot && other.state != Slot::State::kEmpty && !SequenceAfter(other.sequence, m_nLast))
      other.state = Slot::State::kEmpty;
  }
  m_pHandedOut = &slot;
  return frame;
}

void FrameAssembler::GiveUpStalledFrame() {
  const auto next = static_cast<std::uint16_t>(m_nLast + 1);
  const Slot& slot = SlotOf(next);
  const bool damaged = slot.sequence == next && slot.state == Slot::State::kDamaged;
  const bool overtaken = m_bHaveNewest && SequenceAfter(m_nNewest, next) &&
                         static_cast<std::uint16_t>(m_nNewest - next) >= kLossDistance;
  if (damaged || overtaken) m_bWaiting = true;
}

std::optional<AssembledFrame> FrameAssembler::Next() {
  if (m_pHandedOut != nullptr) {
    m_pHandedOut->state = Slot::State::kEmpty;
    m_pHandedOut = nullptr;
  }
  if (!m_bWaiting) {
    const auto next = static_cast<std::uint16_t>(m_nLast + 1);
    Slot& slot = SlotOf(next);
    if (slot.sequence == next && slot.state == Slot::State::kComplete) return HandOut(slot);
    GiveUpStalledFrame();
  }
  // A whole key frame needs nothing before it: it is taken at once, whatever is still missing.
  if (Slot* key = OldestCompleteKeyFrame()) return HandOut(*key);
  return std::nullopt;
}
