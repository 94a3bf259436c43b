// Reassembly of received frames: how the payloads of one frame are put back together, once for
// the display and once per recording client.
//
// The wire carries no fragment number: datagrams with one sequence number are appended in
// arrival order until their bytes add up to the frame length of the header. A frame whose
// fragments do not all arrive is thrown away when another sequence number comes.
#pragma once

#include <cstddef>
#include <cstdint>

#include "net/video_packet.h"

// Every datagram, packet and assembly buffer holds this many bytes.
constexpr std::size_t kAssemblyBufferSize = 100000;
constexpr std::size_t kDatagramBufferSize = 100000;
// A display assembly this full (100,000 - 2,048) is thrown away before anything is appended.
constexpr int kDisplayAssemblyLimit = 97952;
// The picture buffer: the last decoded picture, 704 x 576 at 3 bytes per pixel.
constexpr std::size_t kPictureBufferSize = 704 * 576 * 3;

// The compress types "H.261" and "H.263" (exact, case-sensitive) make every datagram a whole
// frame; any other text reads the stream as MPEG-4.
bool IsWholeDatagramCompressType(const char* compressType);

// One frame being put together. The buffer (kAssemblyBufferSize bytes) is owned elsewhere; it
// is zeroed whenever a new frame begins.
struct FrameAssembly {
  std::uint8_t* pBuffer = nullptr;
  int nLength = 0;
  // 16-bit values held in full integers, so that 65535 + 1 is not 0.
  int nCurrentSequence = 0;
  int nLastSequence = 0;  // 0: waiting for a key frame
};

// What the display path makes of one datagram from the shown client.
enum class DisplayStep {
  kDropped,          // nothing appended (the assembly may have been emptied)
  kIncomplete,       // appended; the frame needs more bytes
  kWaitForKeyFrame,  // completed after a gap without being a key frame: not shown
  kDecode,           // MPEG-4 frame complete: decode the assembly, then draw
  kDraw,             // H.261/H.263: draw the picture buffer as it is, without decoding
};

// One datagram through the display path. `header` is ParseDatagram's answer for `data`;
// a datagram it refuses (shorter than its header) is dropped by both paths.
DisplayStep DisplayDatagram(FrameAssembly& assembly, const ParsedDatagram& header, const std::uint8_t* data,
                            std::size_t length, bool bWholeDatagramFrames);

// After kDecode, when the decoder reported failure: nothing is drawn, and the display waits for
// the next key frame.
inline void DisplayDecodeFailed(FrameAssembly& assembly) { assembly.nLastSequence = 0; }

// What the recording path makes of one datagram for one recording client.
enum class RecordStep {
  kWaiting,     // no key frame yet: nothing appended, go on with the next client
  kOverflow,    // the payload did not fit: assembly emptied, go on with the next client
  kIncomplete,  // appended, frame not complete: go on with the next client
  kComplete,    // frame complete (nLength bytes): the caller decodes and writes it, then sets
                // nLength to 0 and ends the path
};

// Steps 3 to 6 of the recording path for one client's assembly. It looks at no version,
// padding, extension or payload type, and knows no sequence gap.
RecordStep RecordDatagram(FrameAssembly& assembly, const ParsedDatagram& header, const std::uint8_t* data,
                          bool bWholeDatagramFrames);
