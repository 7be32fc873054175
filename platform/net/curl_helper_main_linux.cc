// quarrin-http: the transfer helper that the program carries inside itself
// and starts for each HTTP exchange (see http_client_linux.cc). It reads one
// encoded request from its standard input, a socket, until the other side
// has finished writing, makes the exchange with libcurl, writes the encoded
// response or error back on the same socket and ends.
#include <sys/prctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "platform/net/curl_transfer_linux.h"
#include "platform/net/http_wire_linux.h"

namespace {

// A request is its body and a few short fields; anything far beyond the
// largest body the program posts is not one.
constexpr size_t kMaxRequestBytes = 64u << 20;

bool ReadRequest(std::string* bytes) {
  char buffer[65536];
  for (;;) {
    const ssize_t n = read(STDIN_FILENO, buffer, sizeof buffer);
    if (n == 0) return true;
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (bytes->size() + static_cast<size_t>(n) > kMaxRequestBytes) return false;
    bytes->append(buffer, static_cast<size_t>(n));
  }
}

void WriteReply(const std::string& reply) {
  size_t sent = 0;
  while (sent < reply.size()) {
    const ssize_t n = send(STDIN_FILENO, reply.data() + sent, reply.size() - sent, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;  // the program has gone or given up
    sent += static_cast<size_t>(n);
  }
}

}  // namespace

int main() {
  using namespace quarrin;
  prctl(PR_SET_NAME, "quarrin-http");
  std::string bytes;
  if (!ReadRequest(&bytes)) return 2;
  const std::optional<HttpRequest> request = DecodeHttpRequest(bytes);
  if (!request) return 2;
  std::string reply;
  try {
    reply = EncodeHttpResponse(LibcurlClient().Send(*request));
  } catch (const HttpError& e) {
    reply = EncodeHttpError(e);
  } catch (const std::exception& e) {
    reply = EncodeHttpError(HttpError(HttpError::Kind::kTransport, e.what()));
  }
  WriteReply(reply);
  // Nothing is left to tidy that the end of the process does not: libcurl's
  // clean-up could wait for a name lookup still running.
  _exit(0);
}
