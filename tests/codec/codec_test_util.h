// Pictures, streams and measurements shared by the codec tests.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "codec/frame_encoder.h"
#include "codec/xvid21.h"

namespace codec_test {

using Bytes = std::vector<std::uint8_t>;

// Packed B,G,R, bottom row first: soft gradients with a bright box that moves with `frame`.
Bytes MovingPicture(int width, int height, int frame);

// PSNR in dB over all bytes of two equally long pictures.
double Psnr(const Bytes& a, const Bytes& b);

// Rows of a packed 24-bit picture in the other vertical order.
Bytes FlipRows(const Bytes& picture, int width, int height);

// An encoder made with the sending control's parameters; destroyed with the object.
class Encoder {
 public:
  Encoder(int width, int height, int bitrate, int keyInterval);
  ~Encoder();
  Encoder(const Encoder&) = delete;
  Encoder& operator=(const Encoder&) = delete;
  int Result() const { return m_nCreateResult; }
  // Encodes one picture with the preset; returns the frame (empty on failure) and whether it is a key frame.
  Bytes Encode(const Bytes& picture, int intra, bool* key = nullptr, int* result = nullptr);

 private:
  xvid21::XVID_ENC_PARAM m_param{};
  int m_nCreateResult;
};

class Decoder {
 public:
  Decoder(int width, int height);
  ~Decoder();
  Decoder(const Decoder&) = delete;
  Decoder& operator=(const Decoder&) = delete;
  int Result() const { return m_nCreateResult; }
  // Decodes into `picture` (its size is the room given) with the given stride in pixels.
  int Decode(const Bytes& frame, Bytes* picture, int stride);
  int Decode(const std::uint8_t* data, int length, Bytes* picture, int stride);

 private:
  xvid21::XVID_DEC_PARAM m_param{};
  int m_nCreateResult;
};

// A stream of `frames` moving pictures, each frame as it came out of the encoder.
std::vector<Bytes> EncodeMovingStream(int width, int height, int frames, int bitrate);

// Scratch directory for files handed to other programs.
std::string TempDir();
void WriteFile(const std::string& path, const Bytes& data);
Bytes ReadFile(const std::string& path);
// Runs a shell command; returns its exit status and puts stdout and stderr together into *output.
int RunCommand(const std::string& command, std::string* output);

}  // namespace codec_test
