#include "net/reassembly.h"

#include <cstring>

namespace {

// Starts a new frame when the sequence number changes; the old partial frame is lost.
void BeginFrameIfNew(FrameAssembly& assembly, std::uint16_t sequence) {
  if (sequence == assembly.nCurrentSequence) return;
  assembly.nLength = 0;
  std::memset(assembly.pBuffer, 0, kAssemblyBufferSize);
  assembly.nCurrentSequence = sequence;
}

// Appends the payload when it fits in the rest of the buffer; otherwise the partial frame is
// thrown away. False when it did not fit.
bool Append(FrameAssembly& assembly, const ParsedDatagram& header, const std::uint8_t* data) {
  if (header.payloadLength > kAssemblyBufferSize - static_cast<std::size_t>(assembly.nLength)) {
    assembly.nLength = 0;
    return false;
  }
  if (header.payloadLength > 0) {
    std::memcpy(assembly.pBuffer + assembly.nLength, data + header.payloadOffset, header.payloadLength);
  }
  assembly.nLength += static_cast<int>(header.payloadLength);
  return true;
}

bool HoldsWholeFrame(const FrameAssembly& assembly, const ParsedDatagram& header) {
  return header.frameLength == static_cast<std::uint32_t>(assembly.nLength);
}

}  // namespace

bool IsWholeDatagramCompressType(const char* compressType) {
  return compressType != nullptr &&
         (std::strcmp(compressType, "H.261") == 0 || std::strcmp(compressType, "H.263") == 0);
}

DisplayStep DisplayDatagram(FrameAssembly& assembly, const ParsedDatagram& header, const std::uint8_t* data,
                            std::size_t length, bool bWholeDatagramFrames) {
  if (length > kDatagramBufferSize) return DisplayStep::kDropped;
  if (header.version != 2 || header.padding || header.extension) return DisplayStep::kDropped;
  if (header.payloadType != kPayloadTypeH263 && header.payloadType != kPayloadTypeH261 &&
      header.payloadType != kPayloadTypeMpeg4) {
    return DisplayStep::kDropped;
  }
  // A keep-alive without a user name; one with the name goes on with an empty payload.
  if (length == kVideoHeaderSize) return DisplayStep::kDropped;
  if (assembly.nLength >= kDisplayAssemblyLimit) {
    assembly.nLength = 0;
    return DisplayStep::kDropped;
  }
  if (assembly.nLastSequence == 0 && !header.marker) return DisplayStep::kDropped;

  // In full integer width: 0 after 65535 is a gap.
  const bool bGap = assembly.nLastSequence + 1 != header.sequence;
  BeginFrameIfNew(assembly, header.sequence);
  if (!Append(assembly, header, data)) return DisplayStep::kDropped;
  if (!bWholeDatagramFrames && !HoldsWholeFrame(assembly, header)) return DisplayStep::kIncomplete;

  assembly.nLastSequence = header.sequence;
  if (bWholeDatagramFrames) return DisplayStep::kDraw;
  if (bGap && !header.marker) {
    assembly.nLastSequence = 0;
    return DisplayStep::kWaitForKeyFrame;
  }
  return DisplayStep::kDecode;
}

RecordStep RecordDatagram(FrameAssembly& assembly, const ParsedDatagram& header, const std::uint8_t* data,
                          bool bWholeDatagramFrames) {
  BeginFrameIfNew(assembly, header.sequence);
  if (assembly.nLastSequence == 0 && !header.marker) return RecordStep::kWaiting;
  if (!Append(assembly, header, data)) return RecordStep::kOverflow;
  assembly.nLastSequence = header.sequence;
  if (!bWholeDatagramFrames && !HoldsWholeFrame(assembly, header)) return RecordStep::kIncomplete;
  return RecordStep::kComplete;
}
