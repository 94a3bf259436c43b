// What InitCapture gives the capture driver, and the header counters it seeds, free of any window.
#pragma once

#include "net/video_packet.h"
#include "platform/kernel/windef.h"
#include "platform/vfw/vfw.h"

// The INI setting that selects the 16-bit capture format.
inline constexpr const char kIniFileName[] = "Oskavelle.ini";
inline constexpr const char kIniSection[] = "Oskavelle";
inline constexpr const char kIniKeyUseRGB16[] = "UseRGB16";

// Overwrites the streaming parameters the control sets (frame period 1000000 / rate us, yield to
// a streaming thread, ten video buffers, no audio, no abort keys, no limits) and keeps the rest.
void ApplyStreamingParameters(CAPTUREPARMS* parms, int frameRate);

// The 44-byte format block: a bottom-up BI_RGB header of 24 bits, or 16 when rgb16 is set,
// and zeros after it.
BITMAPINFO CaptureFormatBlock(int width, int height, BOOL rgb16);

// Bytes a frame of this format occupies in the driver's buffer: rows padded to 4 bytes.
size_t CaptureFrameBytes(int width, int height, BOOL rgb16);

// The header counters from the next five rand() values, in this order: the sequence number from
// one, the timestamp from two (high half first), the source identifier from two.
PacketFields DrawHeaderCounters();
