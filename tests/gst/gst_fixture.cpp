#include "tests/gst/gst_fixture.h"

#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>

namespace gsttest {

using namespace winsock;

void StartGStreamer() {
  static const bool started = [] {
    gst_init(nullptr, nullptr);
    GError* error = nullptr;
    GstPlugin* plugin = gst_plugin_load_file(QV_GST_PLUGIN, &error);
    if (plugin == nullptr) {
      ADD_FAILURE() << "cannot load " << QV_GST_PLUGIN << ": " << error->message;
      g_clear_error(&error);
      return false;
    }
    gst_object_unref(plugin);
    return true;
  }();
  ASSERT_TRUE(started);
}

LoopbackUdp::LoopbackUdp() {
  WSADATA data;
  WSAStartup(MAKEWORD(1, 1), &data);
  socket_ = socket(AF_INET, SOCK_DGRAM, 0);
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

LoopbackUdp::~LoopbackUdp() {
  closesocket(socket_);
  WSACleanup();
}

void LoopbackUdp::SendTo(USHORT port, const Bytes& datagram) const {
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(port);
  to.sin_addr.s_addr = inet_addr("127.0.0.1");
  sendto(socket_, reinterpret_cast<const char*>(datagram.data()), static_cast<int>(datagram.size()), 0,
         reinterpret_cast<const sockaddr*>(&to), sizeof to);
}

std::vector<LoopbackUdp::Datagram> LoopbackUdp::Drain(int quietMs) const {
  std::vector<Datagram> all;
  std::vector<char> buffer(65536);
  for (;;) {
    FD_SET readable;
    FD_ZERO(&readable);
    FD_SET(socket_, &readable);
    const timeval wait{quietMs / 1000, (quietMs % 1000) * 1000};
    if (select(0, &readable, nullptr, nullptr, &wait) != 1) return all;
    sockaddr_in from{};
    int fromLength = sizeof from;
    const int n = recvfrom(socket_, buffer.data(), static_cast<int>(buffer.size()), 0,
                           reinterpret_cast<sockaddr*>(&from), &fromLength);
    if (n < 0) return all;
    all.push_back({Bytes(buffer.begin(), buffer.begin() + n), ntohs(from.sin_port)});
  }
}

std::string TestFolder() {
  const char* base = std::getenv("QV_TEST_TMP");
  const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
  const std::string folder =
      std::string(base && *base ? base : "/tmp") + "/gst." + info->test_suite_name() + "." + info->name();
  std::filesystem::remove_all(folder);
  std::filesystem::create_directories(folder);
  return folder;
}

int CheckPictures(const std::string& file, int width, int height, bool bottomUp, double minPsnr,
                  std::string* summary) {
  const std::string command = std::string(QV_PICTURE_CHECK) + " " + file + " " + std::to_string(width) + " " +
                              std::to_string(height) + (bottomUp ? " bottom-up " : " top-down ") +
                              std::to_string(minPsnr);
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return -1;
  char line[512];
  summary->clear();
  while (std::fgets(line, sizeof line, pipe) != nullptr) summary->append(line);
  const int status = pclose(pipe);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

long PicturesIn(const std::string& file, int width, int height) {
  std::error_code error;
  const auto size = std::filesystem::file_size(file, error);
  return error ? 0 : static_cast<long>(size / (static_cast<std::uintmax_t>(width) * height * 3));
}

}  // namespace gsttest
