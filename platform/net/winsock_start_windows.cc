#include "platform/net/winsock_start_windows.h"

#include <winsock2.h>

#include "platform/text/wide_text_windows.h"

namespace quarrin {

namespace {

// 0, or the error of WSAStartup.
int Start() {
  WSADATA data;
  return WSAStartup(MAKEWORD(2, 2), &data);
}

}  // namespace

SocketError WinsockError(int code) {
  return SocketError(code, SystemErrorText(static_cast<uint32_t>(code)));
}

void StartWinsock() {
  static const int error = Start();
  if (error != 0) throw WinsockError(error);
}

SocketError LastWinsockError() { return WinsockError(WSAGetLastError()); }

}  // namespace quarrin
