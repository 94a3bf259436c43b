#include "net/key_frame_requests.h"

// Only the byte-order helpers, which are inline: nothing here calls the socket library.
#include "platform/winsock/winsock.h"

KeyFrameRequester::Target* KeyFrameRequester::Find(ULONG ulAddress, USHORT usPort, int nPath) {
  for (Target& target : m_targets) {
    if (target.bUsed && target.ulAddress == ulAddress && target.usPort == usPort && target.nPath == nPath)
      return &target;
  }
  return nullptr;
}

bool KeyFrameRequester::AskedAlready(const Target& target, std::size_t before, std::uint32_t nowMs) const {
  for (std::size_t i = 0; i < before; ++i) {
    const Target& other = m_targets[i];
    if (other.bUsed && other.bAsked && other.lastAskMs == nowMs && other.ulAddress == target.ulAddress &&
        other.usPort == target.usPort)
      return true;
  }
  return false;
}

KeyFrameRequester::Target& KeyFrameRequester::Take(std::uint32_t nowMs) {
  Target* quietest = &m_targets[0];
  for (Target& target : m_targets) {
    if (!target.bUsed) return target;
    if (nowMs - target.lastHeardMs > nowMs - quietest->lastHeardMs) quietest = &target;
  }
  return *quietest;  // all in use: the one heard from longest ago gives way
}

void KeyFrameRequester::Waiting(ULONG ulAddress, USHORT usPort, int nPath, bool bKeyFrameArriving,
                                std::uint32_t nowMs) {
  Target* target = Find(ulAddress, usPort, nPath);
  if (target == nullptr) {
    target = &Take(nowMs);
    *target = Target{};
    target->bUsed = true;
    target->ulAddress = ulAddress;
    target->usPort = usPort;
    target->nPath = nPath;
    target->nextAskMs = nowMs;
    target->repeatMs = kKeyFrameAskFirstRepeatMs;
  }
  target->lastHeardMs = nowMs;
  if (bKeyFrameArriving && !TimeReached(target->nextAskMs, nowMs + kKeyFrameArrivingGraceMs))
    target->nextAskMs = nowMs + kKeyFrameArrivingGraceMs;
}

void KeyFrameRequester::Satisfied(ULONG ulAddress, USHORT usPort, int nPath) {
  if (Target* target = Find(ulAddress, usPort, nPath)) target->bUsed = false;
}

bool KeyFrameAnswerer::TakeDue(std::uint32_t nowMs) {
  if (!m_bPending) return false;
  if (m_bAnswered && !TimeReached(nowMs, m_lastAnsweredMs + kKeyFrameAnswerIntervalMs)) return false;
  m_bPending = false;
  m_bAnswered = true;
  m_lastAnsweredMs = nowMs;
  return true;
}

bool AnswersRequestFrom(ULONG ulDestination, USHORT usDestinationPort, ULONG ulAddress, USHORT usPort) {
  if ((winsock::ntohl(ulDestination) & 0xF0000000u) == 0xE0000000u) return true;
  return ulDestination == ulAddress && usDestinationPort == usPort;
}

void SharedSocketRequests::Note(ULONG ulAddress, USHORT usPort) {
  std::lock_guard lock(m_lock);
  ++m_nNoted;
  m_ulAddress = ulAddress;
  m_usPort = usPort;
}

bool SharedSocketRequests::TakeNew(std::uint32_t* seen, ULONG* ulAddress, USHORT* usPort) {
  std::lock_guard lock(m_lock);
  if (*seen == m_nNoted) return false;
  *seen = m_nNoted;
  *ulAddress = m_ulAddress;
  *usPort = m_usPort;
  return true;
}

SharedSocketRequests& TheSharedSocketRequests() {
  static SharedSocketRequests requests;
  return requests;
}
