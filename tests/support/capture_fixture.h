// Shared by the capture and sending tests: a scripted capture driver that records what it is
// asked, a control on a window with chosen drivers, a loopback receiver for its datagrams, the
// reassembly of what arrived, and FFmpeg as an independent decoder.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "control/quelvora_ctrl.h"
#include "platform/vfw/capture_driver.h"
#include "platform/winsock/winsock.h"
#include "tests/support/devices/capture_drivers.h"
#include "tests/support/event_loop.h"

namespace sendtest {

using Bytes = std::vector<std::uint8_t>;

// What a scripted driver was asked, shared by all its sessions.
struct DriverLog {
  std::mutex mutex;
  std::vector<BITMAPINFOHEADER> formatsAsked;
  int connects = 0;
  int sessionsOpen = 0;
  DWORD startPeriodUs = 0;

  std::vector<BITMAPINFOHEADER> Formats() {
    std::lock_guard<std::mutex> lock(mutex);
    return formatsAsked;
  }
};

struct DriverOptions {
  std::string name = "Scripted Camera";
  std::string version = "1.0";
  // Empty accepts every deliverable size.
  std::vector<std::pair<int, int>> acceptedSizes;
  bool hasOverlay = false;
  BYTE fill = 0;  // every byte of every frame
};

std::shared_ptr<CaptureDriver> MakeScriptedDriver(const DriverOptions& options,
                                                  std::shared_ptr<DriverLog> log);

// A started socket library, a private Windows directory, no boxes recorded, the module-wide
// gate and key-frame rule as at load. Drivers are chosen per test.
class ControlTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // A control placed on a 352 x 288 form.
  std::unique_ptr<CQuelvoraCtrl> MakeControl();
  // Writes Oskavelle.ini with UseRGB16 = value into the Windows directory.
  void WriteIni(int value);
  std::string TempDir() const { return tempDir_; }

 private:
  std::string tempDir_;
};

// The send side of a control pointed at a port on 127.0.0.1 (its own socket on any port).
void SendTo(CQuelvoraCtrl& ctrl, USHORT port);

// A UDP socket on 127.0.0.1 at a port the system chose.
class Receiver {
 public:
  Receiver();
  ~Receiver();
  USHORT Port() const { return port_; }
  // Every datagram that arrives until none has come for quietMs.
  std::vector<Bytes> Drain(int quietMs = 300);
  // Sends from this socket to a port on 127.0.0.1.
  void SendTo(USHORT port, const Bytes& datagram) const;

 private:
  winsock::SOCKET socket_;
  USHORT port_ = 0;
};

// One frame put together from its fragments.
struct ReceivedFrame {
  Bytes header;  // of the first fragment (12 or 28 bytes)
  std::uint16_t sequence = 0;
  std::uint32_t timestamp = 0;
  std::uint32_t frameLength = 0;
  bool marker = false;
  bool headersAgree = true;  // every fragment carried the same header
  Bytes data;
};
// Appends fragments of one sequence number in arrival order, as the receiver does.
std::vector<ReceivedFrame> Reassemble(const std::vector<Bytes>& datagrams);

// FFmpeg as an independent reader of an MPEG-4 elementary stream.
bool HaveFfmpeg();
// Decodes the frames; returns each picture as top-down B,G,R rows, and each frame's type
// ("I", "P") when `types` is given.
std::vector<Bytes> DecodeWithFfmpeg(const std::vector<ReceivedFrame>& frames, int width, int height,
                                    const std::string& scratch, std::vector<std::string>* types = nullptr);

}  // namespace sendtest
