// A descriptor a grabbing thread waits on beside its device, so that another thread can end the
// wait at once: an eventfd that Wake makes readable until Clear.
#pragma once

#include <chrono>

class WakeFd {
 public:
  WakeFd();
  ~WakeFd();
  WakeFd(const WakeFd&) = delete;
  WakeFd& operator=(const WakeFd&) = delete;

  // False when the system gave no descriptor; nothing can wait on it then.
  bool Valid() const { return fd_ >= 0; }
  int Fd() const { return fd_; }
  // Any thread.
  void Wake() const;
  void Clear() const;
  // Waits until woken or the deadline passes; true when woken.
  bool WaitUntil(std::chrono::steady_clock::time_point deadline) const;

 private:
  int fd_;
};
