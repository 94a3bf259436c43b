// Asking a sender for a key frame, and answering such a request, each with its own limit.
//
// A receiver that waits for a key frame (it started showing or recording a sender, or lost a frame)
// asks that sender once at once, then again with a growing interval while the wait lasts, never
// while a key frame is already arriving and never a sender that has gone quiet. A sender makes at
// most one key frame per half second for requests. Neither side can be made to send more than it
// is sent: a request answers a datagram, and a key frame goes to the sender's usual destination.
//
// Times are milliseconds of a wrapping 32-bit clock (GetTickCount); the caller passes them in.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include <mutex>

#include "net/rate_allowance.h"
#include "platform/kernel/windef.h"

// The first repeat of a request comes this long after the first request; each one after doubles
// the interval up to the longest.
constexpr std::uint32_t kKeyFrameAskFirstRepeatMs = 250;
constexpr std::uint32_t kKeyFrameAskLongestRepeatMs = 2000;
// A key frame being put together is given this long before the request is repeated.
constexpr std::uint32_t kKeyFrameArrivingGraceMs = 150;
// A sender heard from longer ago than this is not asked any more; its entry is forgotten.
constexpr std::uint32_t kKeyFrameAskQuietMs = 2000;
// However many senders there are (or claim to be), one control makes at most this many requests a
// second, with a burst of as many.
constexpr std::uint32_t kKeyFrameAsksPerSecond = 32;
// The most requested key frames a sender makes: one per this interval.
constexpr std::uint32_t kKeyFrameAnswerIntervalMs = 500;

// True when `a` is at or after `b` on the wrapping clock.
inline bool TimeReached(std::uint32_t a, std::uint32_t b) { return static_cast<std::int32_t>(a - b) >= 0; }

// The asking side of one receiving control: the senders it waits for a key frame from.
// Each path waits on its own (the display, and each recording client by its ID), so that one
// path's key frame does not end another's wait; requests due for one sender at once go out once.
class KeyFrameRequester {
 public:
  static constexpr int kTargets = 32;
  static constexpr int kDisplayPath = 0;

  // A path that waits for a key frame read a datagram from the sender (address and port in host
  // byte order) at `nowMs`.
  void Waiting(ULONG ulAddress, USHORT usPort, int nPath, bool bKeyFrameArriving, std::uint32_t nowMs);
  // The path got its key frame: its wait is over.
  void Satisfied(ULONG ulAddress, USHORT usPort, int nPath);
  void Clear() { m_targets = {}; }

  // Calls send(address, port) once for every request that is due at `nowMs`.
  template <typename Send>
  void SendDue(std::uint32_t nowMs, Send&& send);

  // Requests made since the control was created, for hosts' figures.
  std::uint64_t Sent() const { return m_nSent; }

 private:
  struct Target {
    bool bUsed = false;
    ULONG ulAddress = 0;
    USHORT usPort = 0;
    int nPath = 0;
    std::uint32_t nextAskMs = 0;
    std::uint32_t repeatMs = 0;  // the interval after the next request
    std::uint32_t lastHeardMs = 0;
    std::uint32_t lastAskMs = 0;
    bool bAsked = false;
  };
  Target* Find(ULONG ulAddress, USHORT usPort, int nPath);
  // Whether a target before index `before` asked the same sender at `nowMs`.
  bool AskedAlready(const Target& target, std::size_t before, std::uint32_t nowMs) const;
  Target& Take(std::uint32_t nowMs);

  std::array<Target, kTargets> m_targets{};
  std::uint64_t m_nSent = 0;
  RateAllowance m_allowance{kKeyFrameAsksPerSecond, kKeyFrameAsksPerSecond};
};

template <typename Send>
void KeyFrameRequester::SendDue(std::uint32_t nowMs, Send&& send) {
  for (std::size_t i = 0; i < m_targets.size(); ++i) {
    Target& target = m_targets[i];
    if (!target.bUsed) continue;
    if (!TimeReached(target.lastHeardMs + kKeyFrameAskQuietMs, nowMs)) {
      target.bUsed = false;  // quiet: nobody to ask
      continue;
    }
    if (!TimeReached(nowMs, target.nextAskMs)) continue;
    if (!AskedAlready(target, i, nowMs)) {
      if (!m_allowance.Take(nowMs)) return;
      send(target.ulAddress, target.usPort);
      ++m_nSent;
    }
    target.bAsked = true;
    target.lastAskMs = nowMs;
    target.nextAskMs = nowMs + target.repeatMs;
    target.repeatMs = target.repeatMs * 2 > kKeyFrameAskLongestRepeatMs ? kKeyFrameAskLongestRepeatMs
                                                                         : target.repeatMs * 2;
  }
}

// The answering side of one sender: requests set a pending key frame, made at the next frame
// unless one was made for a request less than kKeyFrameAnswerIntervalMs ago.
class KeyFrameAnswerer {
 public:
  void Request() { m_bPending = true; }
  // Whether the next frame is to be a key frame for a request; taking it starts the interval.
  bool TakeDue(std::uint32_t nowMs);
  // The encoder made a key frame of its own accord: it answers whatever was pending.
  void KeyFrameSent() { m_bPending = false; }
  bool Pending() const { return m_bPending; }

 private:
  bool m_bPending = false;
  bool m_bAnswered = false;
  std::uint32_t m_lastAnsweredMs = 0;
};

// Whether a sender that sends to a destination takes a key-frame request from this source (every
// address and port in network byte order): from the address it sends to, or from anyone when it
// sends to a multicast group.
bool AnswersRequestFrom(ULONG ulDestination, USHORT usDestinationPort, ULONG ulAddress, USHORT usPort);

// Requests read on the shared socket of same-socket mode, by the receive loop of the control that
// receives on it, for whichever control of the process sends on it. The receive loop notes them
// (UI thread); each sender looks before a frame (streaming thread).
class SharedSocketRequests {
 public:
  // Address and port in network byte order.
  void Note(ULONG ulAddress, USHORT usPort);
  // A request noted since the one `*seen` counts: its source, and `*seen` moves on.
  bool TakeNew(std::uint32_t* seen, ULONG* ulAddress, USHORT* usPort);

 private:
  std::mutex m_lock;
  std::uint32_t m_nNoted = 0;
  ULONG m_ulAddress = 0;
  USHORT m_usPort = 0;
};

SharedSocketRequests& TheSharedSocketRequests();
