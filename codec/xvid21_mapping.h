// How the 2.1 interface's values become API 4's: pure functions, so that every mapping can be checked
// without running the library.
#pragma once

#include <cstddef>

#include "codec/api4.h"
#include "codec/xvid21.h"

namespace codec {

// API 4 result (negative) to the 2.1 result.
int ErrorFromApi4(int api4Result);

// The 2.1 interface's limits on an encoder's picture: even, positive, at most 1920 x 1280.
int CheckEncoderSize(int width, int height);

// Room for the largest frame API 4 can write for a picture of this size: every coefficient of every
// block coded with the longest escape code, plus the headers.
std::size_t EncodedFrameBound(int width, int height);

// Creation parameters in API 4's blocks. The plugin pointers are left for the caller to set, because
// they point into wherever these blocks end up.
struct EncoderSetup {
  xvid_enc_create_t create;
  xvid_plugin_single_t rateControl;
  bool bRateControl;  // install the single-pass rate control plugin with `rateControl`
};
EncoderSetup MapEncoderParam(const xvid21::XVID_ENC_PARAM& param);

int MapVolFlags(int general);
int MapVopFlags(int general);
int MapMotionFlags(int motion);
int MapFrameType(int intra);

// Encoder input: API 4 colour space and stride in bytes for a picture `width` pixels wide. False for a
// colour space the 2.1 interface does not take as input.
bool MapInputColorspace(int colorspace, int width, int* api4Csp, int* strideBytes);

// Decoder output: only 24-bit RGB, with or without the flip.
bool MapOutputColorspace(int colorspace, int* api4Csp);

}  // namespace codec
