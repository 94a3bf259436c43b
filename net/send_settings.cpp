#include "net/send_settings.h"

long ClampBandwidth(long bandwidth) { return bandwidth <= kMinimumBandwidth ? kMinimumBandwidth : bandwidth; }

int KeyFrameIntervalFor(long bandwidth) {
  if (bandwidth <= 128000) return 50;
  if (bandwidth <= 384000) return 30;
  if (bandwidth <= 1000000) return 15;
  return 10;
}

unsigned TimestampStep(int frameRate) { return 8u * (1000u / static_cast<unsigned>(frameRate)); }
