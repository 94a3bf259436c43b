// The sending control's use of the encoder: the preset table, the creation parameters and the encode of
// one frame with the key-frame rule.
#pragma once

#include "codec/key_frame_rule.h"
#include "codec/xvid21.h"

namespace codec {

struct EncoderPreset {
  int nGeneral;
  int nMotion;
};

// Indexed by the control's quality index; only row 5 is in use.
inline constexpr EncoderPreset kEncoderPresets[7] = {
    {xvid21::XVID_H263QUANT, 0},
    {xvid21::XVID_MPEGQUANT, xvid21::PMV_EARLYSTOP16},
    {xvid21::XVID_H263QUANT, xvid21::PMV_EARLYSTOP16},
    {xvid21::XVID_H263QUANT | xvid21::XVID_HALFPEL, xvid21::PMV_EARLYSTOP16 | xvid21::PMV_HALFPELREFINE16},
    {xvid21::XVID_H263QUANT | xvid21::XVID_HALFPEL | xvid21::XVID_INTER4V,
     xvid21::PMV_EARLYSTOP16 | xvid21::PMV_HALFPELREFINE16},
    {xvid21::XVID_H263QUANT | xvid21::XVID_HALFPEL | xvid21::XVID_INTER4V,
     xvid21::PMV_EARLYSTOP16 | xvid21::PMV_HALFPELREFINE16 | xvid21::PMV_EARLYSTOP8 |
         xvid21::PMV_HALFPELREFINE8},
    {xvid21::XVID_H263QUANT | xvid21::XVID_HALFPEL | xvid21::XVID_INTER4V,
     xvid21::PMV_EARLYSTOP16 | xvid21::PMV_HALFPELREFINE16 | xvid21::PMV_EXTSEARCH16 |
         xvid21::PMV_USESQUARES16 | xvid21::PMV_EARLYSTOP8 | xvid21::PMV_HALFPELREFINE8},
};
inline constexpr int kDefaultQualityIndex = 5;

// The creation parameters of a sending control's encoder: capture size, 1/25 s frame base, the bandwidth
// as the target bit rate, the rate control's defaults, quantizers 1 to 31 and the key-frame interval. The
// handle is left as it is.
void FillEncoderParam(xvid21::XVID_ENC_PARAM* param, int videoInWidth, int videoInHeight, int bandwidth,
                      int keyFrameInterval);

struct FrameToEncode {
  void* pImage;           // m_nVideoInWidth x m_nVideoInHeight pixels
  bool bRgb16;            // RGB555 top row first instead of 24-bit bottom row first
  void* pBitstream;       // the packet buffer behind its header
  int nCapacity;          // bytes free at pBitstream
  int nQualityIndex;      // row of kEncoderPresets
  int nKeyFrameInterval;  // m_nKeyFrameInterval, read for this frame
  bool bForceKeyFrame = false;  // a receiver asked for a key frame
};

// Fills the frame block, asks the rule for the key-frame request (a forced key frame counts as one the
// rule made), encodes and tells the rule the result.
// On XVID_ERR_OK, frame->length is the encoded length and frame->intra is 1 for a key frame.
int EncodeFrame(void* handle, const FrameToEncode& in, xvid21::XVID_ENC_FRAME* frame,
                xvid21::XVID_ENC_STATS* stats, KeyFrameRule& rule = SharedKeyFrameRule());

}  // namespace codec
