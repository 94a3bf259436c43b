// Shared by the element tests: GStreamer started with the plugin as built, and the checks of pictures
// against the test camera's.
#pragma once

#include <gst/gst.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace gsttest {

using Bytes = std::vector<std::uint8_t>;

// gst_init and the plugin from the build folder, once per process.
void StartGStreamer();

// A folder of its own for the running test, below $QV_TEST_TMP.
std::string TestFolder();

// Runs qv-picture-check on a file of raw B,G,R pictures of the test camera (a picture is right from
// minPsnr dB); answers its exit code and puts what it printed in `summary`.
int CheckPictures(const std::string& file, int width, int height, bool bottomUp, double minPsnr,
                  std::string* summary);
// Pictures in a file of raw 24-bit pictures.
long PicturesIn(const std::string& file, int width, int height);

}  // namespace gsttest
