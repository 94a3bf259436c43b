// A test sender's stream: moving pictures encoded with our encoder, cut into the datagrams a
// sending control would send, and decoded by a reference decoder of its own. Header-only, so
// that tests, benchmarks and fuzz targets share it.
#pragma once

#include <cstdint>
#include <vector>

#include "codec/frame_encoder.h"
#include "codec/xvid21.h"
#include "net/video_packet.h"

namespace test_stream {

using Bytes = std::vector<std::uint8_t>;

// Packed B,G,R, bottom row first: gradients with a bright box that moves with `frame`.
inline Bytes MovingPicture(int width, int height, int frame) {
  Bytes picture(static_cast<std::size_t>(width) * height * 3);
  const int boxX = (frame * 5) % (width - width / 4);
  const int boxY = (frame * 3) % (height - height / 4);
  for (int row = 0; row < height; ++row) {
    const int y = height - 1 - row;
    for (int x = 0; x < width; ++x) {
      std::uint8_t* p = &picture[(static_cast<std::size_t>(row) * width + x) * 3];
      const bool inBox = x >= boxX && x < boxX + width / 6 && y >= boxY && y < boxY + height / 6;
      p[0] = static_cast<std::uint8_t>(inBox ? 20 : 40 + (x * 160) / width);
      p[1] = static_cast<std::uint8_t>(inBox ? 230 : 30 + (y * 180) / height);
      p[2] = static_cast<std::uint8_t>(inBox ? 250 : 60 + ((x + y + frame) % 64) * 2);
    }
  }
  return picture;
}

struct EncodedFrame {
  Bytes bytes;
  bool bKeyFrame = false;
};

// `frames` encoded pictures at the sending control's parameters; a key frame every keyInterval.
inline std::vector<EncodedFrame> EncodeStream(int width, int height, int frames, int bitrate = 250000,
                                              int keyInterval = 30) {
  using namespace xvid21;
  XVID_ENC_PARAM param{};
  codec::FillEncoderParam(&param, width, height, bitrate, keyInterval);
  std::vector<EncodedFrame> stream;
  if (xvid_encore(nullptr, XVID_ENC_CREATE, &param, nullptr) != XVID_ERR_OK) return stream;
  for (int i = 0; i < frames; ++i) {
    Bytes picture = MovingPicture(width, height, i);
    EncodedFrame out;
    out.bytes.resize(100000 - 28);
    XVID_ENC_FRAME frame{};
    frame.general = codec::kEncoderPresets[codec::kDefaultQualityIndex].nGeneral;
    frame.motion = codec::kEncoderPresets[codec::kDefaultQualityIndex].nMotion;
    frame.bitstream = out.bytes.data();
    frame.image = picture.data();
    frame.colorspace = XVID_CSP_RGB24;
    frame.intra = i % keyInterval == 0 ? 1 : -1;
    XVID_ENC_STATS stats{};
    if (xvid_encore(param.handle, XVID_ENC_ENCODE, &frame, &stats) != XVID_ERR_OK) break;
    out.bytes.resize(static_cast<std::size_t>(frame.length));
    out.bKeyFrame = frame.intra == 1;
    stream.push_back(std::move(out));
  }
  xvid_encore(param.handle, XVID_ENC_DESTROY, nullptr, nullptr);
  return stream;
}

// The datagrams of one frame: pieces of at most 800 bytes behind identical headers.
inline std::vector<Bytes> Datagrams(const EncodedFrame& frame, std::uint16_t sequence,
                                    const char* userName = "") {
  std::uint8_t header[kVideoHeaderSizeWithName];
  const std::size_t headerLength =
      WriteFragmentHeader(header, frame.bKeyFrame, sequence, sequence * 3600u,
                          static_cast<std::uint32_t>(frame.bytes.size()), userName);
  std::vector<Bytes> out;
  SendFrameFragments(header, headerLength, frame.bytes.data(), frame.bytes.size(),
                     [&out](const std::uint8_t* d, std::size_t n) {
                       out.emplace_back(d, d + n);
                       return true;
                     });
  return out;
}

// A decoder of our own: what the receiving side should show for each frame.
class ReferenceDecoder {
 public:
  ReferenceDecoder(int width, int height) : m_nWidth(width), m_nHeight(height) {
    m_param.width = width;
    m_param.height = height;
    xvid21::xvid_decore(nullptr, xvid21::XVID_DEC_CREATE, &m_param, nullptr);
  }
  ~ReferenceDecoder() {
    if (m_param.handle != nullptr)
      xvid21::xvid_decore(m_param.handle, xvid21::XVID_DEC_DESTROY, nullptr, nullptr);
  }
  ReferenceDecoder(const ReferenceDecoder&) = delete;
  ReferenceDecoder& operator=(const ReferenceDecoder&) = delete;

  // The picture, bottom row first; empty when the decode failed.
  Bytes Decode(const Bytes& frame) {
    Bytes picture(static_cast<std::size_t>(m_nWidth) * m_nHeight * 3);
    xvid21::XVID_DEC_FRAME f{};
    f.bitstream = const_cast<std::uint8_t*>(frame.data());
    f.length = static_cast<int>(frame.size());
    f.image = picture.data();
    f.image_capacity = static_cast<int>(picture.size());
    f.stride = m_nWidth;
    f.colorspace = static_cast<int>(xvid21::XVID_CSP_RGB24 | xvid21::XVID_CSP_VFLIP);
    if (xvid21::xvid_decore(m_param.handle, xvid21::XVID_DEC_DECODE, &f, nullptr) != xvid21::XVID_ERR_OK)
      return {};
    return picture;
  }

 private:
  int m_nWidth;
  int m_nHeight;
  xvid21::XVID_DEC_PARAM m_param{};
};

}  // namespace test_stream
