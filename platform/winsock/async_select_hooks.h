// Between the socket calls and WSAAsyncSelect, inside the stand-in only.
#pragma once

#include "platform/winsock/winsock.h"

namespace winsock::detail {

// The descriptor of an open socket, or -1 with the error of a socket call set.
int DescriptorOf(SOCKET s);

// Ends every WSAAsyncSelect request for a socket being closed. Cheap when there is none, from
// any thread; a socket with requests is closed on the UI thread, where they were made.
void CancelAsyncSelectOnClose(SOCKET s);

}  // namespace winsock::detail
