// Size texts as SetVideoInFormat and SetVideoOutFormat take them, and what the control computes
// from the size they leave: the picture buffer's share, whether it can be recorded, the capture
// format and frame size, and the capture failure text.
//
// Input: [8 bytes: the width and height before the call][the text]. The text is cut at its first
// NUL, as a C string is.
//
// QV_FUZZ_WRITE_SEEDS=dir writes seed inputs into dir and exits.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "capture/capture_setup.h"
#include "capture/video_size.h"
#include "control/error_table.h"
#include "fuzz/seeds.h"
#include "net/receive_datagram.h"
#include "recording/avi_writer.h"

namespace {

void WriteSeeds(const std::string& dir) {
  const char* texts[] = {"QCIF",    "CIF",   "4CIF",          "16CIF",
                         "352*288", "-1*-1", "100000*100000", "99999*2",
                         "640",     "*480",  " 12 * 34",      "2147483647*2147483647",
                         "cif"};
  const std::int32_t before[2] = {352, 288};
  int i = 0;
  for (const char* t : texts)
    fuzz_seeds::Write(dir, "seed_" + std::to_string(i++),
                      std::string(reinterpret_cast<const char*>(before), sizeof before) + t);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz_seeds::WriteIfAsked(WriteSeeds);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 8) return 0;
  std::int32_t before[2];
  std::memcpy(before, data, sizeof before);
  const std::string text(reinterpret_cast<const char*>(data + 8), size - 8);
  int width = before[0];
  int height = before[1];
  ApplyVideoSizeText(text.c_str(), width, height);

  // Widths and heights are ints, so their products fit 128 bits whatever they are.
  const bool positive = width > 0 && height > 0;
  const unsigned __int128 pixels = positive ? static_cast<unsigned __int128>(width) * height : 0;
  const std::size_t picture = PictureBytes(width, height);
  if (picture != 0 && (!positive || picture != pixels * 3)) std::abort();
  if (IsRecordableSize(width, height) && picture == 0) std::abort();
  for (const BOOL rgb16 : {FALSE, TRUE}) {
    const BITMAPINFO format = CaptureFormatBlock(width, height, rgb16);
    if (format.bmiHeader.biWidth != width || format.bmiHeader.biHeight != height) std::abort();
    const std::size_t frame = CaptureFrameBytes(width, height, rgb16);
    if ((frame != 0) != positive || frame < pixels * (rgb16 ? 2 : 3)) std::abort();
  }
  for (const int language : {LANGUAGE_CHINESE, LANGUAGE_ENGLISH}) {
    const FormattedText failure = FormatFailureText(language, width, height);
    if (std::strlen(failure.bytes) >= sizeof failure.bytes) std::abort();
  }
  return 0;
}
