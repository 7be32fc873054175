// The load client of bench/fleet_intake.sh: simulated agents reporting to
// quarrin-server. Each machine's report is 15 calls made one after another,
// each on a fresh connection as the agent makes them: one PutPCDetails, one
// PutPCDetails2 and 13 PutApplicationDetails. Machine m calls from the
// loopback address 127.1.0.0 + m, so that every machine is a client of its
// own to the server, as in a fleet.
//
//   fleet_load PORT FIRST COUNT SEED MODE
//     MODE  agents=N     N agents side by side, each taking the next machine
//                        when it is done with one (as fast as they can)
//           rate=R       machines started on a clock, R calls per second in
//                        all, each machine's calls one after another
//           stampede=N   N machines all at once (FIRST..FIRST+N-1), all
//                        from one thread; a machine whose call is refused
//                        gives its run up, as the agent does until its next
//                        run
//
// The same SEED gives the same reports (an unchanged day); another changes
// every application's version. Prints one line of key=value: calls, ok,
// refused (503), soap_faults (refused with a SOAP fault), failed (anything
// else), wall_s, calls_per_s, p50_ms and p99_ms of the calls served,
// refused_p50_ms, refused_p99_ms and refused_max_ms, and for a stampede
// whole_reports (machines whose 15 calls were all served), and the client's
// own CPU time, client_cpu_s. Latency runs from
// the moment the call was due (rate: its machine's start on the clock plus
// the calls before it), so a client that falls behind shows as latency.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/epoll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

constexpr char kGuid[] = "{7C3E5A10-4B2D-4E8F-9A61-0D5B3C2E1F48}";
constexpr const char* kApps[] = {"Access",     "Dispense", "EtherPeek", "Excel", "InternetExplorer",
                                 "Java",       "iTunes",   "Outlook",   "PowerPoint", "MSProject",
                                 "Word",       "CiscoVPN", "QuarrinSrvc"};
constexpr int kCallsPerMachine = 2 + static_cast<int>(std::size(kApps));

struct Property {
  const char* name;
  std::string value;
};

std::string Envelope(const char* operation, const char* parameter, const char* type,
                     const std::vector<Property>& properties) {
  std::string inner;
  for (const Property& p : properties) {
    inner += std::string("<") + p.name + ">" + p.value + "</" + p.name + ">";
  }
  return std::string("<E:Envelope xmlns:E=\"http://schemas.xmlsoap.org/soap/envelope/\"><E:Body>") +
         "<q:" + operation + " xmlns:q=\"urn:QuarrinIntf-IQuarrin\"><guid>" + kGuid + "</guid><" +
         parameter + " href=\"#1\"/></q:" + operation + "><t:" + type +
         " id=\"1\" xmlns:t=\"urn:QuarrinIntf\">" + inner + "</t:" + type +
         "></E:Body></E:Envelope>";
}

std::string Request(const char* operation, const std::string& body) {
  return std::string("POST /quarrin/quarrinws.dll/soap/IQuarrin HTTP/1.1\r\nHost: 127.0.0.1\r\n") +
         "Content-Type: text/xml; charset=utf-8\r\nSOAPAction: \"urn:QuarrinIntf-IQuarrin#" +
         operation + "\"\r\nContent-Length: " + std::to_string(body.size()) +
         "\r\nConnection: close\r\n\r\n" + body;
}

// The HTTP requests of one machine's report.
std::vector<std::string> CallsOf(long machine, int seed) {
  char name[16];
  std::snprintf(name, sizeof name, "LOAD%06ld", machine);
  std::vector<std::string> calls;
  calls.push_back(Request("PutPCDetails", Envelope("PutPCDetails", "PCDetails", "tPCDetails",
      {{"MachineName", name}, {"ProductName", "Windows 10 Pro"}, {"CPUSpeed", "3000"},
       {"TotCPU", "4"}, {"PhysicalMemory", "16384MB"},
       {"InstallDate", "2020-01-15T09:00:00.000Z"}})));
  calls.push_back(Request("PutPCDetails2", Envelope("PutPCDetails2", "PCDetails2", "tPCDetails2",
      {{"MachineName", name}, {"AquisitionDate", "2020-01-10T00:00:00.000Z"},
       {"SerialNo", std::string("S") + name}})));
  for (const char* app : kApps) {
    const std::string version = std::to_string(10 + seed) + "." + std::to_string(machine % 7) +
                                ".0." + std::to_string(machine % 13);
    calls.push_back(Request("PutApplicationDetails",
        Envelope("PutApplicationDetails", "ApplicationDetails", "tApplicationDetails",
                 {{"MachineName", name}, {"Application", app},
                  {"Path", std::string("C:\\Program Files\\") + app}, {"Version", version}})));
  }
  return calls;
}

enum class Outcome { kOk, kRefused, kRefusedFault, kFailed };

// What a whole reply (read until the server closed) says of its call.
Outcome Classify(const std::string& reply) {
  if (reply.compare(0, 12, "HTTP/1.1 200") == 0 && reply.find(">rcOK<") != std::string::npos) {
    return Outcome::kOk;
  }
  if (reply.compare(0, 12, "HTTP/1.1 503") == 0) {
    return reply.find("Fault>") != std::string::npos ? Outcome::kRefusedFault : Outcome::kRefused;
  }
  return Outcome::kFailed;
}

// A socket from the machine's own loopback address, connecting to the
// server; `nonblocking` leaves the connect under way.
int Connect(uint16_t port, long machine, bool nonblocking) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | (nonblocking ? SOCK_NONBLOCK : 0), 0);
  if (fd < 0) return -1;
  int one = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  setsockopt(fd, IPPROTO_IP, IP_BIND_ADDRESS_NO_PORT, &one, sizeof one);
  sockaddr_in from{};
  from.sin_family = AF_INET;
  from.sin_addr.s_addr = htonl((127u << 24) + (1u << 16) + static_cast<uint32_t>(machine));
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(port);
  to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (bind(fd, reinterpret_cast<sockaddr*>(&from), sizeof from) != 0 ||
      (connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0 &&
       !(nonblocking && errno == EINPROGRESS))) {
    close(fd);
    return -1;
  }
  return fd;
}

// One call from the machine's own loopback address; reads until the server
// closes.
Outcome Call(uint16_t port, long machine, const std::string& request) {
  const int fd = Connect(port, machine, false);
  if (fd < 0) return Outcome::kFailed;
  timeval limit{60, 0};
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
  if (send(fd, request.data(), request.size(), MSG_NOSIGNAL) !=
          static_cast<ssize_t>(request.size())) {
    close(fd);
    return Outcome::kFailed;
  }
  std::string reply;
  char buffer[8192];
  for (;;) {
    const ssize_t n = recv(fd, buffer, sizeof buffer, 0);
    if (n <= 0) break;
    reply.append(buffer, static_cast<size_t>(n));
  }
  close(fd);
  return Classify(reply);
}

struct Tally {
  std::mutex mu;
  std::vector<double> served_ms, refused_ms;
  // A stampede's served calls after each machine's first: those that come
  // once the crowd at the door has been answered.
  std::vector<double> later_served_ms;
  long faults = 0, failed = 0, whole = 0;

  void Add(Outcome o, double ms) {
    std::lock_guard lock(mu);
    if (o == Outcome::kOk) served_ms.push_back(ms);
    if (o == Outcome::kRefused || o == Outcome::kRefusedFault) refused_ms.push_back(ms);
    if (o == Outcome::kRefusedFault) ++faults;
    if (o == Outcome::kFailed) ++failed;
  }
};

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

// One machine's report, its first call due at `due`; a call that is not
// served does not stop the ones after it.
void Report(uint16_t port, long machine, int seed, Clock::time_point due, Tally& tally) {
  for (const std::string& request : CallsOf(machine, seed)) {
    const Outcome o = Call(port, machine, request);
    const Clock::time_point done = Clock::now();
    tally.Add(o, Ms(done - due));
    due = done;
  }
}

// The stampede's machines, all driven from one thread through epoll, so
// that thousands of agents cost the client little CPU of its own (a thread
// per agent would take the cores from the server it measures). Every
// machine connects at once; each call's time runs from its connect (the
// first) or from the end of the one before.
void Stampede(uint16_t port, long first, long machines, int seed, Tally& tally) {
  struct Agent {
    long machine = 0;
    std::vector<std::string> calls;
    size_t call = 0, sent = 0;
    int fd = -1;
    std::string reply;
    Clock::time_point due;
    bool whole = true;
  };
  std::vector<Agent> agents(static_cast<size_t>(machines));
  for (long i = 0; i < machines; ++i) {
    agents[i].machine = first + i;
    agents[i].calls = CallsOf(first + i, seed);
  }
  const int poller = epoll_create1(EPOLL_CLOEXEC);
  if (poller < 0) {
    std::perror("fleet_load: epoll_create1");
    std::exit(1);
  }
  long open = 0;
  // The agent's next call; false when it could not even start.
  auto begin = [&](size_t i) {
    Agent& a = agents[i];
    a.fd = Connect(port, a.machine, true);
    a.sent = 0;
    a.reply.clear();
    if (a.fd < 0) return false;
    epoll_event event{};
    event.events = EPOLLOUT;
    event.data.u64 = i;
    epoll_ctl(poller, EPOLL_CTL_ADD, a.fd, &event);
    ++open;
    return true;
  };
  // The call is over; the agent goes on to its next one unless it was
  // refused or failed (then it gives up until its next run, as the agent).
  auto finish = [&](size_t i, Outcome o) {
    Agent& a = agents[i];
    close(a.fd);
    a.fd = -1;
    --open;
    const Clock::time_point done = Clock::now();
    tally.Add(o, Ms(done - a.due));
    if (o == Outcome::kOk && a.call > 0) {
      std::lock_guard lock(tally.mu);
      tally.later_served_ms.push_back(Ms(done - a.due));
    }
    a.due = done;
    if (o != Outcome::kOk) a.whole = false;
    for (;;) {
      if (!a.whole || ++a.call == a.calls.size()) {
        if (a.whole) {
          std::lock_guard lock(tally.mu);
          ++tally.whole;
        }
        return;
      }
      if (begin(i)) return;
      tally.Add(Outcome::kFailed, 0);
      a.whole = false;
    }
  };
  std::vector<epoll_event> events(1024);
  char buffer[8192];
  // Serves what is ready, waiting up to `wait_ms` for the first of it.
  auto step = [&](int wait_ms) {
    const int n = epoll_wait(poller, events.data(), static_cast<int>(events.size()), wait_ms);
    for (int e = 0; e < n; ++e) {
      const size_t i = events[e].data.u64;
      Agent& a = agents[i];
      if (a.fd < 0) continue;
      const std::string& request = a.calls[a.call];
      if (a.sent < request.size()) {
        const ssize_t w = send(a.fd, request.data() + a.sent, request.size() - a.sent, MSG_NOSIGNAL);
        if (w < 0 && errno != EAGAIN) {
          finish(i, Outcome::kFailed);
          continue;
        }
        if (w > 0) a.sent += static_cast<size_t>(w);
        if (a.sent == request.size()) {
          epoll_event event{};
          event.events = EPOLLIN;
          event.data.u64 = i;
          epoll_ctl(poller, EPOLL_CTL_MOD, a.fd, &event);
        }
        continue;
      }
      for (;;) {
        const ssize_t r = recv(a.fd, buffer, sizeof buffer, 0);
        if (r > 0) {
          a.reply.append(buffer, static_cast<size_t>(r));
          continue;
        }
        if (r < 0 && errno == EAGAIN) break;
        // The server closed (or reset) the connection: the reply is whole.
        finish(i, r == 0 ? Classify(a.reply) : Outcome::kFailed);
        break;
      }
    }
  };
  // Opening thousands of connections takes the client a few hundred
  // milliseconds; what is ready meanwhile is served between every few, so
  // that a quick answer is not counted as slow because the client was busy.
  for (size_t i = 0; i < agents.size(); ++i) {
    agents[i].due = Clock::now();
    if (!begin(i)) {
      tally.Add(Outcome::kFailed, 0);
      agents[i].whole = false;
    }
    if (i % 16 == 15) step(0);
  }
  const Clock::time_point give_up = Clock::now() + std::chrono::seconds(120);
  while (open > 0 && Clock::now() < give_up) step(1000);
  for (Agent& a : agents) {
    if (a.fd >= 0) {
      close(a.fd);
      tally.Add(Outcome::kFailed, Ms(Clock::now() - a.due));
    }
  }
  close(poller);
}

double Percentile(std::vector<double>& v, double p) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  return v[std::min(v.size() - 1, static_cast<size_t>(p * static_cast<double>(v.size())))];
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 6) {
    std::fprintf(stderr, "usage: %s PORT FIRST COUNT SEED agents=N|rate=R|stampede=N\n", argv[0]);
    return 2;
  }
  const auto port = static_cast<uint16_t>(std::atoi(argv[1]));
  const long first = std::atol(argv[2]);
  const long count = std::atol(argv[3]);
  const int seed = std::atoi(argv[4]);
  const std::string mode = argv[5];
  const size_t eq = mode.find('=');
  const std::string kind = mode.substr(0, eq);
  const double amount = eq == std::string::npos ? 0 : std::atof(mode.c_str() + eq + 1);
  if (count <= 0 || first < 0 || first + count > (1L << 16) * 250 || amount <= 0 ||
      (kind != "agents" && kind != "rate" && kind != "stampede")) {
    std::fprintf(stderr, "fleet_load: bad arguments (see the usage)\n");
    return 2;
  }

  Tally tally;
  std::atomic<long> next{first};
  std::vector<std::thread> threads;
  Clock::time_point start = Clock::now() + std::chrono::milliseconds(50);
  if (kind == "agents") {
    for (int a = 0; a < static_cast<int>(amount); ++a) {
      threads.emplace_back([&] {
        std::this_thread::sleep_until(start);
        for (long m = next++; m < first + count; m = next++) {
          Report(port, m, seed, Clock::now(), tally);
        }
      });
    }
  } else if (kind == "rate") {
    // Machine i starts at start + i * 15 / R; enough threads that a slow
    // call never holds the clock up.
    const auto gap = std::chrono::duration<double>(kCallsPerMachine / amount);
    const int workers = std::max(16, static_cast<int>(amount / 10));
    for (int w = 0; w < workers; ++w) {
      threads.emplace_back([&] {
        for (long m = next++; m < first + count; m = next++) {
          const Clock::time_point due =
              start + std::chrono::duration_cast<Clock::duration>(gap * (m - first));
          std::this_thread::sleep_until(due);
          Report(port, m, seed, due, tally);
        }
      });
    }
  } else {
    start = Clock::now();
    threads.emplace_back([&] {
      Stampede(port, first, std::min(count, static_cast<long>(amount)), seed, tally);
    });
  }
  // A long run says how far it has come every minute, on standard error.
  std::mutex progress_mu;
  std::condition_variable finished;
  bool done = false;
  std::thread progress([&] {
    std::unique_lock lock(progress_mu);
    for (int minute = 1; !finished.wait_until(lock, start + std::chrono::minutes(minute),
                                              [&] { return done; });
         ++minute) {
      std::lock_guard tally_lock(tally.mu);
      std::fprintf(stderr, "fleet_load: %zu calls served, %zu refused after %d min\n",
                   tally.served_ms.size(), tally.refused_ms.size(), minute);
    }
  });
  for (std::thread& t : threads) t.join();
  {
    std::lock_guard lock(progress_mu);
    done = true;
  }
  finished.notify_all();
  const double wall = std::chrono::duration<double>(Clock::now() - start).count();

  progress.join();
  const long served = static_cast<long>(tally.served_ms.size());
  const long refused = static_cast<long>(tally.refused_ms.size());
  const long calls = served + refused + tally.failed;
  std::printf(
      "calls=%ld ok=%ld refused=%ld soap_faults=%ld failed=%ld wall_s=%.2f calls_per_s=%.0f"
      " p50_ms=%.1f p99_ms=%.1f refused_p50_ms=%.1f refused_p99_ms=%.1f refused_max_ms=%.1f",
      calls, served, refused, tally.faults, tally.failed, wall, calls / wall,
      Percentile(tally.served_ms, 0.50), Percentile(tally.served_ms, 0.99),
      Percentile(tally.refused_ms, 0.50), Percentile(tally.refused_ms, 0.99),
      Percentile(tally.refused_ms, 1.0));
  if (kind == "stampede") {
    std::printf(" whole_reports=%ld later_p50_ms=%.1f later_p99_ms=%.1f", tally.whole,
                Percentile(tally.later_served_ms, 0.50), Percentile(tally.later_served_ms, 0.99));
  }
  rusage used{};
  getrusage(RUSAGE_SELF, &used);
  std::printf(" client_cpu_s=%.2f", static_cast<double>(used.ru_utime.tv_sec + used.ru_stime.tv_sec) +
                                        (used.ru_utime.tv_usec + used.ru_stime.tv_usec) / 1e6);
  std::printf("\n");
  return 0;
}
