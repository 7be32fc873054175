// Winsock for the process, and its errors.
#ifndef QUARRIN_PLATFORM_NET_WINSOCK_START_WINDOWS_H_
#define QUARRIN_PLATFORM_NET_WINSOCK_START_WINDOWS_H_

#include "platform/net/socket_error.h"

namespace quarrin {

// Starts Winsock 2.2 once for the process; later calls return at once. It is
// never cleaned up: the process's end does that, and a cleanup any earlier
// would pull the sockets from under threads still using them. Throws
// SocketError when Winsock cannot start. Safe for concurrent use.
void StartWinsock();

// The Winsock error `code` with the system's text for it.
SocketError WinsockError(int code);
// The error of the calling thread's last failed socket call.
SocketError LastWinsockError();

}  // namespace quarrin

#endif  // QUARRIN_PLATFORM_NET_WINSOCK_START_WINDOWS_H_
