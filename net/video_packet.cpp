#include "net/video_packet.h"

#include <algorithm>
#include <cstring>

#include "net/compress_type.h"

namespace {

void PutBig16(std::uint8_t* p, std::uint16_t v) {
  p[0] = static_cast<std::uint8_t>(v >> 8);
  p[1] = static_cast<std::uint8_t>(v);
}

void PutBig32(std::uint8_t* p, std::uint32_t v) {
  p[0] = static_cast<std::uint8_t>(v >> 24);
  p[1] = static_cast<std::uint8_t>(v >> 16);
  p[2] = static_cast<std::uint8_t>(v >> 8);
  p[3] = static_cast<std::uint8_t>(v);
}

void PutLittle16(std::uint8_t* p, std::uint16_t v) {
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
}

void PutLittle32(std::uint8_t* p, std::uint32_t v) {
  PutLittle16(p, static_cast<std::uint16_t>(v));
  PutLittle16(p + 2, static_cast<std::uint16_t>(v >> 16));
}

std::uint16_t GetBig16(const std::uint8_t* p) { return static_cast<std::uint16_t>((p[0] << 8) | p[1]); }

std::uint32_t GetBig32(const std::uint8_t* p) {
  return (static_cast<std::uint32_t>(p[0]) << 24) | (static_cast<std::uint32_t>(p[1]) << 16) |
         (static_cast<std::uint32_t>(p[2]) << 8) | p[3];
}

bool HasName(const char* userName) { return userName && userName[0] != '\0'; }

// Zeroes the field, then copies at most 16 bytes of the name: a name of 16 bytes or more
// leaves without a terminating NUL.
void PutUserName(std::uint8_t* field, const char* userName) {
  std::memset(field, 0, kUserNameFieldSize);
  if (userName) std::memcpy(field, userName, strnlen(userName, kUserNameFieldSize));
}

// Bytes 0-7 of the shared header.
void PutHeaderStart(std::uint8_t* out, std::uint8_t payloadType, bool marker, std::uint16_t sequence,
                    std::uint32_t timestamp) {
  out[0] = kHeaderVersion2;
  out[1] = static_cast<std::uint8_t>((marker ? kHeaderMarker : 0) | (payloadType & kPayloadTypeMask));
  PutBig16(out + 2, sequence);
  PutBig32(out + 4, timestamp);
}

std::size_t PutOptionalName(std::uint8_t* out, const char* userName) {
  if (!HasName(userName)) return kVideoHeaderSize;
  out[0] = kHeaderVersion2 | kUserNameCsrcCount;
  PutUserName(out + kVideoHeaderSize, userName);
  return kVideoHeaderSizeWithName;
}

}  // namespace

std::size_t VideoHeaderLength(const char* userName) {
  return HasName(userName) ? kVideoHeaderSizeWithName : kVideoHeaderSize;
}

std::uint8_t KeepAlivePayloadType(const char* compressType) {
  if (IsCompressType(compressType, kCompressTypeH261)) return kPayloadTypeH261;
  if (IsCompressType(compressType, kCompressTypeH263)) return kPayloadTypeH263;
  return kPayloadTypeMpeg4;
}

std::size_t WriteFragmentHeader(std::uint8_t* out, bool keyFrame, std::uint16_t sequence,
                                std::uint32_t timestamp, std::uint32_t frameLength, const char* userName) {
  PutHeaderStart(out, kPayloadTypeMpeg4, keyFrame, sequence, timestamp);
  PutBig32(out + 8, frameLength);
  return PutOptionalName(out, userName);
}

std::size_t WriteKeepAlivePacket(std::uint8_t* out, const char* compressType, const PacketFields& fields,
                                 const char* userName) {
  PutHeaderStart(out, KeepAlivePayloadType(compressType), true, fields.sequence, fields.timestamp);
  PutLittle32(out + 8, fields.sourceId);
  return PutOptionalName(out, userName);
}

std::size_t WriteFakeVideoPacket(std::uint8_t* out, const PacketFields& fields) {
  PutHeaderStart(out, kPayloadTypeMpeg4, true, fields.sequence, fields.timestamp);
  PutLittle32(out + 8, fields.sourceId);
  return kFakeVideoPacketSize;
}

std::size_t WriteNameAnnouncement(std::uint8_t* out, const char* userName) {
  out[0] = kAnnouncementByte0;
  out[1] = kAnnouncementByte1;
  PutLittle16(out + 2, kAnnouncementNameListLength);
  PutUserName(out + 4, userName);
  return kNameAnnouncementSize;
}

std::size_t WriteKeyFrameRequest(std::uint8_t* out, std::uint32_t requesterSourceId) {
  out[0] = kKeyFrameRequestByte0;
  out[1] = kRtcpPayloadSpecificFeedback;
  PutBig16(out + 2, kKeyFrameRequestLengthWords);
  PutLittle32(out + 4, requesterSourceId);
  PutBig32(out + 8, 0);
  return kKeyFrameRequestSize;
}

bool IsKeyFrameRequest(const std::uint8_t* data, std::size_t length) {
  return length == kKeyFrameRequestSize && data[0] == kKeyFrameRequestByte0 &&
         data[1] == kRtcpPayloadSpecificFeedback && GetBig16(data + 2) == kKeyFrameRequestLengthWords;
}

std::size_t SendFrameFragments(const std::uint8_t* header, std::size_t headerLength,
                               const std::uint8_t* frame, std::size_t frameLength, const DatagramSink& send) {
  std::uint8_t datagram[kMaxFragmentDatagram];
  if (headerLength > kVideoHeaderSizeWithName) return 0;
  std::memcpy(datagram, header, headerLength);
  std::size_t sent = 0;
  for (std::size_t offset = 0; offset < frameLength; offset += kMaxFragmentPayload) {
    const std::size_t piece = std::min(kMaxFragmentPayload, frameLength - offset);
    std::memcpy(datagram + headerLength, frame + offset, piece);
    if (!send(datagram, headerLength + piece)) break;
    ++sent;
  }
  return sent;
}

std::optional<ParsedDatagram> ParseDatagram(const std::uint8_t* data, std::size_t length) {
  if (length < kVideoHeaderSize) return std::nullopt;
  ParsedDatagram d;
  d.csrcCount = data[0] & kHeaderCsrcMask;
  d.payloadOffset = kVideoHeaderSize + 4u * d.csrcCount;
  if (length < d.payloadOffset) return std::nullopt;
  d.version = static_cast<std::uint8_t>((data[0] & kHeaderVersionMask) >> 6);
  d.padding = (data[0] & kHeaderPadding) != 0;
  d.extension = (data[0] & kHeaderExtension) != 0;
  d.marker = (data[1] & kHeaderMarker) != 0;
  d.payloadType = data[1] & kPayloadTypeMask;
  d.sequence = GetBig16(data + 2);
  d.timestamp = GetBig32(data + 4);
  d.frameLength = GetBig32(data + 8);
  d.payloadLength = length - d.payloadOffset;
  return d;
}
