// What the self-update tests share: copies of the built agents placed as an
// installation would place them, a free port, and waiting for a condition.
#ifndef QUARRIN_UPDATE_UPDATE_TEST_SUPPORT_H_
#define QUARRIN_UPDATE_UPDATE_TEST_SUPPORT_H_

#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>

#include "tests/test_support.h"

namespace quarrin::testing {

// The agent as built, and the same agent one build higher.
inline std::string CurrentAgent() { return BuiltExecutable("QuarrinSrvc"); }
inline std::string NextAgent() { return BuiltExecutable("next/QuarrinSrvc"); }

// Copies an executable to `to` (creating its folder) with `mode`.
inline void PlaceExecutable(const std::string& from, const std::string& to, mode_t mode) {
  std::filesystem::create_directories(std::filesystem::path(to).parent_path());
  std::filesystem::copy_file(from, to, std::filesystem::copy_options::overwrite_existing);
  chmod(to.c_str(), mode);
}

// A TCP port on 127.0.0.1 that nothing listened on a moment ago.
inline uint16_t FreePort() {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof addr;
  bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
  getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
  close(fd);
  return ntohs(addr.sin_port);
}

// Polls `done` every 20 ms until it holds or `limit` has passed.
inline bool WaitFor(const std::function<bool()>& done, std::chrono::milliseconds limit) {
  auto end = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    if (std::chrono::steady_clock::now() >= end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}

}  // namespace quarrin::testing

#endif  // QUARRIN_UPDATE_UPDATE_TEST_SUPPORT_H_
