#include "codec/frame_encoder.h"

namespace codec {

using namespace xvid21;

void FillEncoderParam(XVID_ENC_PARAM* param, int videoInWidth, int videoInHeight, int bandwidth,
                      int keyFrameInterval) {
  param->width = videoInWidth;
  param->height = videoInHeight;
  param->fincr = 1;
  param->fbase = 25;
  param->rc_bitrate = bandwidth;
  param->rc_reaction_delay_factor = -1;
  param->rc_averaging_period = -1;
  param->rc_buffer = -1;
  param->max_quantizer = 31;
  param->min_quantizer = 1;
  param->max_key_interval = keyFrameInterval;
}

int EncodeFrame(void* handle, const FrameToEncode& in, XVID_ENC_FRAME* frame, XVID_ENC_STATS* stats,
                KeyFrameRule& rule) {
  const int row = in.nQualityIndex >= 0 && in.nQualityIndex < 7 ? in.nQualityIndex : kDefaultQualityIndex;
  frame->general = kEncoderPresets[row].nGeneral;
  frame->motion = kEncoderPresets[row].nMotion;
  frame->bitstream = in.pBitstream;
  frame->bitstream_capacity = in.nCapacity;
  frame->length = 0;
  frame->image = in.pImage;
  frame->colorspace = in.bRgb16 ? XVID_CSP_RGB555 : XVID_CSP_RGB24;
  frame->quant_intra_matrix = nullptr;
  frame->quant_inter_matrix = nullptr;
  frame->quant = 0;
  frame->intra = rule.Request(in.nKeyFrameInterval);
  if (in.bForceKeyFrame) frame->intra = 1;
  const int result = xvid_encore(handle, XVID_ENC_ENCODE, frame, stats);
  rule.Record(result == XVID_ERR_OK, frame->intra);
  return result;
}

}  // namespace codec
