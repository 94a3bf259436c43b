#include "gst/received_stream.h"

#include <cstring>

#include "net/video_packet.h"

ReceivedStream::ReceivedStream(std::uint32_t requesterId)
    : m_storage(new std::uint8_t[kFramesInFlight * kFrameSlotBytes]), m_assembler(m_storage.get()) {
  WriteKeyFrameRequest(m_request, requesterId);
}

void ReceivedStream::ChooseSender(std::optional<WireAddress> sender) {
  std::lock_guard lock(m_lock);
  m_chosen = sender;
  m_bRestart = true;
}

void ReceivedStream::Restart() {
  std::lock_guard lock(m_lock);
  m_bRestart = true;
}

std::string ReceivedStream::UserName() const {
  std::lock_guard lock(m_lock);
  return m_userName;
}

std::optional<ParsedDatagram> ReceivedStream::Accept(const std::uint8_t* data, std::size_t length,
                                                     const WireAddress& from, std::uint32_t nowMs) {
  std::optional<WireAddress> chosen;
  {
    std::lock_guard lock(m_lock);
    chosen = m_chosen;
    if (m_bRestart) {
      m_bRestart = false;
      m_following.reset();
    }
  }
  // A key-frame request from another receiver of a group is not video.
  if (IsKeyFrameRequest(data, length)) return std::nullopt;
  const auto header = ParseDatagram(data, length);
  if (!header || header->version != 2 || header->padding || header->extension ||
      header->payloadType != kPayloadTypeMpeg4)
    return std::nullopt;

  if (chosen && !(*chosen == from)) return std::nullopt;
  if (m_following && !(*m_following == from)) {
    if (chosen || !TimeReached(nowMs, m_lastHeardMs + kSenderQuietMs)) return std::nullopt;
    m_following.reset();
  }
  if (!m_following) {
    // A new sender starts from its next key frame, and is asked for one at once.
    m_following = from;
    m_assembler.Reset();
    m_requester.Clear();
  }
  m_lastHeardMs = nowMs;
  return header;
}

void ReceivedStream::NoteUserName(const std::uint8_t* data, const ParsedDatagram& header) {
  std::string name;
  if (header.csrcCount == kUserNameCsrcCount) {
    const char* field = reinterpret_cast<const char*>(data + kVideoHeaderSize);
    name.assign(field, strnlen(field, kUserNameFieldSize));
  }
  std::lock_guard lock(m_lock);
  if (name == m_userName) return;
  m_userName = std::move(name);
  m_bUserNameChanged = true;
}
