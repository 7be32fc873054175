#include "platform/net/http_client.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <mutex>
#include <string>
#include <thread>

#include "platform/files/file_io.h"
#include "platform/net/http_wire_linux.h"

// The transfer helper (curl_helper_main_linux.cc with libcurl), embedded at build
// time.
extern "C" const unsigned char quarrin_curl_helper_begin[];
extern "C" const unsigned char quarrin_curl_helper_end[];

extern char** environ;

namespace quarrin {

namespace {

// libcurl and what it brings (GnuTLS, libssh2 with OpenSSL's libcrypto,
// Kerberos, LDAP, nghttp2, ...) would be a third of an idle agent's memory,
// and libcrypto cannot be unloaded once loaded; the agent makes an exchange
// a few times a day. So every exchange runs in a helper process of its own,
// started from a copy of the helper that the program carries. A cancelled
// exchange ends with the helper, whatever it was waiting for (a name lookup
// included), and a reply that upsets libcurl upsets only the helper.

// How long after its own total time-out a helper that has not answered is
// ended: its start and its report of the time-out fit well inside.
constexpr std::chrono::seconds kHelperGrace{5};
// A helper that has closed its side is given this long to end on its own.
constexpr std::chrono::seconds kHelperExitWait{2};
constexpr int kPollMillis = 100;

HttpError TransportError(const std::string& what) {
  return HttpError(HttpError::Kind::kTransport, what);
}

// The helper as a file that can be run: an in-memory copy, open read-only
// (a file open for writing cannot be run) for the life of the process.
int HelperProgram() {
  static std::mutex mutex;
  static int program = -1;
  std::lock_guard lock(mutex);
  if (program >= 0) return program;
  const int fd = memfd_create("quarrin-http", MFD_CLOEXEC);
  if (fd < 0) throw TransportError(ErrnoMessage("HTTP transfer helper: memfd_create", errno));
  const auto size = static_cast<size_t>(quarrin_curl_helper_end - quarrin_curl_helper_begin);
  if (const int failed = WriteAll(fd, quarrin_curl_helper_begin, size); failed != 0) {
    close(fd);
    throw TransportError(ErrnoMessage("HTTP transfer helper: writing its copy", failed));
  }
  const int read_only = open(("/proc/self/fd/" + std::to_string(fd)).c_str(), O_RDONLY | O_CLOEXEC);
  const int open_error = errno;
  close(fd);
  if (read_only < 0) {
    throw TransportError(ErrnoMessage("HTTP transfer helper: opening its copy", open_error));
  }
  program = read_only;
  return program;
}

// A started helper; ended and reaped when this goes.
class Helper {
 public:
  // Starts the helper with `socket` as its standard input.
  explicit Helper(int socket) {
    const std::string path = "/proc/self/fd/" + std::to_string(HelperProgram());
    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, socket, STDIN_FILENO);
    posix_spawnattr_init(&attributes);
    sigset_t none, defaults;
    sigemptyset(&none);
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    sigaddset(&defaults, SIGTERM);
    sigaddset(&defaults, SIGINT);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    char name[] = "quarrin-http";
    char* argv[] = {name, nullptr};
    const int failed = posix_spawn(&pid_, path.c_str(), &actions, &attributes, argv, environ);
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    if (failed != 0) {
      pid_ = -1;
      throw TransportError(ErrnoMessage("HTTP transfer helper: starting it", failed));
    }
  }
  ~Helper() { End(std::chrono::seconds(0)); }
  Helper(const Helper&) = delete;
  Helper& operator=(const Helper&) = delete;

  // Waits up to `grace` for the helper to end by itself, then ends it.
  void End(std::chrono::milliseconds grace) {
    if (pid_ < 0) return;
    const auto until = std::chrono::steady_clock::now() + grace;
    for (;;) {
      const pid_t done = waitpid(pid_, nullptr, WNOHANG);
      if (done == pid_ || (done < 0 && errno != EINTR)) break;
      if (done == 0 && std::chrono::steady_clock::now() >= until) {
        kill(pid_, SIGKILL);
        while (waitpid(pid_, nullptr, 0) < 0 && errno == EINTR) {
        }
        break;
      }
      if (done == 0) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    pid_ = -1;
  }

 private:
  pid_t pid_ = -1;
};

class Socket {
 public:
  explicit Socket(int fd = -1) : fd_(fd) {}
  ~Socket() { Close(); }
  void Close() {
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
  }
  Socket(const Socket&) = delete;
  Socket& operator=(const Socket&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

class HelperCurlClient final : public HttpClient {
 public:
  HttpResponse Send(const HttpRequest& request) override {
    if (request.cancel != nullptr && request.cancel->IsSet()) throw CancelledHttpError(request);
    int ends[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0) {
      throw TransportError(ErrnoMessage("HTTP transfer helper: socketpair", errno));
    }
    Socket mine(ends[0]);
    Socket theirs(ends[1]);
    // Ours waits in poll, so that a cancel is seen; the helper's blocks.
    if (fcntl(mine.get(), F_SETFL, fcntl(mine.get(), F_GETFL) | O_NONBLOCK) != 0) {
      throw TransportError(ErrnoMessage("HTTP transfer helper: fcntl", errno));
    }
    Helper helper(theirs.get());
    // The helper's end is the helper's alone from here, so an end of file
    // on ours means that it has closed it or ended.
    theirs.Close();
    return DecodeHttpOutcome(Exchange(request, mine.get(), helper));
  }

 private:
  // Writes the request, reads the reply until the helper closes its side,
  // and has the helper gone before it returns or throws.
  static std::string Exchange(const HttpRequest& request, int socket, Helper& helper) {
    const std::string out = EncodeHttpRequest(request);
    size_t written = 0;
    bool writing = true;
    std::string in;
    // The body and a little around it; more is not a reply.
    const size_t in_limit = request.max_body_bytes + (1u << 20);
    const bool bounded = request.total_timeout.count() > 0;
    const auto deadline = std::chrono::steady_clock::now() + request.total_timeout + kHelperGrace;
    char buffer[65536];
    for (;;) {
      if (request.cancel != nullptr && request.cancel->IsSet()) throw CancelledHttpError(request);
      if (bounded && std::chrono::steady_clock::now() >= deadline) {
        throw HttpError(HttpError::Kind::kTimeout,
                        "Transfer of " + request.url + " did not finish in time");
      }
      pollfd polled{socket, static_cast<short>(POLLIN | (writing ? POLLOUT : 0)), 0};
      if (poll(&polled, 1, kPollMillis) < 0 && errno != EINTR) {
        throw TransportError(ErrnoMessage("HTTP transfer helper: poll", errno));
      }
      if (writing && (polled.revents & (POLLOUT | POLLERR | POLLHUP))) {
        const ssize_t n = send(socket, out.data() + written, out.size() - written, MSG_NOSIGNAL);
        if (n > 0) written += static_cast<size_t>(n);
        if ((n < 0 && errno != EAGAIN && errno != EINTR) || written == out.size()) {
          // Written, or the helper is gone: what it said, if anything, follows.
          shutdown(socket, SHUT_WR);
          writing = false;
        }
      }
      if (polled.revents & (POLLIN | POLLERR | POLLHUP)) {
        const ssize_t n = recv(socket, buffer, sizeof buffer, 0);
        if (n == 0) break;
        if (n < 0 && errno != EAGAIN && errno != EINTR) break;
        if (n > 0) {
          if (in.size() + static_cast<size_t>(n) > in_limit) {
            throw TransportError("The HTTP transfer helper's reply is too long");
          }
          in.append(buffer, static_cast<size_t>(n));
        }
      }
    }
    helper.End(kHelperExitWait);
    return in;
  }
};

}  // namespace

HttpClient& CurlHttpClient() {
  static HelperCurlClient client;
  return client;
}

HttpClient& SystemHttpClient() { return CurlHttpClient(); }

}  // namespace quarrin
