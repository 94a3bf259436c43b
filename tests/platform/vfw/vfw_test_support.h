// Shared pieces of the capture tests: a parent window with a capture window over it, and a
// video-stream callback that records what it gets through the window's user data.
#pragma once

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <atomic>
#include <chrono>
#include <cstring>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/vfw/capture_driver.h"
#include "platform/vfw/vfw.h"
#include "tests/support/devices/capture_drivers.h"

namespace vfwtest {

struct Frame {
  std::vector<BYTE> bits;
  DWORD bufferLength, bytesUsed, timeCaptured, flags;
};

// Found by the callback through WM_CAP_GET_USER_DATA, as a control would find itself.
struct Recorder {
  std::atomic<int> count{0};
  std::atomic<bool> inCallback{false};
  std::atomic<bool> stopped{false};     // set by a test once a stop has returned
  std::atomic<bool> lateCall{false};    // a callback ran after that
  std::atomic<bool> otherThread{true};  // every call ran off the test's thread
  std::thread::id testThread = std::this_thread::get_id();
  int sleepMs = 0;
  int abortAtFrame = -1;  // the callback aborts the stream itself at this frame
  bool keepFrames = true;
  std::mutex mutex;
  std::vector<Frame> frames;
  std::vector<LPARAM> userDataSeen;

  std::vector<Frame> Frames() {
    std::lock_guard<std::mutex> lock(mutex);
    return frames;
  }
};

inline LRESULT RecordFrame(HWND hwnd, LPVIDEOHDR header) {
  auto* r = reinterpret_cast<Recorder*>(capGetUserData(hwnd));
  if (!r) return TRUE;
  if (r->stopped.load()) r->lateCall = true;
  if (std::this_thread::get_id() == r->testThread) r->otherThread = false;
  r->inCallback = true;
  if (r->sleepMs) std::this_thread::sleep_for(std::chrono::milliseconds(r->sleepMs));
  {
    std::lock_guard<std::mutex> lock(r->mutex);
    if (r->keepFrames)
      r->frames.push_back({std::vector<BYTE>(header->lpData, header->lpData + header->dwBytesUsed),
                           header->dwBufferLength, header->dwBytesUsed, header->dwTimeCaptured,
                           header->dwFlags});
  }
  const int n = ++r->count;
  if (n == r->abortAtFrame) capCaptureAbort(hwnd);
  r->inCallback = false;
  return TRUE;
}

// Waits, running the event loop, until `done` or the timeout.
inline bool WaitFor(const std::function<bool()>& done, int timeoutMs = 3000) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

inline BITMAPINFO Format(int width, int height, int bitCount) {
  BITMAPINFO info{};
  info.bmiHeader.biSize = 40;
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = height;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = static_cast<WORD>(bitCount);
  info.bmiHeader.biCompression = BI_RGB;
  info.bmiHeader.biSizeImage = static_cast<DWORD>(width * height * bitCount / 8);
  return info;
}

inline CAPTUREPARMS Parms(DWORD microSecPerFrame) {
  CAPTUREPARMS p = DefaultCaptureParms();
  p.dwRequestMicroSecPerFrame = microSecPerFrame;
  p.fYield = TRUE;
  return p;
}

// A 200 x 160 parent window with a capture window covering it.
class CaptureWindowTest : public ::testing::Test {
 protected:
  void SetUp() override { Use(TestCameraOptions{}); }
  void TearDown() override {
    if (IsWindow(hwnd_)) DestroyWindow(hwnd_);
    parent_.DestroyWindow();
    ConfigureCaptureDriversFromEnvironment();
  }
  // Makes the test camera the only driver.
  static void Use(const TestCameraOptions& options) {
    SetCaptureDriversForTesting({MakeTestCameraDriver(options)});
  }
  void MakeWindow() {
    ASSERT_TRUE(parent_.CreateEx(WS_VISIBLE, 0, 0, 200, 160, nullptr));
    hwnd_ = capCreateCaptureWindowA(nullptr, WS_CHILD | WS_VISIBLE, 0, 0, 200, 160, parent_.GetSafeHwnd(), 0);
    ASSERT_TRUE(IsWindow(hwnd_));
  }
  // Connects driver 0 with the given format and streaming period, callback recording into rec_.
  void Connect(int width, int height, int bitCount, DWORD microSecPerFrame) {
    MakeWindow();
    ASSERT_TRUE(capDriverConnect(hwnd_, 0));
    BITMAPINFO f = Format(width, height, bitCount);
    ASSERT_TRUE(capSetVideoFormat(hwnd_, &f, sizeof(f)));
    CAPTUREPARMS p = Parms(microSecPerFrame);
    ASSERT_TRUE(capCaptureSetSetup(hwnd_, &p, sizeof(p)));
    capSetUserData(hwnd_, reinterpret_cast<LPARAM>(&rec_));
    capSetCallbackOnVideoStream(hwnd_, &RecordFrame);
  }
  CaptureWindowInfo Info() {
    CaptureWindowInfo info;
    EXPECT_TRUE(GetCaptureWindowInfo(hwnd_, &info));
    return info;
  }

  CWnd parent_;
  HWND hwnd_ = nullptr;
  Recorder rec_;
};

}  // namespace vfwtest
