// A library started for each test, and a file with its stream set up the way the recorder does.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "platform/avifile/avifile.h"
#include "tests/platform/avifile/avi_probe.h"

namespace avitest {

class AviTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = ScratchDir(::testing::UnitTest::GetInstance()->current_test_info()->name());
    AVIFileInit();
  }
  void TearDown() override {
    Close();
    AVIFileExit();
    SetAVIFileWriterLimits({});
    SetAVIFileSizeLimitForTesting(-1);
    std::filesystem::remove_all(dir_);
  }

  std::string Path(const std::string& name) const { return dir_ + "/" + name; }

  // Opens `name` and gives it a stream of `rate` frames per second with the format
  // width x height (24 bits, bottom-up) and a frame rectangle of rectWidth x rectHeight.
  void Open(const std::string& name, int width = 176, int height = 144, DWORD rate = 7, int rectWidth = 352,
            int rectHeight = 288, HRESULT formatResult = AVIERR_OK) {
    width_ = width;
    height_ = height;
    path_ = Path(name);
    ASSERT_EQ(AVIFileOpenA(&file_, path_.c_str(), OF_WRITE | OF_CREATE, nullptr), AVIERR_OK);
    AVISTREAMINFO info{};
    info.fccType = streamtypeVIDEO;
    info.fccHandler = mmioFOURCC('x', 'v', 'i', 'd');
    info.dwScale = 1;
    info.dwRate = rate;
    info.dwSuggestedBufferSize = 10240;
    info.rcFrame = RECT{0, 0, rectWidth, rectHeight};
    ASSERT_EQ(AVIFileCreateStreamA(file_, &stream_, &info), AVIERR_OK);
    ASSERT_EQ(SetFormat(), formatResult);
  }

  BITMAPINFOHEADER Format() const {
    BITMAPINFOHEADER bih{};
    bih.biSize = sizeof bih;
    bih.biWidth = width_;
    bih.biHeight = height_;
    bih.biPlanes = 1;
    bih.biBitCount = 24;
    bih.biCompression = BI_RGB;
    bih.biSizeImage = static_cast<DWORD>(width_ * height_ * 3);
    return bih;
  }
  HRESULT SetFormat() {
    const BITMAPINFOHEADER bih = Format();
    return AVIStreamSetFormat(stream_, 0, &bih, sizeof bih);
  }

  // Writes picture `frame` at `position`.
  HRESULT Write(LONG position, int frame, bool key = false) {
    const std::vector<std::uint8_t> p = Picture(width_, height_, frame);
    return AVIStreamWrite(stream_, position, 1, p.data(), static_cast<LONG>(p.size()),
                          key ? AVIIF_KEYFRAME : 0, nullptr, nullptr);
  }

  // Releases the file, then the stream, as the recorder does; the file is complete afterwards.
  void Close() {
    if (file_) AVIFileRelease(file_);
    if (stream_) AVIStreamRelease(stream_);
    file_ = nullptr;
    stream_ = nullptr;
  }

  // ffmpeg decodes exactly the pictures `frames`, in this order.
  void ExpectDecodes(const std::vector<int>& frames) {
    const std::vector<std::string> decoded = DecodeFrames(path_, width_, height_);
    ASSERT_EQ(decoded.size(), frames.size());
    for (std::size_t i = 0; i < frames.size(); ++i)
      EXPECT_TRUE(decoded[i] == TopDown(Picture(width_, height_, frames[i]), width_, height_))
          << "frame " << i;
  }

  std::string dir_;
  std::string path_;
  int width_ = 176;
  int height_ = 144;
  PAVIFILE file_ = nullptr;
  PAVISTREAM stream_ = nullptr;
};

}  // namespace avitest
