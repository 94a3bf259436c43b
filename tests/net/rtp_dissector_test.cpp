// Our datagrams read by a packet dissector nobody here wrote: the datagrams travel over
// loopback, the bytes received are written into a capture file, and tshark's RTP dissector
// reads them back.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "net/video_packet.h"
#include "tests/net/net_test_support.h"

namespace {

using namespace winsock;
using Bytes = std::vector<std::uint8_t>;

void Put16(Bytes& out, std::uint16_t v) {
  out.push_back(static_cast<std::uint8_t>(v >> 8));
  out.push_back(static_cast<std::uint8_t>(v));
}

void PutHost32(std::ofstream& file, std::uint32_t v) { file.write(reinterpret_cast<const char*>(&v), 4); }

// A pcap file of raw IPv4 packets (link type 101), one UDP datagram each.
void WriteCapture(const std::filesystem::path& path, const std::vector<Received>& datagrams, USHORT toPort) {
  std::ofstream file(path, std::ios::binary);
  PutHost32(file, 0xA1B2C3D4);
  const std::uint16_t version[2] = {2, 4};
  file.write(reinterpret_cast<const char*>(version), 4);
  PutHost32(file, 0);
  PutHost32(file, 0);
  PutHost32(file, 65535);
  PutHost32(file, 101);
  std::uint32_t second = 1;
  for (const Received& d : datagrams) {
    Bytes ip = {0x45, 0};
    Put16(ip, static_cast<std::uint16_t>(20 + 8 + d.bytes.size()));
    Put16(ip, 0);
    Put16(ip, 0);
    ip.push_back(64);
    ip.push_back(17);
    Put16(ip, 0);  // checksum below
    const std::uint8_t loopback[4] = {127, 0, 0, 1};
    ip.insert(ip.end(), loopback, loopback + 4);
    ip.insert(ip.end(), loopback, loopback + 4);
    std::uint32_t sum = 0;
    for (int i = 0; i < 20; i += 2) sum += (ip[i] << 8) | ip[i + 1];
    while (sum >> 16) sum = (sum & 0xFFFF) + (sum >> 16);
    ip[10] = static_cast<std::uint8_t>(~sum >> 8);
    ip[11] = static_cast<std::uint8_t>(~sum);
    Put16(ip, ntohs(d.from.sin_port));
    Put16(ip, toPort);
    Put16(ip, static_cast<std::uint16_t>(8 + d.bytes.size()));
    Put16(ip, 0);  // no UDP checksum
    ip.insert(ip.end(), d.bytes.begin(), d.bytes.end());
    PutHost32(file, second++);
    PutHost32(file, 0);
    PutHost32(file, static_cast<std::uint32_t>(ip.size()));
    PutHost32(file, static_cast<std::uint32_t>(ip.size()));
    file.write(reinterpret_cast<const char*>(ip.data()), static_cast<std::streamsize>(ip.size()));
  }
}

std::string Output(const std::string& command) {
  std::string out;
  if (FILE* pipe = popen(command.c_str(), "r")) {
    char buffer[4096];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
    pclose(pipe);
  }
  return out;
}

// The datagrams in a capture file, read by tshark as `protocol` on their port: the fields asked
// for, a line per datagram; empty when tshark could not run.
std::string Dissect(const std::vector<Received>& datagrams, USHORT port, const std::string& protocol,
                    const std::string& fields) {
  const char* tmp = std::getenv("QV_TEST_TMP");
  const std::filesystem::path dir = tmp ? tmp : std::filesystem::temp_directory_path().string();
  std::filesystem::create_directories(dir);
  const std::filesystem::path capture = dir / (protocol + "-" + std::to_string(getpid()) + ".pcap");
  WriteCapture(capture, datagrams, port);
  const std::string out = Output("tshark -r '" + capture.string() + "' -d udp.port==" + std::to_string(port) +
                                 "," + protocol + " -T fields " + fields + " 2>/dev/null");
  std::filesystem::remove(capture);
  return out;
}

using RtpDissectorTest = WinsockTest;

TEST_F(RtpDissectorTest, TsharkReadsOurHeadersAsRtp) {
  if (std::system("command -v tshark > /dev/null 2>&1") != 0) GTEST_SKIP() << "tshark is not installed";

  const SOCKET receiver = LoopbackSocket();
  const SOCKET sender = LoopbackSocket();
  const USHORT port = BoundPort(receiver);
  const ULONG to = inet_addr("127.0.0.1");
  auto send = [&](const std::uint8_t* d, std::size_t n) {
    return SendBytes(sender, Bytes(d, d + n), to, port) == static_cast<int>(n);
  };

  // A key frame of 1000 bytes with a user name, then a keep-alive and a fake video packet.
  const Bytes frame(1000, 0x5A);
  std::uint8_t packet[kVideoHeaderSizeWithName];
  const std::size_t h = WriteFragmentHeader(packet, true, 4660, 65536, 1000, "ab");
  ASSERT_EQ(SendFrameFragments(packet, h, frame.data(), frame.size(), send), 2u);
  ASSERT_TRUE(send(packet, WriteKeepAlivePacket(packet, "H.263", {4661, 66064, 7}, "")));
  ASSERT_TRUE(send(packet, WriteFakeVideoPacket(packet, {65535, 0xFFFFFFFF, 7})));
  const auto got = ReceiveAll(receiver);
  ASSERT_EQ(got.size(), 4u);
  closesocket(sender);
  closesocket(receiver);

  const std::string fields = Dissect(got, port, "rtp",
                                    "-e rtp.version -e rtp.marker -e rtp.p_type -e rtp.seq -e rtp.timestamp -e rtp.cc");
  if (fields.empty()) GTEST_SKIP() << "tshark could not run";

  std::istringstream lines(fields);
  std::vector<std::string> rows;
  for (std::string line; std::getline(lines, line);) rows.push_back(line);
  ASSERT_EQ(rows.size(), 4u) << fields;
  // tshark prints a set marker bit as 1 (older) or True (newer).
  auto row = [](const char* marker, const char* rest) { return std::string("2\t") + marker + "\t" + rest; };
  const bool numeric = rows[0].rfind("2\t1\t", 0) == 0;
  const char* set = numeric ? "1" : "True";
  EXPECT_EQ(rows[0], row(set, "33\t4660\t65536\t4"));
  EXPECT_EQ(rows[1], row(set, "33\t4660\t65536\t4"));
  EXPECT_EQ(rows[2], row(set, "34\t4661\t66064\t0"));
  EXPECT_EQ(rows[3], row(set, "33\t65535\t4294967295\t0"));
}

TEST_F(RtpDissectorTest, TsharkReadsTheKeyFrameRequestAsAPictureLossIndication) {
  if (std::system("command -v tshark > /dev/null 2>&1") != 0) GTEST_SKIP() << "tshark is not installed";
  const SOCKET receiver = LoopbackSocket();
  const SOCKET sender = LoopbackSocket();
  const USHORT port = BoundPort(receiver);
  std::uint8_t request[kKeyFrameRequestSize];
  WriteKeyFrameRequest(request, 0x01020304);
  ASSERT_EQ(SendBytes(sender, Bytes(request, request + sizeof request), inet_addr("127.0.0.1"), port), 12);
  const auto got = ReceiveAll(receiver);
  ASSERT_EQ(got.size(), 1u);
  closesocket(sender);
  closesocket(receiver);

  const std::string fields = Dissect(got, port, "rtcp",
                                    "-e rtcp.version -e rtcp.pt -e rtcp.psfb.fmt -e rtcp.length -e rtcp.senderssrc"
                                    " -e rtcp.mediassrc -e _ws.expert.message");
  if (fields.empty()) GTEST_SKIP() << "tshark could not run";
  // Version 2, payload-specific feedback, picture loss indication, two words, the requester's
  // identifier as its keep-alives carry it (bytes 04 03 02 01), no complaint from the dissector.
  EXPECT_EQ(fields, "2\t206\t1\t2\t0x04030201\t0x00000000\t\n");
}

}  // namespace
