#include "tests/support/capture_fixture.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <thread>

#include "capture/frame_rules.h"
#include "codec/key_frame_rule.h"
#include "platform/ui/msgbox.h"

using namespace winsock;

namespace sendtest {

namespace {

class ScriptedSession : public CaptureSession {
 public:
  ScriptedSession(const DriverOptions& options, std::shared_ptr<DriverLog> log)
      : options_(options), log_(log) {
    BITMAPINFOHEADER h{};
    h.biSize = 40;
    h.biWidth = 352;
    h.biHeight = 288;
    h.biBitCount = 24;
    format_ = NormalizedFormat(h);
    std::lock_guard<std::mutex> lock(log_->mutex);
    ++log_->connects;
    ++log_->sessionsOpen;
  }
  ~ScriptedSession() override {
    std::lock_guard<std::mutex> lock(log_->mutex);
    --log_->sessionsOpen;
  }
  BITMAPINFOHEADER Format() const override { return format_; }
  bool SetFormat(const BITMAPINFOHEADER& format) override {
    {
      std::lock_guard<std::mutex> lock(log_->mutex);
      log_->formatsAsked.push_back(format);
    }
    if (!IsDeliverableFormat(format)) return false;
    if (!options_.acceptedSizes.empty()) {
      bool found = false;
      for (auto [w, h] : options_.acceptedSizes)
        found = found || (w == format.biWidth && h == format.biHeight);
      if (!found) return false;
    }
    format_ = NormalizedFormat(format);
    return true;
  }
  bool HasOverlay() const override { return options_.hasOverlay; }
  bool Start(DWORD microSecPerFrame) override {
    pacer_.Start(microSecPerFrame);
    std::lock_guard<std::mutex> lock(log_->mutex);
    log_->startPeriodUs = microSecPerFrame;
    return true;
  }
  Grabbed Grab(BYTE* bits, const WakeFd& wake) override {
    std::chrono::steady_clock::time_point now;
    if (!pacer_.WaitNext(wake, &now)) return {GrabResult::kStopped, {}};
    std::memset(bits, options_.fill, format_.biSizeImage);
    return {GrabResult::kFrame, now};
  }
  void Stop() override {}

 private:
  DriverOptions options_;
  std::shared_ptr<DriverLog> log_;
  BITMAPINFOHEADER format_;
  FramePacer pacer_;
};

class ScriptedDriver : public CaptureDriver {
 public:
  ScriptedDriver(const DriverOptions& options, std::shared_ptr<DriverLog> log)
      : options_(options), log_(log) {}
  std::string Name() const override { return options_.name; }
  std::string Version() const override { return options_.version; }
  std::unique_ptr<CaptureSession> Connect() override {
    return std::make_unique<ScriptedSession>(options_, log_);
  }

 private:
  DriverOptions options_;
  std::shared_ptr<DriverLog> log_;
};

int Run(const std::string& command, std::string* output) {
  FILE* pipe = popen((command + " 2>&1").c_str(), "r");
  if (!pipe) return -1;
  std::array<char, 4096> chunk;
  output->clear();
  size_t n;
  while ((n = std::fread(chunk.data(), 1, chunk.size(), pipe)) > 0) output->append(chunk.data(), n);
  return pclose(pipe);
}

}  // namespace

std::shared_ptr<CaptureDriver> MakeScriptedDriver(const DriverOptions& options,
                                                  std::shared_ptr<DriverLog> log) {
  return std::make_shared<ScriptedDriver>(options, std::move(log));
}

void ControlTest::SetUp() {
  WSADATA data;
  ASSERT_EQ(WSAStartup(MAKEWORD(1, 1), &data), 0);
  const char* base = std::getenv("QV_TEST_TMP");
  const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
  tempDir_ = std::string(base && *base ? base : "/tmp") + "/" + info->test_suite_name() + "." + info->name();
  std::filesystem::remove_all(tempDir_);
  std::filesystem::create_directories(tempDir_);
  setenv("QUELVORA_WINDIR", tempDir_.c_str(), 1);
  ClearRecordedMessageBoxes();
  ResetFrameGateForTesting();
  codec::ResetKeyFrameRuleForTest();
}

void ControlTest::TearDown() {
  SetCaptureDriversForTesting({});
  unsetenv("QUELVORA_WINDIR");
  WSACleanup();
}

std::unique_ptr<CQuelvoraCtrl> ControlTest::MakeControl() {
  auto ctrl = std::make_unique<CQuelvoraCtrl>();
  EXPECT_TRUE(ctrl->CreateControlWindow(nullptr, RECT{0, 0, 352, 288}));
  return ctrl;
}

void ControlTest::WriteIni(int value) {
  std::ofstream(tempDir_ + "/Oskavelle.ini") << "[Oskavelle]\nUseRGB16=" << value << "\n";
}

void SendTo(CQuelvoraCtrl& ctrl, USHORT port) {
  ctrl.m_endpoints.sendLocal.Store("127.0.0.1", 0);
  ctrl.m_endpoints.sendRemote.Store("127.0.0.1", port);
}

Receiver::Receiver() : socket_(socket(AF_INET, SOCK_DGRAM, 0)) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = inet_addr("127.0.0.1");
  EXPECT_EQ(bind(socket_, reinterpret_cast<const sockaddr*>(&a), sizeof a), 0);
  const int size = 4 << 20;
  setsockopt(socket_, SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char*>(&size), sizeof size);
  int length = sizeof a;
  getsockname(socket_, reinterpret_cast<sockaddr*>(&a), &length);
  port_ = ntohs(a.sin_port);
}

Receiver::~Receiver() { closesocket(socket_); }

std::vector<Bytes> Receiver::Drain(int quietMs) {
  std::vector<Bytes> all;
  std::vector<char> buffer(100000);
  for (;;) {
    FD_SET readable;
    FD_ZERO(&readable);
    FD_SET(socket_, &readable);
    const timeval wait{quietMs / 1000, (quietMs % 1000) * 1000};
    if (select(0, &readable, nullptr, nullptr, &wait) != 1) return all;
    const int n = recvfrom(socket_, buffer.data(), static_cast<int>(buffer.size()), 0, nullptr, nullptr);
    if (n < 0) return all;
    all.emplace_back(buffer.begin(), buffer.begin() + n);
  }
}

void Receiver::SendTo(USHORT port, const Bytes& datagram) const {
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(port);
  to.sin_addr.s_addr = inet_addr("127.0.0.1");
  sendto(socket_, reinterpret_cast<const char*>(datagram.data()), static_cast<int>(datagram.size()), 0,
         reinterpret_cast<const sockaddr*>(&to), sizeof to);
}

std::vector<ReceivedFrame> Reassemble(const std::vector<Bytes>& datagrams) {
  std::vector<ReceivedFrame> frames;
  for (const Bytes& d : datagrams) {
    if (d.size() < 12) continue;
    const size_t headerLength = 12 + 4 * (d[0] & 0x0F);
    if (d.size() < headerLength) continue;
    const Bytes header(d.begin(), d.begin() + static_cast<long>(headerLength));
    const std::uint16_t sequence = static_cast<std::uint16_t>(d[2] << 8 | d[3]);
    if (frames.empty() || frames.back().sequence != sequence) {
      ReceivedFrame f;
      f.header = header;
      f.sequence = sequence;
      f.timestamp = static_cast<std::uint32_t>(d[4]) << 24 | d[5] << 16 | d[6] << 8 | d[7];
      f.frameLength = static_cast<std::uint32_t>(d[8]) << 24 | d[9] << 16 | d[10] << 8 | d[11];
      f.marker = (d[1] & 0x80) != 0;
      frames.push_back(f);
    } else if (frames.back().header != header) {
      frames.back().headersAgree = false;
    }
    frames.back().data.insert(frames.back().data.end(), d.begin() + static_cast<long>(headerLength), d.end());
  }
  return frames;
}

bool HaveFfmpeg() {
  std::string out;
  return Run("ffmpeg -version", &out) == 0 && Run("ffprobe -version", &out) == 0;
}

std::vector<Bytes> DecodeWithFfmpeg(const std::vector<ReceivedFrame>& frames, int width, int height,
                                    const std::string& scratch, std::vector<std::string>* types) {
  const std::string stream = scratch + "/stream.m4v";
  const std::string raw = scratch + "/pictures.bgr";
  {
    std::ofstream out(stream, std::ios::binary);
    for (const ReceivedFrame& f : frames)
      out.write(reinterpret_cast<const char*>(f.data.data()), f.data.size());
  }
  std::string out;
  if (Run("ffmpeg -nostdin -v error -y -f m4v -i " + stream + " -f rawvideo -pix_fmt bgr24 " + raw, &out) !=
      0) {
    ADD_FAILURE() << out;
    return {};
  }
  if (types) {
    types->clear();
    Run("ffprobe -v error -f m4v -show_entries frame=pict_type -of csv=p=0 " + stream, &out);
    std::istringstream lines(out);
    for (std::string line; std::getline(lines, line);)
      if (!line.empty()) types->push_back(line.substr(0, 1));
  }
  std::ifstream in(raw, std::ios::binary);
  const Bytes all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const size_t size = static_cast<size_t>(width) * height * 3;
  std::vector<Bytes> pictures;
  for (size_t at = 0; at + size <= all.size(); at += size)
    pictures.emplace_back(all.begin() + static_cast<long>(at), all.begin() + static_cast<long>(at + size));
  return pictures;
}

}  // namespace sendtest
