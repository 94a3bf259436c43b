// Copying a captured frame out of the driver's buffer.
#pragma once

#include <cstddef>

#include "platform/kernel/windef.h"

// Copies `bytesUsed` bytes of a frame, never more than `capacity`; returns the bytes copied.
size_t CopyFrameBytes(BYTE* buffer, size_t capacity, const BYTE* data, size_t bytesUsed);

// The driver pads each row to a multiple of 4 bytes; the encoder and the flip take rows of
// exactly width x bytes per pixel. Moves rows of `stride` bytes down to `rowBytes` in place.
void CompactDibRows(BYTE* bits, size_t rowBytes, size_t stride, int height);
