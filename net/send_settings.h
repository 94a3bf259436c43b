// Sending settings: the bit rate floor and the key-frame interval that follows from it.
#pragma once

constexpr long kMinimumBandwidth = 60000;

// The bit rate the encoder gets: at least 60000 bits per second.
long ClampBandwidth(long bandwidth);
// Largest distance between key frames for a (clamped) bit rate: 50, 30, 15 or 10 frames.
int KeyFrameIntervalFor(long bandwidth);
// 8 units per millisecond of nominal frame time: 8 x floor(1000 / rate).
unsigned TimestampStep(int frameRate);
