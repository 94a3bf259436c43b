// The fake video burst: header-only packets from the send socket to the send-side remote
// address, so that a peer in same-socket mode learns where to send its video.
#pragma once

#include "net/endpoint.h"
#include "net/shared_socket.h"
#include "net/video_packet.h"
#include "platform/winsock/winsock.h"

// Sends nPacketNum copies (none when 0 or negative) of the 12-byte fake video packet, built
// once from `fields`, from `s`; the destination is built afresh from `destination` before each
// send. Send failures are ignored. Returns how many datagrams went out whole.
int SendFakeVideoBurst(winsock::SOCKET s, const PacketFields& fields, SHORT nPacketNum,
                       const SharedEndpoint& destination);

// SendFakeVideo without its message box. Gets a socket: in same-socket mode a share of the
// shared socket (made on the receive-side local address when it has no holder); otherwise the
// open send socket, or one made on the send-side local address. Sends the burst and gives back
// what it took, so the use count and an open send socket are as before. `sockSend` is the
// control's send socket. An open one belongs to a running sender and is left as it is. One that
// is none becomes, in same-socket mode, a copy of the shared handle that the table keeps (and
// clears when the shared socket closes, at the end of the burst when it had no other holder);
// a socket made here for the burst is closed and `sockSend` stays none. FALSE when no socket
// could be had: the caller then shows "Create UDP Socket for send failed !!!" if the error dialog
// is on.
BOOL RunFakeVideo(winsock::SOCKET& sockSend, bool sameSocket, const ControlEndpoints& endpoints,
                  const PacketFields& fields, SHORT nPacketNum, SharedSocketTable& table);
