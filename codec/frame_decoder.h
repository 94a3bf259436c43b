// A receiving control's use of a decoder: made for the output size, one complete frame decoded into the
// picture buffer as bottom-up 24-bit pixels, destroyed.
#pragma once

#include "codec/xvid21.h"

namespace codec {

// Writes the size into the parameters and makes the decoder unless it already has one, which keeps the
// size it was made with. Returns the create result (XVID_ERR_OK when a decoder already existed).
int CreateDecoder(xvid21::XVID_DEC_PARAM* param, int videoOutWidth, int videoOutHeight);

// Decodes one assembled frame into `picture` (pictureBytes long), rows of videoOutWidth pixels, bottom
// row first. Non-zero means nothing was written: the frame did not decode, was of another size, or
// its picture did not use all of its bytes (a sign of pieces put together out of order).
int DecodeFrame(const xvid21::XVID_DEC_PARAM& param, xvid21::XVID_DEC_FRAME* frame, const void* data,
                int length, void* picture, int pictureBytes, int videoOutWidth);

// Destroys the decoder if there is one; the handle becomes none.
void DestroyDecoder(xvid21::XVID_DEC_PARAM* param);

}  // namespace codec
