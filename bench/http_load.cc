// The load client of bench/http_bench.sh: sequential GET requests on
// loopback, a fresh TCP connection for each, read until the server closes
// (or the announced Content-Length has arrived). Built by the script itself.
//
//   http_load PORT COUNT PATH [PATH...]
//   http_load --free-port      prints a loopback port that nothing listens on
//
// The paths are used in turn. Prints one line:
//   requests=N ok=N p50_us=X p99_us=X mean_us=X wall_s=X req_per_s=X
// "ok" counts the replies with status 200. Exits 1 when any request failed;
// the first few failures are described on stderr (path, and the reply's
// status line or what went wrong before it).
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

// One request; true when the status was 200. Otherwise `why` says what
// happened instead.
bool Fetch(uint16_t port, const std::string& request, std::string& why) {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    why = std::string("socket: ") + std::strerror(errno);
    return false;
  }
  int one = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      send(fd, request.data(), request.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(request.size())) {
    why = std::string("connect or send: ") + std::strerror(errno);
    close(fd);
    return false;
  }
  std::string reply;
  char buffer[65536];
  size_t header_end = std::string::npos;
  size_t wanted = std::string::npos;
  for (;;) {
    ssize_t n = recv(fd, buffer, sizeof buffer, 0);
    if (n < 0) why = std::string("recv: ") + std::strerror(errno);
    if (n <= 0) break;
    reply.append(buffer, static_cast<size_t>(n));
    if (header_end == std::string::npos) {
      header_end = reply.find("\r\n\r\n");
      if (header_end != std::string::npos) {
        std::string head = reply.substr(0, header_end);
        for (char& c : head) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        size_t at = head.find("\r\ncontent-length:");
        if (at != std::string::npos) wanted = header_end + 4 + std::strtoul(head.c_str() + at + 17, nullptr, 10);
      }
    }
    if (wanted != std::string::npos && reply.size() >= wanted) break;
  }
  close(fd);
  if (reply.compare(0, 12, "HTTP/1.1 200") == 0 || reply.compare(0, 12, "HTTP/1.0 200") == 0) return true;
  if (!reply.empty()) {
    why = "reply " + reply.substr(0, std::min(reply.find("\r\n"), size_t{80})) + " after " +
          std::to_string(reply.size()) + " bytes";
  } else if (why.empty()) {
    why = "closed without a reply";
  }
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && std::strcmp(argv[1], "--free-port") == 0) {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
      return 1;
    }
    std::printf("%u\n", ntohs(address.sin_port));
    close(fd);
    return 0;
  }
  if (argc < 4) {
    std::fprintf(stderr, "usage: %s PORT COUNT PATH [PATH...]\n", argv[0]);
    return 2;
  }
  const auto port = static_cast<uint16_t>(std::atoi(argv[1]));
  const long count = std::atol(argv[2]);
  std::vector<std::string> requests;
  for (int i = 3; i < argc; ++i) {
    requests.push_back(std::string("GET ") + argv[i] +
                       " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n");
  }
  std::vector<double> micros;
  micros.reserve(static_cast<size_t>(count));
  long ok = 0;
  const Clock::time_point start = Clock::now();
  for (long i = 0; i < count; ++i) {
    const Clock::time_point t0 = Clock::now();
    const std::string& request = requests[static_cast<size_t>(i) % requests.size()];
    std::string why;
    if (Fetch(port, request, why)) {
      ++ok;
    } else if (i - ok < 5) {
      std::fprintf(stderr, "http_load: %s: %s\n", request.substr(0, request.find(" HTTP/")).c_str(),
                   why.c_str());
    }
    micros.push_back(std::chrono::duration<double, std::micro>(Clock::now() - t0).count());
  }
  const double wall = std::chrono::duration<double>(Clock::now() - start).count();
  std::sort(micros.begin(), micros.end());
  auto percentile = [&](double p) {
    return micros.empty() ? 0.0 : micros[std::min(micros.size() - 1, static_cast<size_t>(p * micros.size()))];
  };
  double sum = 0;
  for (double m : micros) sum += m;
  std::printf("requests=%ld ok=%ld p50_us=%.1f p99_us=%.1f mean_us=%.1f wall_s=%.3f req_per_s=%.0f\n",
              count, ok, percentile(0.50), percentile(0.99), micros.empty() ? 0.0 : sum / micros.size(),
              wall, wall > 0 ? count / wall : 0.0);
  return ok == count ? 0 : 1;
}
