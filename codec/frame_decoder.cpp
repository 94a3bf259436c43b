#include "codec/frame_decoder.h"

namespace codec {

using namespace xvid21;

int CreateDecoder(XVID_DEC_PARAM* param, int videoOutWidth, int videoOutHeight) {
  param->width = videoOutWidth;
  param->height = videoOutHeight;
  if (param->handle != nullptr) return XVID_ERR_OK;
  return xvid_decore(nullptr, XVID_DEC_CREATE, param, nullptr);
}

int DecodeFrame(const XVID_DEC_PARAM& param, XVID_DEC_FRAME* frame, const void* data, int length,
                void* picture, int pictureBytes, int videoOutWidth) {
  if (param.handle == nullptr) return XVID_ERR_FAIL;
  frame->general = 0;
  frame->bitstream = const_cast<void*>(data);
  frame->length = length;
  frame->image = picture;
  frame->image_capacity = pictureBytes;
  frame->stride = videoOutWidth;
  frame->colorspace = static_cast<int>(XVID_CSP_RGB24 | XVID_CSP_VFLIP);
  return xvid_decore(param.handle, XVID_DEC_DECODE, frame, nullptr);
}

void DestroyDecoder(XVID_DEC_PARAM* param) {
  if (param->handle == nullptr) return;
  xvid_decore(param->handle, XVID_DEC_DESTROY, nullptr, nullptr);
  param->handle = nullptr;
}

}  // namespace codec
