// A quelvora-host process running a script, with its standard output read line by line.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

class HostProcess {
 public:
  // Starts quelvora-host (offscreen) with a script from tests/faults and its arguments.
  HostProcess(const std::string& script, const std::vector<std::string>& args);
  ~HostProcess();  // kills what is still running

  bool Started() const { return pid_ > 0; }
  // Reads output until a line satisfies `done` (it gets each line), the output ends or the
  // timeout passes; answers whether a line did.
  bool WaitForLine(const std::function<bool(const std::string&)>& done, int timeoutMs);
  // The last number printed after `word` ("sent 12" -> 12), or -1 when none was.
  long long Last(const std::string& word) const;
  bool Running();  // has not ended yet
  // SIGKILL, then waits: answers whether the process died of it (and not before).
  bool Kill();
  std::string Output() const { return output_; }

 private:
  void Absorb(const char* data, std::size_t n);
  void Drain();  // reads what the pipe holds now, without waiting

  pid_t pid_ = -1;
  int out_ = -1;
  bool ended_ = false;
  int status_ = 0;
  std::string partial_, output_;
  std::vector<std::string> lines_;
};

// Three loopback ports in a row, p, p + 1 and p + 2, free now and below 32768.
std::uint16_t FreePortTriple();
