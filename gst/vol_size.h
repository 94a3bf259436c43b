// The picture size a key frame announces in its video object layer header.
#pragma once

#include <cstddef>
#include <cstdint>

struct PictureSize {
  int width = 0;
  int height = 0;
};

// The size from the first video object layer header before the frame's picture; false when the frame
// carries none (or it does not parse).
bool ReadVolSize(const std::uint8_t* frame, std::size_t length, PictureSize* size);

// Whether the frame carries a video object layer header before its picture.
bool HasVolHeader(const std::uint8_t* frame, std::size_t length);
