// Running other programs: a child whose output is collected, or a detached
// daemon that outlives its launcher.
#ifndef QUARRIN_PLATFORM_PROCESS_PROCESS_LINUX_H_
#define QUARRIN_PLATFORM_PROCESS_PROCESS_LINUX_H_

#include <string>
#include <sys/types.h>
#include <vector>

namespace quarrin {

struct ProcessResult {
  int exit_status = -1;  // the exit code, or 128 + signal; -1 when it could not start
  std::string out;
  std::string err;
};

// Runs argv (argv[0] looked up on PATH) with the environment of this process
// plus `env` ("NAME=value" entries replace same-named ones), standard input
// from `input`, and waits for it.
ProcessResult RunProcess(const std::vector<std::string>& argv,
                         const std::vector<std::string>& env = {}, const std::string& input = "");

// Starts `path` as a daemon in a session of its own, with this process's
// environment plus `env`, standard input from /dev/null and standard output
// and error appended to `log_path`. Before the program is executed the child
// writes `record_before_exec` (with "{pid}" replaced by its process id) to
// `record_path` atomically, when record_path is not empty. Returns the pid,
// or -1 with errno set.
pid_t SpawnDetached(const std::string& path, const std::vector<std::string>& env,
                    const std::string& log_path, const std::string& record_path,
                    const std::string& record_before_exec);

// True when a process with this id exists (and is not a zombie).
bool ProcessAlive(pid_t pid);

// Writes `content` to `path` through a temporary file and a rename, so a
// reader sees the old or the new content, never a part. The file gets
// `mode` whatever the umask.
bool WriteFileAtomically(const std::string& path, const std::string& content, mode_t mode);

}  // namespace quarrin

#endif  // QUARRIN_PLATFORM_PROCESS_PROCESS_LINUX_H_
