// The test support that needs POSIX: ports and child processes.
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <stdexcept>

#include "platform/process.h"
#include "tests/test_support.h"

namespace quarrin::testing {

uint16_t FreePort() {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) throw std::runtime_error("socket failed");
  sockaddr_in address{};
  address.sin_family = AF_INET;
  socklen_t length = sizeof address;
  const bool bound = bind(fd, reinterpret_cast<sockaddr*>(&address), length) == 0 &&
                     getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0;
  close(fd);
  if (!bound) throw std::runtime_error("no free port");
  return ntohs(address.sin_port);
}

CommandResult RunCommand(const std::vector<std::string>& argv, const std::vector<std::string>& env,
                         const std::string& input) {
  ProcessResult r = RunProcess(argv, env, input);
  return {r.exit_status, std::move(r.out), std::move(r.err)};
}

}  // namespace quarrin::testing
