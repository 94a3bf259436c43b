#include "tests/faults/host_process.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <random>

namespace {

using Clock = std::chrono::steady_clock;

int MillisLeft(Clock::time_point deadline) {
  return static_cast<int>(std::max<long long>(
      0, std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count()));
}

}  // namespace

HostProcess::HostProcess(const std::string& script, const std::vector<std::string>& args) {
  int fds[2];
  if (pipe(fds) != 0) return;
  const std::string hostPath = std::string(QV_BINARY_DIR) + "/hosts/quelvora-host/quelvora-host";
  const std::string scriptPath = std::string(QV_SOURCE_DIR) + "/tests/faults/" + script;
  std::vector<std::string> argv = {hostPath, "--offscreen", scriptPath};
  argv.insert(argv.end(), args.begin(), args.end());
  pid_ = fork();
  if (pid_ == 0) {
    dup2(fds[1], STDOUT_FILENO);
    close(fds[0]);
    close(fds[1]);
    std::vector<char*> raw;
    for (auto& a : argv) raw.push_back(a.data());
    raw.push_back(nullptr);
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    setenv("QUELVORA_CAPTURE", "test", 1);  // the peers send the test camera
    execv(raw[0], raw.data());
    _exit(127);
  }
  close(fds[1]);
  out_ = fds[0];
  fcntl(out_, F_SETFL, O_NONBLOCK);
}

HostProcess::~HostProcess() {
  if (Running()) Kill();
  if (out_ >= 0) close(out_);
}

void HostProcess::Absorb(const char* data, std::size_t n) {
  output_.append(data, n);
  partial_.append(data, n);
  std::size_t at;
  while ((at = partial_.find('\n')) != std::string::npos) {
    lines_.push_back(partial_.substr(0, at));
    partial_.erase(0, at + 1);
  }
}

void HostProcess::Drain() {
  char buffer[4096];
  ssize_t n;
  while (out_ >= 0 && (n = read(out_, buffer, sizeof buffer)) != 0) {
    if (n < 0) return;  // nothing more for now
    Absorb(buffer, static_cast<std::size_t>(n));
  }
  if (out_ >= 0) {
    close(out_);
    out_ = -1;
  }
}

bool HostProcess::WaitForLine(const std::function<bool(const std::string&)>& done, int timeoutMs) {
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  std::size_t seen = 0;
  for (;;) {
    for (; seen < lines_.size(); ++seen)
      if (done(lines_[seen])) return true;
    if (out_ < 0 || Clock::now() >= deadline) return false;
    pollfd p{out_, POLLIN, 0};
    if (poll(&p, 1, std::min(MillisLeft(deadline), 200)) <= 0) continue;
    char buffer[4096];
    const ssize_t n = read(out_, buffer, sizeof buffer);
    if (n > 0) {
      Absorb(buffer, static_cast<std::size_t>(n));
    } else if (n == 0) {
      close(out_);
      out_ = -1;
    }
  }
}

long long HostProcess::Last(const std::string& word) const {
  for (auto it = lines_.rbegin(); it != lines_.rend(); ++it)
    if (it->rfind(word + " ", 0) == 0) return std::atoll(it->c_str() + word.size() + 1);
  return -1;
}

bool HostProcess::Running() {
  if (pid_ <= 0 || ended_) return false;
  if (waitpid(pid_, &status_, WNOHANG) == pid_) ended_ = true;
  return !ended_;
}

bool HostProcess::Kill() {
  if (!Running()) return false;
  kill(pid_, SIGKILL);
  waitpid(pid_, &status_, 0);
  ended_ = true;
  Drain();  // what it printed before dying is still in the pipe
  return WIFSIGNALED(status_) && WTERMSIG(status_) == SIGKILL;
}

std::uint16_t FreePortTriple() {
  std::minstd_rand pick(static_cast<unsigned>(Clock::now().time_since_epoch().count()) ^
                        static_cast<unsigned>(getpid()));
  for (int attempt = 0; attempt < 200; ++attempt) {
    const auto base = static_cast<std::uint16_t>(20000 + pick() % 12000);
    int sockets[3] = {-1, -1, -1};
    bool free = true;
    for (int i = 0; i < 3 && free; ++i) {
      sockets[i] = socket(AF_INET, SOCK_DGRAM, 0);
      sockaddr_in a{};
      a.sin_family = AF_INET;
      a.sin_port = htons(static_cast<std::uint16_t>(base + i));
      a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
      free = bind(sockets[i], reinterpret_cast<const sockaddr*>(&a), sizeof a) == 0;
    }
    for (int s : sockets)
      if (s >= 0) close(s);
    if (free) return base;
  }
  return 0;
}
