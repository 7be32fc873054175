// A program that a test starts in the background (POSIX only).
#ifndef QUARRIN_TESTS_CHILD_PROCESS_H_
#define QUARRIN_TESTS_CHILD_PROCESS_H_

#include <sys/types.h>

#include <string>
#include <vector>

namespace quarrin::testing {

// Started with the test's environment and extra entries ("NAME=value"),
// standard input from /dev/null, standard output and error appended to
// `log`; stopped with SIGTERM (SIGKILL after 10 s) on destruction.
class Child {
 public:
  Child(const std::vector<std::string>& argv, const std::vector<std::string>& extra_env,
        const std::string& log);
  ~Child();
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;
  // False once it has ended, or when it could not be started.
  bool running() const;

 private:
  pid_t pid_ = -1;
};

}  // namespace quarrin::testing

#endif  // QUARRIN_TESTS_CHILD_PROCESS_H_
