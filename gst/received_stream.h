// What quelvorasrc does with each datagram it reads: it follows one sender, puts that sender's frames
// together with the control's reassembly (net/frame_assembler.h) and, while it waits for a key frame,
// asks the sender for one (net/key_frame_requests.h), as a receiving control's display does.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "gst/wire_socket.h"
#include "net/frame_assembler.h"
#include "net/key_frame_requests.h"

// A sender followed without being chosen gives way to the next one that speaks after this long
// quiet, as the display of a control does for senders outside its client table.
constexpr std::uint32_t kSenderQuietMs = 1000;

class ReceivedStream {
 public:
  // `requesterId` goes out in the key-frame requests, where a control puts its source identifier.
  explicit ReceivedStream(std::uint32_t requesterId);

  // The sender to follow, or none for the first that speaks; takes effect at the next datagram.
  void ChooseSender(std::optional<WireAddress> sender);
  // Forgets the sender followed and everything put together: the next frame is a key frame.
  void Restart();

  // One datagram read from `from` at `nowMs` (a wrapping millisecond clock). Every frame it completes
  // goes to `onFrame`, in sequence order; every key-frame request due goes to `onRequest`, as the
  // sender's address and the datagram to send.
  template <typename OnFrame, typename OnRequest>
  void Take(const std::uint8_t* data, std::size_t length, const WireAddress& from, std::uint32_t nowMs,
            OnFrame&& onFrame, OnRequest&& onRequest);

  // The sender's user name as its last datagram carried it (16 bytes at most, as sent).
  std::string UserName() const;
  // Whether the name changed since the last call.
  bool TakeUserNameChange() { return m_bUserNameChanged.exchange(false); }

  std::uint64_t Datagrams() const { return m_nDatagrams.load(); }
  std::uint64_t Frames() const { return m_nFrames.load(); }
  // Frames of the sender never handed out: lost, damaged, or passed over while waiting.
  std::uint64_t Losses() const { return m_nLosses.load(); }
  std::uint64_t Requests() const { return m_nRequests.load(); }

 private:
  // The header of a datagram of the sender followed, or nothing when it is not one.
  std::optional<ParsedDatagram> Accept(const std::uint8_t* data, std::size_t length, const WireAddress& from,
                                       std::uint32_t nowMs);
  void NoteUserName(const std::uint8_t* data, const ParsedDatagram& header);

  std::unique_ptr<std::uint8_t[]> m_storage;
  FrameAssembler m_assembler;
  KeyFrameRequester m_requester;
  std::uint8_t m_request[kKeyFrameRequestSize] = {};

  mutable std::mutex m_lock;  // the choice and the name, which property calls read and set
  std::optional<WireAddress> m_chosen;
  bool m_bRestart = false;
  std::string m_userName;
  std::atomic<bool> m_bUserNameChanged{false};

  std::optional<WireAddress> m_following;
  std::uint32_t m_lastHeardMs = 0;

  std::atomic<std::uint64_t> m_nDatagrams{0};
  std::atomic<std::uint64_t> m_nFrames{0};
  std::atomic<std::uint64_t> m_nLosses{0};
  std::atomic<std::uint64_t> m_nRequests{0};
};

template <typename OnFrame, typename OnRequest>
void ReceivedStream::Take(const std::uint8_t* data, std::size_t length, const WireAddress& from,
                          std::uint32_t nowMs, OnFrame&& onFrame, OnRequest&& onRequest) {
  const auto header = Accept(data, length, from, nowMs);
  if (!header) return;
  ++m_nDatagrams;
  NoteUserName(data, *header);

  m_assembler.Add(*header, data + header->payloadOffset);
  while (const auto frame = m_assembler.Next()) {
    ++m_nFrames;
    m_nLosses += frame->skipped;
    onFrame(*frame);
  }
  // Keep-alives neither start nor end a wait.
  if (header->payloadLength == 0) return;
  if (m_assembler.Waiting()) {
    m_requester.Waiting(from.address, from.port, KeyFrameRequester::kDisplayPath,
                        m_assembler.KeyFrameArriving(), nowMs);
  } else {
    m_requester.Satisfied(from.address, from.port, KeyFrameRequester::kDisplayPath);
  }
  m_requester.SendDue(nowMs, [&](ULONG address, USHORT port) {
    ++m_nRequests;
    onRequest(WireAddress{address, port}, m_request, sizeof m_request);
  });
}
