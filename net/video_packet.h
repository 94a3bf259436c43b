// The datagrams the control sends, and how it reads them.
//
// Video fragments, keep-alive packets and fake video packets share one header, laid out as
// the fixed header of RTP; the user name, when there is one, sits where RTP keeps its CSRC
// list (CC = 4, sixteen bytes). Multi-byte fields are big-endian except where marked.
//
//    0                   1                   2                   3
//    0 1 2 3 4 5 6 7 8 9 0 1 2 3 4 5 6 7 8 9 0 1 2 3 4 5 6 7 8 9 0 1
//   +-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+
//   |V=2|P|X|  CC   |M|     PT      |        sequence number        |  0
//   +-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+
//   |                           timestamp                           |  4
//   +-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+
//   |  video fragment: frame length (big-endian)                    |  8
//   |  keep-alive, fake video: source identifier (LITTLE-endian)    |
//   +=+=+=+=+=+=+=+=+=+=+=+=+=+=+=+=+=+=+=+=+=+=+=+=+=+=+=+=+=+=+=+=+
//   |  user name: 16 bytes, zero-filled, no NUL at 16 bytes (CC=4)  | 12..27
//   +=+=+=+=+=+=+=+=+=+=+=+=+=+=+=+=+=+=+=+=+=+=+=+=+=+=+=+=+=+=+=+=+
//   |  payload: 1..800 bytes of the encoded frame (fragments only)  | 12 or 28
//   +-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+
//
//   V=2, P=0, X=0; CC = 0 (byte 0 = 0x80) or 4 (0x84). PT = 33 for MPEG-4 video; keep-alive
//   packets say 31 for "H.261" and 34 for "H.263". Marker: key frame (fragments), always set
//   (keep-alive, fake video).
//
// The name announcement has a layout of its own, 20 bytes:
//
//   +------+------+-------------+------------------------------------+
//   | 0x80 | 0x01 | 0x10  0x00  |  user name, 16 bytes, zero-filled  |
//   +------+------+-------------+------------------------------------+
//      0      1    2..3: 16 in LITTLE-endian order     4..19
//
// A frame of L bytes leaves as ceil(L / 800) fragments with identical headers, in order. The wire
// carries no fragment number: how a receiver proves their order is in net/frame_assembler.h.
//
// The key-frame request is an RTCP picture loss indication (RFC 4585, 6.3.1), 12 bytes, that a
// receiver waiting for a key frame sends to the source of the stream it waits for:
//
//    0                   1                   2                   3
//    0 1 2 3 4 5 6 7 8 9 0 1 2 3 4 5 6 7 8 9 0 1 2 3 4 5 6 7 8 9 0 1
//   +-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+
//   |V=2|P| FMT=1   |    PT=206     |          length=2             |  0
//   +-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+
//   |  SSRC of the requester: its source identifier, keep-alive order |  4
//   +-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+
//   |  SSRC of the media source: 0 (video fragments carry none)     |  8
//   +-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+
//
// Read as one of our own datagrams, its first byte says four CSRC bytes follow the 12-byte header
// (FMT sits where the CSRC count is), so a receiver that knows only the video format finds it
// shorter than its header and drops it from its recording and display paths.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>

constexpr std::size_t kVideoHeaderSize = 12;
constexpr std::size_t kUserNameFieldSize = 16;
constexpr std::size_t kVideoHeaderSizeWithName = kVideoHeaderSize + kUserNameFieldSize;  // 28
constexpr std::size_t kMaxFragmentPayload = 800;
constexpr std::size_t kMaxFragmentDatagram = kVideoHeaderSizeWithName + kMaxFragmentPayload;  // 828
constexpr std::size_t kFakeVideoPacketSize = kVideoHeaderSize;
constexpr std::size_t kNameAnnouncementSize = 20;

constexpr std::uint8_t kHeaderVersion2 = 0x80;  // V=2, P=0, X=0, CC=0
constexpr std::uint8_t kHeaderVersionMask = 0xC0;
constexpr std::uint8_t kHeaderPadding = 0x20;
constexpr std::uint8_t kHeaderExtension = 0x10;
constexpr std::uint8_t kHeaderCsrcMask = 0x0F;
constexpr std::uint8_t kUserNameCsrcCount = 4;  // the 16-byte name counts as four CSRC words
constexpr std::uint8_t kHeaderMarker = 0x80;
constexpr std::uint8_t kPayloadTypeMask = 0x7F;

constexpr std::uint8_t kPayloadTypeH261 = 31;
constexpr std::uint8_t kPayloadTypeMpeg4 = 33;
constexpr std::uint8_t kPayloadTypeH263 = 34;

constexpr std::size_t kKeyFrameRequestSize = 12;
constexpr std::uint8_t kKeyFrameRequestByte0 = 0x81;  // V=2, P=0, FMT=1 (picture loss indication)
constexpr std::uint8_t kRtcpPayloadSpecificFeedback = 206;
constexpr std::uint16_t kKeyFrameRequestLengthWords = 2;  // 32-bit words after the first, RTCP style

constexpr std::uint8_t kAnnouncementByte0 = 0x80;
constexpr std::uint8_t kAnnouncementByte1 = 0x01;
constexpr std::uint16_t kAnnouncementNameListLength = kUserNameFieldSize;

// Header values that every datagram of a control carries (its header counters).
struct PacketFields {
  std::uint16_t sequence = 0;
  std::uint32_t timestamp = 0;
  std::uint32_t sourceId = 0;
};

// Header length for a user name: 28 when the name is not empty, else 12. A null name is empty.
std::size_t VideoHeaderLength(const char* userName);

// The payload type keep-alive packets carry for a compress type (exact text comparison).
std::uint8_t KeepAlivePayloadType(const char* compressType);

// Builders write at `out` and return the length written. `out` must hold
// kVideoHeaderSizeWithName bytes (kNameAnnouncementSize for the announcement).
std::size_t WriteFragmentHeader(std::uint8_t* out, bool keyFrame, std::uint16_t sequence,
                                std::uint32_t timestamp, std::uint32_t frameLength, const char* userName);
std::size_t WriteKeepAlivePacket(std::uint8_t* out, const char* compressType, const PacketFields& fields,
                                 const char* userName);
std::size_t WriteFakeVideoPacket(std::uint8_t* out, const PacketFields& fields);
std::size_t WriteNameAnnouncement(std::uint8_t* out, const char* userName);
// The key-frame request (kKeyFrameRequestSize bytes). The requester's identifier goes out in the
// byte order of its keep-alive packets, so that a dissector shows one SSRC for both.
std::size_t WriteKeyFrameRequest(std::uint8_t* out, std::uint32_t requesterSourceId);
// True for exactly a key-frame request: 12 bytes with its fixed first four.
bool IsKeyFrameRequest(const std::uint8_t* data, std::size_t length);

// Sends a frame as fragments: each datagram is the header followed by the next
// min(800, remaining) bytes of the frame. `send` gets one whole datagram at a time and returns
// false when it did not go out whole; the rest of the frame is then not sent. Returns the
// number of fragments sent. A frame of 0 bytes sends nothing.
using DatagramSink = std::function<bool(const std::uint8_t* datagram, std::size_t length)>;
std::size_t SendFrameFragments(const std::uint8_t* header, std::size_t headerLength,
                               const std::uint8_t* frame, std::size_t frameLength, const DatagramSink& send);

// What a receiver reads from a datagram's header.
struct ParsedDatagram {
  std::uint8_t version = 0;  // top two bits of byte 0
  bool padding = false;
  bool extension = false;
  std::uint8_t csrcCount = 0;
  bool marker = false;  // the key-frame bit
  std::uint8_t payloadType = 0;
  std::uint16_t sequence = 0;
  std::uint32_t timestamp = 0;
  std::uint32_t frameLength = 0;  // bytes 8-11, big-endian
  std::size_t payloadOffset = 0;  // 12 + 4 x CC; the CSRC words (user name) are skipped
  std::size_t payloadLength = 0;
};

// Nothing when the datagram is shorter than 12 + 4 x CC bytes: it has no payload and both
// receive paths drop it.
std::optional<ParsedDatagram> ParseDatagram(const std::uint8_t* data, std::size_t length);
