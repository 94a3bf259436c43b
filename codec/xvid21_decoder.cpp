// xvid_decore over API 4. The library is made with fixed dimensions, so no stream can make it grow. It
// decodes into planes of the adapter's own, sized for whole macroblocks; the caller's picture is written,
// by our own conversion, only when a frame of a stream whose headers declare the decoder's size was decoded
// and fits the caller's room. Input is copied behind zero padding first, because the library reads whole
// words past the end of its input.
#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

#include "codec/api4.h"
#include "codec/xvid21.h"
#include "codec/xvid21_mapping.h"
#include "codec/yuv_to_bgr.h"

namespace xvid21 {

namespace {

constexpr int kDefaultImageCapacity = 704 * 576 * 3;
constexpr std::size_t kInputPadding = 64;
constexpr std::size_t kInitialInput = 100000;

struct Decoder {
  void* api4 = nullptr;
  int nWidth = 0;
  int nHeight = 0;
  std::vector<unsigned char> input;
  std::vector<unsigned char> planes;  // 4:2:0 output of the library, see PlaneLayout
  int nLumaStride = 0;
  // Set by a stream header the library took (so of the decoder's size), cleared by one it refused.
  bool bStreamAccepted = false;
};

bool ContainsVolStartCode(const unsigned char* data, std::size_t length) {
  for (std::size_t i = 0; i + 3 < length; ++i) {
    if (data[i] == 0 && data[i + 1] == 0 && data[i + 2] == 1 && (data[i + 3] & 0xF0) == 0x20) return true;
  }
  return false;
}

// What may follow a picture in its frame: nothing, one whole byte of the stuffing that aligns a
// picture to the next start code (a 0 bit and seven 1 bits), which the library leaves unread, or
// what begins with a start code (headers some encoders send ahead of the next key frame). Anything
// else means the picture ended where the frame does not.
bool PictureEndsTheFrame(const unsigned char* rest, std::size_t length) {
  if (length == 0 || (length == 1 && rest[0] == 0x7F)) return true;
  return length >= 3 && rest[0] == 0 && rest[1] == 0 && rest[2] == 1;
}

int Create(XVID_DEC_PARAM* param) {
  if (param == nullptr || !codec::api4::EnsureInitialised()) return XVID_ERR_FAIL;
  if (param->width <= 0 || param->height <= 0 || param->width > kMaxDecoderDimension ||
      param->height > kMaxDecoderDimension) {
    return XVID_ERR_FORMAT;
  }
  Decoder* decoder = new (std::nothrow) Decoder;
  if (decoder == nullptr) return XVID_ERR_MEMORY;
  try {
    decoder->input.resize(kInitialInput + kInputPadding);
    decoder->nLumaStride = (param->width + 15) & ~15;
    const std::size_t lumaRows = static_cast<std::size_t>((param->height + 15) & ~15);
    decoder->planes.resize(static_cast<std::size_t>(decoder->nLumaStride) * lumaRows * 3 / 2);
  } catch (const std::bad_alloc&) {
    delete decoder;
    return XVID_ERR_MEMORY;
  }
  xvid_dec_create_t create;
  std::memset(&create, 0, sizeof create);
  create.version = XVID_VERSION;
  create.width = param->width;
  create.height = param->height;
  create.num_threads = 0;
  const int result = ::xvid_decore(nullptr, codec::api4::kDecCreate, &create, nullptr);
  if (result < 0) {
    delete decoder;
    return codec::ErrorFromApi4(result);
  }
  decoder->api4 = create.handle;
  decoder->nWidth = param->width;
  decoder->nHeight = param->height;
  param->handle = decoder;
  return XVID_ERR_OK;
}

// Y, U and V planes in Decoder::planes.
codec::Yuv420View PlaneLayout(const Decoder& decoder) {
  const int lumaStride = decoder.nLumaStride;
  const std::size_t lumaBytes = decoder.planes.size() * 2 / 3;
  const std::uint8_t* y = decoder.planes.data();
  return codec::Yuv420View{y, y + lumaBytes, y + lumaBytes + lumaBytes / 4, lumaStride, lumaStride / 2};
}

// Runs the library over one complete frame: the headers before it, then its picture. True when a picture
// was decoded into the decoder's planes; the headers met on the way update bStreamAccepted.
bool DecodeInLibrary(Decoder* decoder, std::size_t length) {
  const codec::Yuv420View layout = PlaneLayout(*decoder);
  const unsigned char* data = decoder->input.data();
  std::size_t pos = 0;
  while (pos < length) {
    xvid_dec_frame_t in;
    std::memset(&in, 0, sizeof in);
    in.version = XVID_VERSION;
    // Output the picture just decoded rather than hold it back for B-frame reordering.
    in.general = XVID_LOWDELAY;
    in.bitstream = const_cast<unsigned char*>(data + pos);
    in.length = static_cast<int>(length - pos);
    in.output.csp = XVID_CSP_PLANAR;
    in.output.plane[0] = const_cast<std::uint8_t*>(layout.y);
    in.output.plane[1] = const_cast<std::uint8_t*>(layout.u);
    in.output.plane[2] = const_cast<std::uint8_t*>(layout.v);
    in.output.stride[0] = layout.yStride;
    in.output.stride[1] = layout.uvStride;
    in.output.stride[2] = layout.uvStride;
    xvid_dec_stats_t stats;
    std::memset(&stats, 0, sizeof stats);
    stats.version = XVID_VERSION;
    const int used = ::xvid_decore(decoder->api4, codec::api4::kDecDecode, &in, &stats);
    if (used < 0) return false;
    const std::size_t consumed = std::min(static_cast<std::size_t>(used), length - pos);
    if (stats.type == XVID_TYPE_VOL) {
      decoder->bStreamAccepted =
          stats.data.vol.width == decoder->nWidth && stats.data.vol.height == decoder->nHeight;
    } else if (stats.type == XVID_TYPE_NOTHING && ContainsVolStartCode(data + pos, consumed)) {
      // A fixed-size decoder passes over a header of another size without a word.
      decoder->bStreamAccepted = false;
    } else if (stats.type > 0) {
      // A picture that needed more bytes than the frame has was made up from the padding; one
      // that stopped short of the frame's end was not this frame's picture: its pieces were out
      // of order.
      if (static_cast<std::size_t>(used) > length - pos) return false;
      return PictureEndsTheFrame(data + pos + used, length - pos - static_cast<std::size_t>(used));
    }
    if (used == 0) return false;
    pos += consumed;
  }
  return false;
}

int Decode(Decoder* decoder, XVID_DEC_FRAME* frame) {
  if (decoder == nullptr || frame == nullptr) return XVID_ERR_FAIL;
  if (frame->bitstream == nullptr || frame->length <= 0) return XVID_ERR_FAIL;
  const auto length = static_cast<std::size_t>(frame->length);
  if (decoder->input.size() < length + kInputPadding) {
    try {
      decoder->input.resize(length + kInputPadding);
    } catch (const std::bad_alloc&) {
      return XVID_ERR_MEMORY;
    }
  }
  std::memcpy(decoder->input.data(), frame->bitstream, length);
  std::memset(decoder->input.data() + length, 0, kInputPadding);

  // The frame is decoded even when its picture cannot be handed out, so that the reference pictures stay
  // in step with the stream.
  const bool decoded = DecodeInLibrary(decoder, length);
  int api4Csp = 0;
  if (!codec::MapOutputColorspace(frame->colorspace, &api4Csp)) return XVID_ERR_FORMAT;
  if (!decoded || !decoder->bStreamAccepted) return XVID_ERR_FAIL;

  if (frame->image == nullptr || frame->stride < decoder->nWidth) return XVID_ERR_FORMAT;
  const std::size_t strideBytes = static_cast<std::size_t>(frame->stride) * 3;
  const std::size_t capacity =
      frame->image_capacity > 0 ? static_cast<std::size_t>(frame->image_capacity) : kDefaultImageCapacity;
  const std::size_t needed = (static_cast<std::size_t>(decoder->nHeight) - 1) * strideBytes +
                             static_cast<std::size_t>(decoder->nWidth) * 3;
  if (needed > capacity) return XVID_ERR_MEMORY;
  codec::Yuv420ToBgr(PlaneLayout(*decoder), decoder->nWidth, decoder->nHeight,
                     static_cast<std::uint8_t*>(frame->image), strideBytes,
                     (api4Csp & codec::api4::kCspVflip) != 0);
  return XVID_ERR_OK;
}

int Destroy(Decoder* decoder) {
  if (decoder == nullptr) return XVID_ERR_FAIL;
  const int result = ::xvid_decore(decoder->api4, codec::api4::kDecDestroy, nullptr, nullptr);
  delete decoder;
  return codec::ErrorFromApi4(result);
}

}  // namespace

int xvid_decore(void* handle, int opt, void* param1, void* /*param2*/) {
  auto* decoder = static_cast<Decoder*>(handle);
  switch (opt) {
    case XVID_DEC_CREATE:
      return Create(static_cast<XVID_DEC_PARAM*>(param1));
    case XVID_DEC_DECODE:
      return Decode(decoder, static_cast<XVID_DEC_FRAME*>(param1));
    case XVID_DEC_DESTROY:
      return Destroy(decoder);
    default:
      return XVID_ERR_FAIL;
  }
}

}  // namespace xvid21
