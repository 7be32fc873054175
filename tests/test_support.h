// Helpers shared by the tests: temporary folders, the built executables and
// running a command with its output captured.
#ifndef QUARRIN_TESTS_TEST_SUPPORT_H_
#define QUARRIN_TESTS_TEST_SUPPORT_H_

#include <cstdint>
#include <string>
#include <vector>

namespace quarrin::testing {

// A fresh folder below $TMPDIR, removed with everything in it on destruction.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// Sets an environment variable for the life of the object, then restores it.
class ScopedEnv {
 public:
  ScopedEnv(std::string name, const std::string& value);
  ~ScopedEnv();
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  std::string name_;
  bool had_old_ = false;
  std::string old_;
};

// Path of a built executable (QuarrinSrvc, TARNStartSrvc, quarrinctl, ...).
std::string BuiltExecutable(const std::string& name);
// Path of a file in the source tree.
std::string SourcePath(const std::string& relative);

struct CommandResult {
  int exit_status = -1;  // the exit code, or 128 + signal
  std::string out;
  std::string err;
};
// Not yet in the Windows build.
//
// Runs argv[0] with the given arguments and extra environment entries
// ("NAME=value"), standard input from `input`, and waits for it.
CommandResult RunCommand(const std::vector<std::string>& argv,
                         const std::vector<std::string>& env = {},
                         const std::string& input = "");

// A TCP port that nothing listens on, on any local address, right now.
uint16_t FreePort();

std::string ReadFileText(const std::string& path);
void WriteFileText(const std::string& path, const std::string& text);

}  // namespace quarrin::testing

#endif  // QUARRIN_TESTS_TEST_SUPPORT_H_
