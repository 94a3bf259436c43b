// The codec interface the control is written against: the structures, values and three entry points of
// the MPEG-4 library's 2.1 programming interface, implemented over the installed libxvidcore (API 4).
//
// The names live in namespace xvid21 because the real library exports C functions xvid_encore and
// xvid_decore with other signatures and defines macros with some of the same names (XVID_ERR_MEMORY,
// XVID_CSP_RGB555, ...). Only codec/api4.h includes the library's header, and it removes those macros.
//
// Additions to the 2.1 layout, both zero by default so an all-zero block behaves as documented:
//  - XVID_ENC_FRAME::bitstream_capacity: bytes the caller can take at `bitstream`. 0 means 99,972, the room
//    behind a 28-byte packet header in a 100,000-byte packet buffer. An encoded frame that would not fit
//    fails the encode (XVID_ERR_MEMORY) and nothing is written at `bitstream`; the next frame is then a
//    key frame, since the dropped one was already the reference of what would follow.
//  - XVID_DEC_FRAME::image_capacity: bytes the caller can take at `image`. 0 means 1,216,512, the size of
//    the control's picture buffer. A decode that would need more fails and writes nothing.
#pragma once

#include <cstdint>

namespace xvid21 {

inline constexpr int API_VERSION = 0x00020001;

// Results.
inline constexpr int XVID_ERR_FAIL = -1;
inline constexpr int XVID_ERR_OK = 0;
inline constexpr int XVID_ERR_MEMORY = 1;
inline constexpr int XVID_ERR_FORMAT = 2;

// Operations.
inline constexpr int XVID_ENC_ENCODE = 0;
inline constexpr int XVID_ENC_CREATE = 1;
inline constexpr int XVID_ENC_DESTROY = 2;
inline constexpr int XVID_DEC_DECODE = 0;
inline constexpr int XVID_DEC_CREATE = 1;
inline constexpr int XVID_DEC_DESTROY = 2;

// The widest and tallest picture a decoder is made for (what a stream's header can declare); a larger
// size fails its creation with XVID_ERR_FORMAT.
inline constexpr int kMaxDecoderDimension = 8191;

// Colour spaces. RGB24 is packed B,G,R with the bottom row first for the encoder's input; the decoder
// writes RGB24 top row first unless XVID_CSP_VFLIP is added. RGB555 input is top row first.
inline constexpr int XVID_CSP_RGB24 = 0;
inline constexpr int XVID_CSP_RGB555 = 10;
inline constexpr std::uint32_t XVID_CSP_VFLIP = 0x80000000u;

// Encoder `general` flags.
inline constexpr int XVID_H263QUANT = 0x00000010;
inline constexpr int XVID_MPEGQUANT = 0x00000020;
inline constexpr int XVID_HALFPEL = 0x00000040;
inline constexpr int XVID_INTER4V = 0x00008000;

// Encoder `motion` flags.
inline constexpr int PMV_HALFPELREFINE16 = 0x00020000;
inline constexpr int PMV_EXTSEARCH16 = 0x00040000;
inline constexpr int PMV_EARLYSTOP16 = 0x00080000;
inline constexpr int PMV_USESQUARES16 = 0x00800000;
inline constexpr int PMV_HALFPELREFINE8 = 0x02000000;
inline constexpr int PMV_EARLYSTOP8 = 0x08000000;

struct XVID_INIT_PARAM {
  int cpu_flags;    // in: 0 lets the library detect the processor
  int api_version;  // out: interface version, API_VERSION for this adapter over an API 4 library
  int core_build;   // out: version of the linked library, as it reports it
};

struct XVID_ENC_PARAM {
  int width;
  int height;
  int fincr;
  int fbase;
  int rc_bitrate;                // bits per second; 0 or less: no rate control, frames use `quant`
  int rc_reaction_delay_factor;  // 0 or less: 16
  int rc_averaging_period;       // 0 or less: 100
  int rc_buffer;                 // 0 or less: 100
  int max_quantizer;             // outside 1..31: 31
  int min_quantizer;             // outside 1..31: 1
  int max_key_interval;          // 0 or less: the library's default
  void* handle;                  // out: the encoder instance
};

struct XVID_ENC_FRAME {
  int general;
  int motion;
  void* bitstream;  // out: the encoded frame is written here
  int length;       // out: its length in bytes
  void* image;
  int colorspace;
  unsigned char* quant_intra_matrix;
  unsigned char* quant_inter_matrix;
  int quant;               // 0: the rate control chooses
  int intra;               // in: 1 force a key frame, 0 force a predicted frame, -1 let the encoder decide;
                           // out: 1 key frame, 0 not
  int bitstream_capacity;  // see the top of this file
};

struct XVID_ENC_STATS {
  int quant;
  int hlength;
  int kblks;
  int mblks;
  int ublks;
};

struct XVID_DEC_PARAM {
  int width;
  int height;
  void* handle;  // out: the decoder instance
};

struct XVID_DEC_FRAME {
  int general;  // accepted for layout; no decoder flag is used
  void* bitstream;
  int length;
  void* image;
  int stride;  // in pixels
  int colorspace;
  int image_capacity;  // see the top of this file
};

// handle and opt are ignored. Initialises the library once per process; later calls only report.
int xvid_init(void* handle, int opt, XVID_INIT_PARAM* param1, void* param2);

int xvid_encore(void* handle, int opt, void* param1, void* param2);
int xvid_decore(void* handle, int opt, void* param1, void* param2);

// Version this interface reports for a linked library of the given API major: exactly API_VERSION for
// API 4, a lower version below it and a higher one above it.
int ReportedApiVersion(int api4Major);

// Tests only: replaces what xvid_init learns from the library, so that start-up failures can be tested.
struct InitInjection {
  bool bFail = false;  // xvid_init returns XVID_ERR_FAIL
  int nApiMajor = 4;   // API major of the "linked" library
};
void InjectInitForTest(const InitInjection& injection);
void ClearInitInjectionForTest();

}  // namespace xvid21
