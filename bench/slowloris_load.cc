// The load of bench/slowloris.sh: a slowloris attacker and an ordinary
// client at once, on loopback.
//
//   slowloris_load PORT [--attacker ADDR] [--connections N] [--interval-ms MS]
//                       [--client ADDR] [--requests N] [--pause-ms MS] [--warm-up-ms MS]
//
// The attacker (default 127.0.0.2, 1,000 connections) opens its connections
// from one address, sends the start of a request head on each and then one
// more header line on each every interval, never ending the head; whatever
// the server closes it opens again in the next round, so it always tries to
// hold all of them. After the warm-up the client (default 127.0.0.1) sends
// sequential GET / requests, a fresh connection for each, a pause between
// them, and times each until the reply has arrived whole. Prints one line:
//   requests=N ok=N p50_us=X p99_us=X max_us=X attacker_open_min=N
//   attacker_open_max=N attacker_opened=N attacker_503=N attacker_408=N
// (attacker_open_* are the connections the attacker held at the start of its
// rounds, after the warm-up). Exits 1 when a request failed.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

struct Settings {
  uint16_t port = 0;
  std::string attacker = "127.0.0.2";
  int connections = 1000;
  int interval_ms = 1000;
  std::string client = "127.0.0.1";
  int requests = 1000;
  int pause_ms = 10;
  int warm_up_ms = 3000;
};

// A non-blocking connection from `from`; -1 when it cannot be made.
int Connect(const Settings& s, const std::string& from, bool blocking) {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | (blocking ? 0 : SOCK_NONBLOCK), 0);
  if (fd < 0) return -1;
  int one = 1;
  // The port is chosen at connect, for the whole address pair, so that the
  // attacker's churn does not run out of ports.
  setsockopt(fd, IPPROTO_IP, IP_BIND_ADDRESS_NO_PORT, &one, sizeof one);
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  sockaddr_in local{};
  local.sin_family = AF_INET;
  inet_pton(AF_INET, from.c_str(), &local.sin_addr);
  sockaddr_in server{};
  server.sin_family = AF_INET;
  server.sin_port = htons(s.port);
  server.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0 ||
      (connect(fd, reinterpret_cast<sockaddr*>(&server), sizeof server) != 0 &&
       errno != EINPROGRESS)) {
    close(fd);
    return -1;
  }
  return fd;
}

struct AttackerFigures {
  std::atomic<long> opened{0}, got_503{0}, got_408{0};
  std::atomic<int> open_min{1 << 30}, open_max{0};
};

// One of the attacker's connections.
struct Held {
  int fd = -1;
  bool started = false;  // the start of the head has been sent
};

// One round of the attacker: reads what the server sent on each connection
// (a refusal ends it), sends the next piece of the head on the others, and
// opens again what is closed.
void AttackerRound(const Settings& s, std::vector<Held>& held, AttackerFigures& f, bool count) {
  static const char kStart[] = "GET / HTTP/1.1\r\nHost: x\r\n";
  int open = 0;
  for (Held& h : held) {
    if (h.fd >= 0) {
      char buffer[512];
      const ssize_t n = recv(h.fd, buffer, sizeof buffer, MSG_DONTWAIT);
      if (n > 0) {
        const std::string head(buffer, static_cast<size_t>(n));
        if (head.compare(0, 12, "HTTP/1.1 503") == 0) ++f.got_503;
        if (head.compare(0, 12, "HTTP/1.1 408") == 0) ++f.got_408;
      }
      const bool alive = n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == ENOTCONN);
      if (alive) {
        const std::string_view piece = h.started ? "X-a: b\r\n" : kStart;
        const ssize_t sent = send(h.fd, piece.data(), piece.size(), MSG_NOSIGNAL);
        if (sent == static_cast<ssize_t>(piece.size())) {
          h.started = true;
        } else if (!(sent < 0 && (errno == EAGAIN || errno == ENOTCONN))) {
          close(h.fd);
          h.fd = -1;
        }
      } else {
        close(h.fd);
        h.fd = -1;
      }
    }
    if (h.fd >= 0) ++open;
  }
  if (count) {
    int seen = f.open_min.load();
    while (open < seen && !f.open_min.compare_exchange_weak(seen, open)) {
    }
    seen = f.open_max.load();
    while (open > seen && !f.open_max.compare_exchange_weak(seen, open)) {
    }
  }
  for (Held& h : held) {
    if (h.fd >= 0) continue;
    h.fd = Connect(s, s.attacker, false);
    h.started = false;
    if (h.fd < 0) continue;
    ++f.opened;
    // Sent at once when the connection is up already, else in the next round.
    pollfd p{h.fd, POLLOUT, 0};
    if (poll(&p, 1, 0) == 1 && (p.revents & POLLOUT) != 0 &&
        send(h.fd, kStart, sizeof kStart - 1, MSG_NOSIGNAL) == sizeof kStart - 1) {
      h.started = true;
    }
  }
}

// One GET / on a fresh connection; true when a whole 200 reply came.
bool Fetch(const Settings& s) {
  int fd = Connect(s, s.client, true);
  if (fd < 0) return false;
  timeval five{5, 0};
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &five, sizeof five);
  static const char kRequest[] = "GET / HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n";
  if (send(fd, kRequest, sizeof kRequest - 1, MSG_NOSIGNAL) != sizeof kRequest - 1) {
    close(fd);
    return false;
  }
  std::string reply;
  char buffer[65536];
  for (;;) {
    ssize_t n = recv(fd, buffer, sizeof buffer, 0);
    if (n <= 0) break;
    reply.append(buffer, static_cast<size_t>(n));
  }
  close(fd);
  return reply.compare(0, 12, "HTTP/1.1 200") == 0;
}

bool ParseArguments(int argc, char** argv, Settings* s) {
  if (argc < 2) return false;
  s->port = static_cast<uint16_t>(std::atoi(argv[1]));
  for (int i = 2; i + 1 < argc; i += 2) {
    const std::string key = argv[i];
    const char* value = argv[i + 1];
    if (key == "--attacker") s->attacker = value;
    else if (key == "--connections") s->connections = std::atoi(value);
    else if (key == "--interval-ms") s->interval_ms = std::atoi(value);
    else if (key == "--client") s->client = value;
    else if (key == "--requests") s->requests = std::atoi(value);
    else if (key == "--pause-ms") s->pause_ms = std::atoi(value);
    else if (key == "--warm-up-ms") s->warm_up_ms = std::atoi(value);
    else return false;
  }
  return s->port != 0 && (argc % 2) == 0;
}

}  // namespace

int main(int argc, char** argv) {
  Settings s;
  if (!ParseArguments(argc, argv, &s)) {
    std::fprintf(stderr,
                 "usage: %s PORT [--attacker ADDR] [--connections N] [--interval-ms MS] "
                 "[--client ADDR] [--requests N] [--pause-ms MS] [--warm-up-ms MS]\n",
                 argv[0]);
    return 2;
  }
  rlimit files{};
  getrlimit(RLIMIT_NOFILE, &files);
  files.rlim_cur = files.rlim_max;
  setrlimit(RLIMIT_NOFILE, &files);

  AttackerFigures figures;
  std::atomic<bool> stop{false};
  std::atomic<bool> measuring{false};
  std::thread attacker([&] {
    std::vector<Held> held(static_cast<size_t>(s.connections));
    while (!stop) {
      const Clock::time_point round = Clock::now();
      AttackerRound(s, held, figures, measuring);
      std::this_thread::sleep_until(round + std::chrono::milliseconds(s.interval_ms));
    }
    for (const Held& h : held) {
      if (h.fd >= 0) close(h.fd);
    }
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(s.warm_up_ms));
  measuring = true;

  std::vector<double> micros;
  long ok = 0;
  for (int i = 0; i < s.requests; ++i) {
    const Clock::time_point t0 = Clock::now();
    ok += Fetch(s);
    micros.push_back(std::chrono::duration<double, std::micro>(Clock::now() - t0).count());
    std::this_thread::sleep_for(std::chrono::milliseconds(s.pause_ms));
  }
  stop = true;
  attacker.join();

  std::sort(micros.begin(), micros.end());
  auto percentile = [&](double p) {
    return micros.empty() ? 0.0
                          : micros[std::min(micros.size() - 1, static_cast<size_t>(p * micros.size()))];
  };
  std::printf(
      "requests=%d ok=%ld p50_us=%.1f p99_us=%.1f max_us=%.1f attacker_open_min=%d "
      "attacker_open_max=%d attacker_opened=%ld attacker_503=%ld attacker_408=%ld\n",
      s.requests, ok, percentile(0.50), percentile(0.99), micros.empty() ? 0.0 : micros.back(),
      figures.open_min.load(), figures.open_max.load(), figures.opened.load(),
      figures.got_503.load(), figures.got_408.load());
  return ok == s.requests ? 0 : 1;
}
