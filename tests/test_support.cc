#include "tests/test_support.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>

#include "platform/process/environment.h"

namespace quarrin::testing {

TempDir::TempDir() {
  // The system's folder for temporary files ($TMPDIR, else /tmp; on Windows
  // the user's temporary folder), with a new random name in it.
  const std::filesystem::path base = std::filesystem::temp_directory_path();
  std::random_device random;
  for (int attempt = 0; attempt < 100; ++attempt) {
    char name[32];
    std::snprintf(name, sizeof name, "quarrin-test-%08x", random());
    const std::filesystem::path path = base / name;
    if (std::filesystem::create_directory(path)) {
      // Private to the user, as mkdtemp(3) would make it.
      std::filesystem::permissions(path, std::filesystem::perms::owner_all);
      path_ = path.generic_string();
      return;
    }
  }
  throw std::runtime_error("no fresh temporary folder in " + base.string());
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

ScopedEnv::ScopedEnv(std::string name, const std::string& value) : name_(std::move(name)) {
  if (const char* old = std::getenv(name_.c_str())) {
    had_old_ = true;
    old_ = old;
  }
  SetEnvironmentValue(name_, value);
}

ScopedEnv::~ScopedEnv() {
  if (had_old_) {
    SetEnvironmentValue(name_, old_);
  } else {
    UnsetEnvironmentValue(name_);
  }
}

std::string BuiltExecutable(const std::string& name) {
  return std::string(QUARRIN_BUILD_DIR) + "/" + name + QUARRIN_EXECUTABLE_SUFFIX;
}

std::string SourcePath(const std::string& relative) {
  return std::string(QUARRIN_SOURCE_DIR) + "/" + relative;
}

std::string ReadFileText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

void WriteFileText(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
}

}  // namespace quarrin::testing
