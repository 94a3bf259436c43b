#include "net/fake_video.h"

#include "net/udp_socket.h"

using namespace winsock;

int SendFakeVideoBurst(SOCKET s, const PacketFields& fields, SHORT nPacketNum,
                       const SharedEndpoint& destination) {
  std::uint8_t packet[kFakeVideoPacketSize];
  const int length = static_cast<int>(WriteFakeVideoPacket(packet, fields));
  int whole = 0;
  for (int i = 0; i < nPacketNum; ++i) {
    const sockaddr_in to = DestinationOf(destination.Load());
    if (sendto(s, reinterpret_cast<const char*>(packet), length, 0, reinterpret_cast<const sockaddr*>(&to),
               sizeof to) == length)
      ++whole;
  }
  return whole;
}

BOOL RunFakeVideo(SOCKET& sockSend, bool sameSocket, const ControlEndpoints& endpoints,
                  const PacketFields& fields, SHORT nPacketNum, SharedSocketTable& table) {
  if (sameSocket) {
    const SOCKET s = table.Acquire(endpoints.recvLocal);
    if (IsNoSocket(s)) return FALSE;
    // A send socket that is open belongs to a running sender (its own socket, or its share of
    // this one) and is never replaced under it.
    if (IsNoSocket(sockSend)) {
      sockSend = s;
      table.KeepCopy(&sockSend);
    }
    SendFakeVideoBurst(s, fields, nPacketNum, endpoints.sendRemote);
    table.Release();
    return TRUE;
  }

  if (!IsNoSocket(sockSend)) {  // video is being sent: borrow its socket
    SendFakeVideoBurst(sockSend, fields, nPacketNum, endpoints.sendRemote);
    return TRUE;
  }
  const SOCKET s = CreateUdpSocketOn(endpoints.sendLocal.Load());
  if (IsNoSocket(s)) return FALSE;
  SendFakeVideoBurst(s, fields, nPacketNum, endpoints.sendRemote);
  closesocket(s);  // sockSend was none and stays none
  return TRUE;
}
