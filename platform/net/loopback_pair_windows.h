// Two connected sockets of this process: what socketpair gives on Linux,
// which Winsock lacks.
#ifndef QUARRIN_PLATFORM_NET_LOOPBACK_PAIR_WINDOWS_H_
#define QUARRIN_PLATFORM_NET_LOOPBACK_PAIR_WINDOWS_H_

#include <string>

#include "platform/net/tcp_socket.h"

namespace quarrin {

// A loopback connection of this process with itself: *first connected to
// *second, both non-blocking and not inherited by child processes. False
// with the reason in *error. A connection of another program that comes to
// the short-lived listener first is turned away.
bool OpenLoopbackPair(TcpSocket* first, TcpSocket* second, std::string* error);

}  // namespace quarrin

#endif  // QUARRIN_PLATFORM_NET_LOOPBACK_PAIR_WINDOWS_H_
