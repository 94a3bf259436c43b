// The load's traffic: senders that replay encoded frames as a sending control would cut them,
// each from its own socket and under its own name, and a sink that counts what reaches it.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/test_stream.h"

// The name sender `index` (0-based) puts into its headers: "load01", "load02", ...
std::string SenderName(int index);
// The sender index a datagram names in its header, or -1 for a datagram of no load sender.
int SenderIndexOf(const std::uint8_t* data, std::size_t length, int senders);

// A UDP socket bound to 127.0.0.1 at a port below 32768 (the control takes ports as signed
// 16-bit values), with a large receive queue; -1 when none could be bound.
int BindLoopbackSocket(std::uint16_t* port);

class LoadSenders {
 public:
  // `count` sockets, bound now so that their ports can be told to the control before sending.
  LoadSenders(int count, std::vector<test_stream::EncodedFrame> frames, int fps);
  ~LoadSenders();
  bool Ok() const { return ok_; }
  std::uint16_t Port(int index) const { return ports_[index]; }

  // One thread sends every sender's frames at `fps`, the senders spread over the frame period.
  void Start(std::uint16_t toPort);
  void Stop();
  // Sends sender `index`'s next frame now, from the caller's thread (not while started); false
  // when a datagram of it did not go out.
  bool SendNextFrame(int index, std::uint16_t toPort);

  std::uint64_t DatagramsSent() const { return datagrams_.load(); }
  std::uint64_t FramesSent(int index) const { return frames_sent_[index].load(); }
  std::uint64_t SendFailures() const { return failures_.load(); }

 private:
  void Run(std::uint16_t toPort);

  bool ok_ = true;
  int fps_;
  std::vector<test_stream::EncodedFrame> frames_;
  std::vector<int> sockets_;
  std::vector<std::uint16_t> ports_;
  std::vector<std::string> names_;
  std::vector<std::atomic<std::uint64_t>> frames_sent_;
  std::atomic<std::uint64_t> datagrams_{0};
  std::atomic<std::uint64_t> failures_{0};
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

// Counts the datagrams that arrive at one socket, per sender.
class LoadSink {
 public:
  explicit LoadSink(int senders);
  ~LoadSink();
  bool Ok() const { return socket_ >= 0; }
  std::uint16_t Port() const { return port_; }
  void Stop();

  std::uint64_t Datagrams(int index) const { return per_sender_[index].load(); }
  std::uint64_t Total() const;
  std::uint64_t Others() const { return others_.load(); }  // datagrams that name no sender

 private:
  void Run();

  int senders_;
  int socket_ = -1;
  std::uint16_t port_ = 0;
  std::vector<std::atomic<std::uint64_t>> per_sender_;
  std::atomic<std::uint64_t> others_{0};
  std::atomic<bool> stop_{false};
  std::thread thread_;
};
