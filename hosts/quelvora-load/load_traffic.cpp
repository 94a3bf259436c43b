#include "hosts/quelvora-load/load_traffic.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <random>

#include "net/video_packet.h"

namespace {

using Clock = std::chrono::steady_clock;

sockaddr_in Loopback(std::uint16_t port) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return a;
}

}  // namespace

std::string SenderName(int index) {
  char name[16];
  std::snprintf(name, sizeof name, "load%02d", index + 1);
  return name;
}

int SenderIndexOf(const std::uint8_t* data, std::size_t length, int senders) {
  const auto parsed = ParseDatagram(data, length);
  if (!parsed || parsed->csrcCount != kUserNameCsrcCount) return -1;
  const char* name = reinterpret_cast<const char*>(data + kVideoHeaderSize);
  if (std::strncmp(name, "load", 4) != 0) return -1;
  int n = 0;
  for (std::size_t i = 4; i < kUserNameFieldSize && name[i]; ++i) {
    if (name[i] < '0' || name[i] > '9' || n > senders) return -1;
    n = n * 10 + (name[i] - '0');
  }
  return n >= 1 && n <= senders ? n - 1 : -1;
}

int BindLoopbackSocket(std::uint16_t* port) {
  const int s = socket(AF_INET, SOCK_DGRAM, 0);
  if (s < 0) return -1;
  const int queue = 4 << 20;
  setsockopt(s, SOL_SOCKET, SO_RCVBUF, &queue, sizeof queue);
  std::minstd_rand pick(static_cast<unsigned>(Clock::now().time_since_epoch().count()) ^
                        static_cast<unsigned>(getpid()));
  for (int attempt = 0; attempt < 200; ++attempt) {
    const auto p = static_cast<std::uint16_t>(20000 + pick() % 12000);
    const sockaddr_in a = Loopback(p);
    if (bind(s, reinterpret_cast<const sockaddr*>(&a), sizeof a) == 0) {
      *port = p;
      return s;
    }
  }
  close(s);
  return -1;
}

LoadSenders::LoadSenders(int count, std::vector<test_stream::EncodedFrame> frames, int fps)
    : fps_(fps), frames_(std::move(frames)), frames_sent_(static_cast<std::size_t>(count)) {
  for (int i = 0; i < count; ++i) {
    std::uint16_t port = 0;
    const int s = BindLoopbackSocket(&port);
    if (s < 0) ok_ = false;
    sockets_.push_back(s);
    ports_.push_back(port);
    names_.push_back(SenderName(i));
  }
  if (frames_.empty()) ok_ = false;
}

LoadSenders::~LoadSenders() {
  Stop();
  for (int s : sockets_)
    if (s >= 0) close(s);
}

void LoadSenders::Start(std::uint16_t toPort) {
  stop_ = false;
  thread_ = std::thread([this, toPort] { Run(toPort); });
}

void LoadSenders::Stop() {
  stop_ = true;
  if (thread_.joinable()) thread_.join();
}

bool LoadSenders::SendNextFrame(int index, std::uint16_t toPort) {
  const sockaddr_in to = Loopback(toPort);
  // Each sender replays the stream from its own offset, so key frames do not all coincide.
  const std::uint64_t frameNo = frames_sent_[index].load();
  const auto& frame = frames_[(frameNo + static_cast<std::uint64_t>(index) * 7) % frames_.size()];
  const auto sequence = static_cast<std::uint16_t>(frameNo + 1);
  std::uint8_t header[kVideoHeaderSizeWithName];
  const std::size_t headerLength =
      WriteFragmentHeader(header, frame.bKeyFrame, sequence, sequence * 3600u,
                          static_cast<std::uint32_t>(frame.bytes.size()), names_[index].c_str());
  const std::size_t expected = (frame.bytes.size() + kMaxFragmentPayload - 1) / kMaxFragmentPayload;
  const std::size_t sent =
      SendFrameFragments(header, headerLength, frame.bytes.data(), frame.bytes.size(),
                         [&](const std::uint8_t* d, std::size_t len) {
                           if (sendto(sockets_[index], d, len, 0, reinterpret_cast<const sockaddr*>(&to),
                                      sizeof to) != static_cast<ssize_t>(len)) {
                             ++failures_;
                             return false;
                           }
                           ++datagrams_;
                           return true;
                         });
  ++frames_sent_[index];
  return sent == expected;
}

void LoadSenders::Run(std::uint16_t toPort) {
  const int n = static_cast<int>(sockets_.size());
  const auto period = std::chrono::microseconds(1000000 / fps_);
  std::vector<Clock::time_point> next(static_cast<std::size_t>(n));
  const Clock::time_point start = Clock::now();
  for (int i = 0; i < n; ++i) next[i] = start + period * i / n;
  while (!stop_.load()) {
    Clock::time_point soonest = Clock::time_point::max();
    for (int i = 0; i < n; ++i) {
      if (Clock::now() >= next[i]) {
        SendNextFrame(i, toPort);
        next[i] += period;
        if (next[i] + period < Clock::now()) next[i] = Clock::now();  // fell behind: no burst
      }
      soonest = std::min(soonest, next[i]);
    }
    std::this_thread::sleep_until(std::min(soonest, Clock::now() + std::chrono::milliseconds(20)));
  }
}

LoadSink::LoadSink(int senders) : senders_(senders), per_sender_(static_cast<std::size_t>(senders)) {
  socket_ = BindLoopbackSocket(&port_);
  if (socket_ < 0) return;
  timeval wait{0, 100000};  // so that Stop is seen
  setsockopt(socket_, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
  thread_ = std::thread([this] { Run(); });
}

LoadSink::~LoadSink() {
  Stop();
  if (socket_ >= 0) close(socket_);
}

void LoadSink::Stop() {
  stop_ = true;
  if (thread_.joinable()) thread_.join();
}

std::uint64_t LoadSink::Total() const {
  std::uint64_t total = 0;
  for (const auto& n : per_sender_) total += n.load();
  return total;
}

void LoadSink::Run() {
  std::vector<std::uint8_t> buffer(65536);
  while (!stop_.load()) {
    const ssize_t n = recv(socket_, buffer.data(), buffer.size(), 0);
    if (n <= 0) continue;
    const int index = SenderIndexOf(buffer.data(), static_cast<std::size_t>(n), senders_);
    if (index < 0)
      ++others_;
    else
      ++per_sender_[index];
  }
}
