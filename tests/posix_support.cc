// The test support that needs POSIX: ports and child processes.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <mutex>
#include <random>
#include <stdexcept>

#include "platform/process/process_linux.h"
#include "tests/http_test_server.h"
#include "tests/test_support.h"

namespace quarrin::testing {

namespace {

// Whether a listener can take the port on every IPv4 address.
bool Bindable(uint16_t port) {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) throw std::runtime_error("socket failed");
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  const bool bound = bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  close(fd);
  return bound;
}

}  // namespace

// A port below the range the system hands out for port 0 and for outgoing
// connections (32768 and up by default): a port taken from that range can be
// given to another test's client or server before the agent under test
// binds it, which then finds another program on "its" port.
uint16_t FreePort() {
  static std::mutex mutex;
  static std::mt19937 random(std::random_device{}());
  std::lock_guard lock(mutex);
  std::uniform_int_distribution<int> ports(10000, 32000);
  for (int attempt = 0; attempt < 1000; ++attempt) {
    const auto port = static_cast<uint16_t>(ports(random));
    if (Bindable(port)) return port;
  }
  throw std::runtime_error("no free port");
}

CommandResult RunCommand(const std::vector<std::string>& argv, const std::vector<std::string>& env,
                         const std::string& input) {
  ProcessResult r = RunProcess(argv, env, input);
  return {r.exit_status, std::move(r.out), std::move(r.err)};
}

RefusingPort::RefusingPort() {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
      getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    std::string error = std::strerror(errno);
    if (fd >= 0) close(fd);
    throw std::runtime_error("refusing port: " + error);
  }
  fd_ = fd;
  port_ = ntohs(address.sin_port);
}

RefusingPort::~RefusingPort() { close(static_cast<int>(fd_)); }

}  // namespace quarrin::testing
