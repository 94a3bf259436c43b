#include "codec/xvid21_mapping.h"

#include <cstdint>
#include <cstring>

namespace codec {

using namespace xvid21;

namespace {

constexpr int kRateReactionDefault = 16;
constexpr int kRateAveragingDefault = 100;
constexpr int kRateBufferDefault = 100;

int OrDefault(int value, int fallback) { return value > 0 ? value : fallback; }

bool Flipped(int colorspace) { return (static_cast<std::uint32_t>(colorspace) & XVID_CSP_VFLIP) != 0; }

int BaseColorspace(int colorspace) {
  return static_cast<int>(static_cast<std::uint32_t>(colorspace) & ~XVID_CSP_VFLIP);
}

}  // namespace

int ErrorFromApi4(int api4Result) {
  if (api4Result >= 0) return XVID_ERR_OK;
  if (api4Result == api4::kErrMemory) return XVID_ERR_MEMORY;
  if (api4Result == api4::kErrFormat) return XVID_ERR_FORMAT;
  return XVID_ERR_FAIL;
}

int CheckEncoderSize(int width, int height) {
  if (width <= 0 || height <= 0 || (width & 1) || (height & 1)) return XVID_ERR_FORMAT;
  if (width > 1920 || height > 1280) return XVID_ERR_FORMAT;
  return XVID_ERR_OK;
}

std::size_t EncodedFrameBound(int width, int height) {
  // An escape-coded coefficient takes 30 bits, so a block of 64 takes 240 bytes and a macroblock of six
  // blocks 1,440; 2,048 leaves room for the macroblock header and four motion vectors.
  const std::size_t macroblocks =
      static_cast<std::size_t>((width + 15) / 16) * static_cast<std::size_t>((height + 15) / 16);
  return macroblocks * 2048 + 4096;
}

EncoderSetup MapEncoderParam(const XVID_ENC_PARAM& param) {
  EncoderSetup setup;
  std::memset(&setup, 0, sizeof setup);
  xvid_enc_create_t& create = setup.create;
  create.version = XVID_VERSION;
  create.width = param.width;
  create.height = param.height;
  if (param.fincr > 0 && param.fbase > 0) {
    create.fincr = param.fincr;
    create.fbase = param.fbase;
  } else {
    create.fincr = 1;
    create.fbase = 25;
  }
  create.max_key_interval = param.max_key_interval > 0 ? param.max_key_interval : 0;
  const int minQuant = param.min_quantizer >= 1 && param.min_quantizer <= 31 ? param.min_quantizer : 1;
  int maxQuant = param.max_quantizer >= 1 && param.max_quantizer <= 31 ? param.max_quantizer : 31;
  if (maxQuant < minQuant) maxQuant = minQuant;
  for (int i = 0; i < 3; ++i) {
    create.min_quant[i] = minQuant;
    create.max_quant[i] = maxQuant;
  }
  // No B-frames: every frame comes out of the encode call that took it in, as the sender expects.
  create.max_bframes = 0;
  create.num_threads = 0;

  setup.bRateControl = param.rc_bitrate > 0;
  xvid_plugin_single_t& rc = setup.rateControl;
  rc.version = XVID_VERSION;
  rc.bitrate = param.rc_bitrate > 0 ? param.rc_bitrate : 0;
  rc.reaction_delay_factor = OrDefault(param.rc_reaction_delay_factor, kRateReactionDefault);
  rc.averaging_period = OrDefault(param.rc_averaging_period, kRateAveragingDefault);
  rc.buffer = OrDefault(param.rc_buffer, kRateBufferDefault);
  return setup;
}

int MapVolFlags(int general) { return (general & XVID_MPEGQUANT) ? XVID_VOL_MPEGQUANT : 0; }

int MapVopFlags(int general) {
  int flags = 0;
  if (general & XVID_HALFPEL) flags |= XVID_VOP_HALFPEL;
  if (general & XVID_INTER4V) flags |= XVID_VOP_INTER4V;
  return flags;
}

int MapMotionFlags(int motion) {
  // Early stopping is built into API 4's search: PMV_EARLYSTOP16/8 have nothing to map to.
  int flags = 0;
  if (motion & PMV_HALFPELREFINE16) flags |= XVID_ME_HALFPELREFINE16;
  if (motion & PMV_HALFPELREFINE8) flags |= XVID_ME_HALFPELREFINE8;
  if (motion & PMV_EXTSEARCH16) flags |= XVID_ME_EXTSEARCH16;
  if (motion & PMV_USESQUARES16) flags |= XVID_ME_USESQUARES16;
  return flags;
}

int MapFrameType(int intra) {
  if (intra == 1) return XVID_TYPE_IVOP;
  if (intra == 0) return XVID_TYPE_PVOP;
  return XVID_TYPE_AUTO;
}

bool MapInputColorspace(int colorspace, int width, int* api4Csp, int* strideBytes) {
  const bool flip = Flipped(colorspace);
  switch (BaseColorspace(colorspace)) {
    case XVID_CSP_RGB24:
      // 24-bit input is read bottom row first; the flip flag turns that round.
      *api4Csp = XVID_CSP_BGR | (flip ? 0 : api4::kCspVflip);
      *strideBytes = width * 3;
      return true;
    case XVID_CSP_RGB555:
      *api4Csp = api4::kCspRgb555 | (flip ? api4::kCspVflip : 0);
      *strideBytes = width * 2;
      return true;
    default:
      return false;
  }
}

bool MapOutputColorspace(int colorspace, int* api4Csp) {
  if (BaseColorspace(colorspace) != XVID_CSP_RGB24) return false;
  *api4Csp = XVID_CSP_BGR | (Flipped(colorspace) ? api4::kCspVflip : 0);
  return true;
}

}  // namespace codec
