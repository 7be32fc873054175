#include "platform/process/process_linux.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>

#include "platform/files/file_io.h"

extern char** environ;

namespace quarrin {
namespace {

std::vector<std::string> MergedEnvironment(const std::vector<std::string>& extra) {
  std::vector<std::string> env;
  for (char** e = environ; *e; ++e) env.emplace_back(*e);
  for (const auto& entry : extra) {
    std::string prefix = entry.substr(0, entry.find('=') + 1);
    std::erase_if(env, [&](const std::string& s) { return s.rfind(prefix, 0) == 0; });
    env.push_back(entry);
  }
  return env;
}

std::vector<char*> CStrings(std::vector<std::string>& strings) {
  std::vector<char*> out;
  for (auto& s : strings) out.push_back(s.data());
  out.push_back(nullptr);
  return out;
}

void Pump(int out_fd, int err_fd, int in_fd, const std::string& input, ProcessResult* r) {
  size_t written = 0;
  if (input.empty()) {
    close(in_fd);
    in_fd = -1;
  }
  char buf[16384];
  while (out_fd >= 0 || err_fd >= 0) {
    pollfd fds[3];
    nfds_t n = 0;
    if (out_fd >= 0) fds[n++] = {out_fd, POLLIN, 0};
    if (err_fd >= 0) fds[n++] = {err_fd, POLLIN, 0};
    if (in_fd >= 0) fds[n++] = {in_fd, POLLOUT, 0};
    if (poll(fds, n, -1) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    for (nfds_t i = 0; i < n; ++i) {
      if (fds[i].revents == 0) continue;
      int fd = fds[i].fd;
      if (fd == in_fd) {
        ssize_t w = write(in_fd, input.data() + written, input.size() - written);
        if (w > 0) written += static_cast<size_t>(w);
        if (w < 0 || written == input.size()) {
          close(in_fd);
          in_fd = -1;
        }
        continue;
      }
      ssize_t got = read(fd, buf, sizeof buf);
      if (got > 0) {
        (fd == out_fd ? r->out : r->err).append(buf, static_cast<size_t>(got));
      } else if (got == 0 || errno != EINTR) {
        close(fd);
        (fd == out_fd ? out_fd : err_fd) = -1;
      }
    }
  }
  if (in_fd >= 0) close(in_fd);
}

// Formats a non-negative number without allocating (safe after fork).
size_t FormatPid(pid_t pid, char* out) {
  char tmp[24];
  size_t n = 0;
  do {
    tmp[n++] = static_cast<char>('0' + pid % 10);
    pid /= 10;
  } while (pid > 0);
  for (size_t i = 0; i < n; ++i) out[i] = tmp[n - 1 - i];
  return n;
}

void WriteAll(int fd, const char* p, size_t n) {
  while (n > 0) {
    ssize_t w = write(fd, p, n);
    if (w <= 0) {
      if (w < 0 && errno == EINTR) continue;
      return;
    }
    p += w;
    n -= static_cast<size_t>(w);
  }
}

}  // namespace

ProcessResult RunProcess(const std::vector<std::string>& argv, const std::vector<std::string>& env,
                         const std::string& input) {
  ProcessResult result;
  int out_pipe[2], err_pipe[2], in_pipe[2];
  if (pipe2(out_pipe, O_CLOEXEC) != 0) return result;
  if (pipe2(err_pipe, O_CLOEXEC) != 0) {
    close(out_pipe[0]);
    close(out_pipe[1]);
    return result;
  }
  if (pipe2(in_pipe, O_CLOEXEC) != 0) {
    for (int fd : {out_pipe[0], out_pipe[1], err_pipe[0], err_pipe[1]}) close(fd);
    return result;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, in_pipe[0], 0);
  posix_spawn_file_actions_adddup2(&actions, out_pipe[1], 1);
  posix_spawn_file_actions_adddup2(&actions, err_pipe[1], 2);

  std::vector<std::string> env_strings = MergedEnvironment(env);
  std::vector<std::string> args = argv;
  std::vector<char*> envp = CStrings(env_strings);
  std::vector<char*> argp = CStrings(args);

  pid_t pid = -1;
  int rc = argp[0] ? posix_spawnp(&pid, argp[0], &actions, nullptr, argp.data(), envp.data())
                   : EINVAL;
  posix_spawn_file_actions_destroy(&actions);
  close(in_pipe[0]);
  close(out_pipe[1]);
  close(err_pipe[1]);
  if (rc != 0) {
    close(in_pipe[1]);
    close(out_pipe[0]);
    close(err_pipe[0]);
    result.err = ErrnoMessage(argv.empty() ? std::string() : argv[0], rc);
    return result;
  }
  Pump(out_pipe[0], err_pipe[0], in_pipe[1], input, &result);
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  result.exit_status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return result;
}

pid_t SpawnDetached(const std::string& path, const std::vector<std::string>& env,
                    const std::string& log_path, const std::string& record_path,
                    const std::string& record_before_exec) {
  // Everything the children need is prepared here: after fork in a threaded
  // process only async-signal-safe calls are allowed.
  std::vector<std::string> env_strings = MergedEnvironment(env);
  std::vector<char*> envp = CStrings(env_strings);
  std::vector<std::string> args = {path};
  std::vector<char*> argp = CStrings(args);
  size_t brace = record_before_exec.find("{pid}");
  std::string record_head = record_before_exec.substr(0, brace);
  std::string record_tail = brace == std::string::npos ? "" : record_before_exec.substr(brace + 5);
  std::string record_tmp = record_path + ".tmp";

  int pid_pipe[2];
  if (pipe2(pid_pipe, O_CLOEXEC) != 0) return -1;
  pid_t child = fork();
  if (child < 0) {
    int saved = errno;
    close(pid_pipe[0]);
    close(pid_pipe[1]);
    errno = saved;
    return -1;
  }
  if (child == 0) {
    setsid();
    pid_t daemon = fork();
    if (daemon != 0) {
      WriteAll(pid_pipe[1], reinterpret_cast<const char*>(&daemon), sizeof daemon);
      _exit(0);
    }
    int null_fd = open("/dev/null", O_RDONLY);
    if (null_fd >= 0) dup2(null_fd, 0);
    int log_fd = open(log_path.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
    if (log_fd >= 0) {
      dup2(log_fd, 1);
      dup2(log_fd, 2);
    }
    if (!record_path.empty()) {
      int fd = open(record_tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      if (fd >= 0) {
        char digits[24];
        size_t n = FormatPid(getpid(), digits);
        WriteAll(fd, record_head.data(), record_head.size());
        if (brace != std::string::npos) WriteAll(fd, digits, n);
        WriteAll(fd, record_tail.data(), record_tail.size());
        close(fd);
        rename(record_tmp.c_str(), record_path.c_str());
      }
    }
    execve(argp[0], argp.data(), envp.data());
    _exit(127);
  }
  close(pid_pipe[1]);
  pid_t daemon = -1;
  ssize_t got;
  do {
    got = read(pid_pipe[0], &daemon, sizeof daemon);
  } while (got < 0 && errno == EINTR);
  close(pid_pipe[0]);
  int status = 0;
  while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  if (got != static_cast<ssize_t>(sizeof daemon) || daemon <= 0) {
    errno = ECHILD;
    return -1;
  }
  return daemon;
}

bool ProcessAlive(pid_t pid) {
  if (pid <= 0) return false;
  if (kill(pid, 0) != 0 && errno == ESRCH) return false;
  // A zombie still answers kill(); its state letter in /proc tells.
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string line;
  if (!std::getline(stat, line)) return true;
  size_t close_paren = line.rfind(')');
  if (close_paren == std::string::npos || close_paren + 2 >= line.size()) return true;
  return line[close_paren + 2] != 'Z';
}

bool WriteFileAtomically(const std::string& path, const std::string& content, mode_t mode) {
  std::string tmp = path + ".tmp." + std::to_string(getpid());
  int fd = open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode);
  if (fd < 0) return false;
  // open's mode is cut by the umask, and a temporary file left by an earlier
  // run keeps the mode it had.
  bool ok = fchmod(fd, mode) == 0;
  WriteAll(fd, content.data(), content.size());
  ok = close(fd) == 0 && ok;
  if (!ok || rename(tmp.c_str(), path.c_str()) != 0) {
    unlink(tmp.c_str());
    return false;
  }
  return true;
}

}  // namespace quarrin
