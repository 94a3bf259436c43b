// The one place that includes the installed library's header (API 4). It keeps the API 4 values under
// names of their own and removes the library's macros that share a name with the 2.1 interface, so that
// both can be used in one file.
#pragma once

#include <xvid.h>

static_assert(XVID_API_MAJOR(XVID_API) == 4, "the codec adapter maps onto libxvidcore API 4");

namespace codec::api4 {

inline constexpr int kHeaderApiMajor = XVID_API_MAJOR(XVID_API);
inline constexpr int kHeaderVersionMajor = XVID_VERSION_MAJOR(XVID_VERSION);

inline constexpr int kErrFail = XVID_ERR_FAIL;
inline constexpr int kErrMemory = XVID_ERR_MEMORY;
inline constexpr int kErrFormat = XVID_ERR_FORMAT;

inline constexpr int kEncCreate = XVID_ENC_CREATE;
inline constexpr int kEncDestroy = XVID_ENC_DESTROY;
inline constexpr int kEncEncode = XVID_ENC_ENCODE;
inline constexpr int kDecCreate = XVID_DEC_CREATE;
inline constexpr int kDecDestroy = XVID_DEC_DESTROY;
inline constexpr int kDecDecode = XVID_DEC_DECODE;

inline constexpr int kCspRgb555 = XVID_CSP_RGB555;
inline constexpr int kCspVflip = XVID_CSP_VFLIP;

// Runs the library's global initialisation once per process (xvid_init does too); false when it failed.
// Every create calls it, so that no instance is made over an uninitialised library.
bool EnsureInitialised();

}  // namespace codec::api4

#undef XVID_ERR_FAIL
#undef XVID_ERR_MEMORY
#undef XVID_ERR_FORMAT
#undef XVID_ENC_CREATE
#undef XVID_ENC_DESTROY
#undef XVID_ENC_ENCODE
#undef XVID_DEC_CREATE
#undef XVID_DEC_DESTROY
#undef XVID_DEC_DECODE
#undef XVID_CSP_RGB555
#undef XVID_CSP_VFLIP
