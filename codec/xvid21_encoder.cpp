// xvid_encore over API 4. The library writes a frame without knowing how much room its caller has, so
// it writes into a buffer of the encoder's own, sized for the worst case, and the frame is copied out only
// when it fits the caller's room.
#include <cstring>
#include <new>
#include <vector>

#include "codec/api4.h"
#include "codec/xvid21.h"
#include "codec/xvid21_mapping.h"

namespace xvid21 {

namespace {

constexpr int kDefaultBitstreamCapacity = 100000 - 28;

struct Encoder {
  void* api4 = nullptr;
  int nWidth = 0;
  int nHeight = 0;
  std::vector<unsigned char> output;
  // The last frame did not fit its caller's room, after the library had made it its reference.
  bool bDropped = false;
};

int Create(XVID_ENC_PARAM* param) {
  if (param == nullptr || !codec::api4::EnsureInitialised()) return XVID_ERR_FAIL;
  const int sizeCheck = codec::CheckEncoderSize(param->width, param->height);
  if (sizeCheck != XVID_ERR_OK) return sizeCheck;

  codec::EncoderSetup setup = codec::MapEncoderParam(*param);
  xvid_enc_plugin_t plugin{xvid_plugin_single, &setup.rateControl};
  if (setup.bRateControl) {
    setup.create.plugins = &plugin;
    setup.create.num_plugins = 1;
  }

  Encoder* encoder = new (std::nothrow) Encoder;
  if (encoder == nullptr) return XVID_ERR_MEMORY;
  try {
    encoder->output.resize(codec::EncodedFrameBound(param->width, param->height));
  } catch (const std::bad_alloc&) {
    delete encoder;
    return XVID_ERR_MEMORY;
  }
  const int result = ::xvid_encore(nullptr, codec::api4::kEncCreate, &setup.create, nullptr);
  if (result < 0) {
    delete encoder;
    return codec::ErrorFromApi4(result);
  }
  encoder->api4 = setup.create.handle;
  encoder->nWidth = param->width;
  encoder->nHeight = param->height;
  param->handle = encoder;
  return XVID_ERR_OK;
}

int Encode(Encoder* encoder, XVID_ENC_FRAME* frame, XVID_ENC_STATS* stats) {
  if (encoder == nullptr || frame == nullptr) return XVID_ERR_FAIL;
  frame->length = 0;
  if (frame->image == nullptr || frame->bitstream == nullptr) return XVID_ERR_FAIL;
  int csp = 0;
  int stride = 0;
  if (!codec::MapInputColorspace(frame->colorspace, encoder->nWidth, &csp, &stride)) return XVID_ERR_FORMAT;

  xvid_enc_frame_t in;
  std::memset(&in, 0, sizeof in);
  in.version = XVID_VERSION;
  in.vol_flags = codec::MapVolFlags(frame->general);
  in.vop_flags = codec::MapVopFlags(frame->general);
  in.motion = codec::MapMotionFlags(frame->motion);
  if (in.vol_flags & XVID_VOL_MPEGQUANT) {
    in.quant_intra_matrix = frame->quant_intra_matrix;
    in.quant_inter_matrix = frame->quant_inter_matrix;
  }
  in.input.csp = csp;
  in.input.plane[0] = frame->image;
  in.input.stride[0] = stride;
  // Nobody has the dropped frame, so a frame predicted from it would not decode as it was coded.
  in.type = encoder->bDropped ? codec::MapFrameType(1) : codec::MapFrameType(frame->intra);
  in.quant = frame->quant > 0 ? frame->quant : 0;
  in.bitstream = encoder->output.data();
  in.length = static_cast<int>(encoder->output.size());

  xvid_enc_stats_t out;
  std::memset(&out, 0, sizeof out);
  out.version = XVID_VERSION;
  const int length = ::xvid_encore(encoder->api4, codec::api4::kEncEncode, &in, &out);
  if (length < 0) return codec::ErrorFromApi4(length);

  const int capacity = frame->bitstream_capacity > 0 ? frame->bitstream_capacity : kDefaultBitstreamCapacity;
  encoder->bDropped = length > capacity;
  if (encoder->bDropped) return XVID_ERR_MEMORY;
  std::memcpy(frame->bitstream, encoder->output.data(), static_cast<std::size_t>(length));
  frame->length = length;
  frame->intra = (in.out_flags & XVID_KEYFRAME) ? 1 : 0;
  if (stats != nullptr) {
    stats->quant = out.quant;
    stats->hlength = out.hlength;
    stats->kblks = out.kblks;
    stats->mblks = out.mblks;
    stats->ublks = out.ublks;
  }
  return XVID_ERR_OK;
}

int Destroy(Encoder* encoder) {
  if (encoder == nullptr) return XVID_ERR_FAIL;
  const int result = ::xvid_encore(encoder->api4, codec::api4::kEncDestroy, nullptr, nullptr);
  delete encoder;
  return codec::ErrorFromApi4(result);
}

}  // namespace

int xvid_encore(void* handle, int opt, void* param1, void* param2) {
  auto* encoder = static_cast<Encoder*>(handle);
  switch (opt) {
    case XVID_ENC_CREATE:
      return Create(static_cast<XVID_ENC_PARAM*>(param1));
    case XVID_ENC_ENCODE:
      return Encode(encoder, static_cast<XVID_ENC_FRAME*>(param1), static_cast<XVID_ENC_STATS*>(param2));
    case XVID_ENC_DESTROY:
      return Destroy(encoder);
    default:
      return XVID_ERR_FAIL;
  }
}

}  // namespace xvid21
