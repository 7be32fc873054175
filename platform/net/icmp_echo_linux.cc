#include "platform/net/icmp_echo.h"

#include <netinet/in.h>
#include <netinet/ip.h>
#include <netinet/ip_icmp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <vector>

namespace quarrin {

namespace {

constexpr size_t kEchoHeaderBytes = 8;

class Socket {
 public:
  explicit Socket(int fd) : fd_(fd) {}
  ~Socket() {
    if (fd_ >= 0) close(fd_);
  }
  Socket(const Socket&) = delete;
  Socket& operator=(const Socket&) = delete;
  int fd() const { return fd_; }

 private:
  int fd_;
};

uint16_t Checksum(const unsigned char* data, size_t size) {
  uint32_t sum = 0;
  for (size_t i = 0; i + 1 < size; i += 2) sum += (uint32_t{data[i]} << 8) | data[i + 1];
  if (size % 2 != 0) sum += uint32_t{data[size - 1]} << 8;
  while (sum >> 16) sum = (sum & 0xFFFFu) + (sum >> 16);
  return static_cast<uint16_t>(~sum & 0xFFFFu);
}

uint16_t ReadBigEndian16(const unsigned char* p) {
  return static_cast<uint16_t>((p[0] << 8) | p[1]);
}

void WriteBigEndian16(unsigned char* p, uint16_t v) {
  p[0] = static_cast<unsigned char>(v >> 8);
  p[1] = static_cast<unsigned char>(v & 0xFFu);
}

// Sequence numbers shared by every echo of the process, so that two echoes
// in flight at once never take each other's reply.
uint16_t NextSequence() {
  static std::atomic<uint16_t> sequence{0};
  return ++sequence;
}

class LinuxIcmpEcho final : public IcmpEcho {
 public:
  bool Echo(uint32_t address, std::string_view payload, std::chrono::milliseconds timeout,
            std::string* reply_data) override;
};

bool LinuxIcmpEcho::Echo(uint32_t address, std::string_view payload,
                         std::chrono::milliseconds timeout, std::string* reply_data) {
  // A datagram socket needs no privilege where the system allows it; the
  // kernel then picks the identifier and hands back only our replies.
  bool raw = false;
  Socket socket_fd(socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_ICMP));
  Socket raw_fd(socket_fd.fd() < 0 ? socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP) : -1);
  int fd = socket_fd.fd();
  if (fd < 0) {
    fd = raw_fd.fd();
    raw = true;
  }
  if (fd < 0) return false;

  const uint16_t identifier = static_cast<uint16_t>(getpid() & 0xFFFF);
  const uint16_t sequence = NextSequence();
  std::vector<unsigned char> request(kEchoHeaderBytes + payload.size());
  request[0] = ICMP_ECHO;
  WriteBigEndian16(&request[4], identifier);
  WriteBigEndian16(&request[6], sequence);
  std::memcpy(request.data() + kEchoHeaderBytes, payload.data(), payload.size());
  WriteBigEndian16(&request[2], Checksum(request.data(), request.size()));

  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_addr.s_addr = address;
  if (sendto(fd, request.data(), request.size(), 0, reinterpret_cast<const sockaddr*>(&to),
             sizeof to) != static_cast<ssize_t>(request.size())) {
    return false;
  }

  const auto deadline = std::chrono::steady_clock::now() + timeout;
  std::vector<unsigned char> reply(65536);
  for (;;) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    pollfd p{fd, POLLIN, 0};
    int ready = poll(&p, 1, static_cast<int>(std::max<int64_t>(0, left.count())));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) return false;
    ssize_t n = recv(fd, reply.data(), reply.size(), 0);
    if (n < 0) {
      if (errno == EINTR || errno == EAGAIN) continue;
      return false;
    }
    size_t size = static_cast<size_t>(n);
    size_t at = 0;
    if (raw) {
      // A raw socket sees every ICMP message with its IP header, our own
      // echo request to the loopback address included.
      if (size < 1) continue;
      at = static_cast<size_t>(reply[0] & 0x0Fu) * 4;
    }
    if (size < at + kEchoHeaderBytes || reply[at] != ICMP_ECHOREPLY ||
        ReadBigEndian16(&reply[at + 6]) != sequence ||
        (raw && ReadBigEndian16(&reply[at + 4]) != identifier)) {
      continue;
    }
    if (reply_data != nullptr) {
      reply_data->assign(reinterpret_cast<const char*>(reply.data()) + at + kEchoHeaderBytes,
                         size - at - kEchoHeaderBytes);
    }
    return true;
  }
}

}  // namespace

IcmpEcho& SystemIcmpEcho() {
  static LinuxIcmpEcho echo;
  return echo;
}

}  // namespace quarrin
