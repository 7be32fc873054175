// Launches a server command and reports how long it took to answer its
// first HTTP request: launch_probe PORT PATH -- COMMAND [ARGS...]
// Prints "<pid> <milliseconds>" and leaves the server running.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

namespace {

bool AnswerOnce(uint16_t port, const std::string& path) {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(port);
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bool ok = false;
  if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0) {
    std::string request = "GET " + path + " HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n";
    if (write(fd, request.data(), request.size()) == static_cast<ssize_t>(request.size())) {
      char buf[4096];
      std::string reply;
      ssize_t n;
      while ((n = read(fd, buf, sizeof buf)) > 0) reply.append(buf, static_cast<size_t>(n));
      ok = reply.rfind("HTTP/1.", 0) == 0;
    }
  }
  close(fd);
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 5 || std::strcmp(argv[3], "--") != 0) {
    std::fprintf(stderr, "usage: launch_probe PORT PATH -- COMMAND [ARGS...]\n");
    return 2;
  }
  auto port = static_cast<uint16_t>(std::atoi(argv[1]));
  std::string path = argv[2];
  auto start = std::chrono::steady_clock::now();
  pid_t pid = fork();
  if (pid == 0) {
    execvp(argv[4], argv + 4);
    _exit(127);
  }
  auto deadline = start + std::chrono::seconds(30);
  while (std::chrono::steady_clock::now() < deadline) {
    if (AnswerOnce(port, path)) {
      double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                      .count();
      std::printf("%d %.2f\n", static_cast<int>(pid), ms);
      return 0;
    }
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
  std::printf("%d -1\n", static_cast<int>(pid));
  return 1;
}
