// What the self-update tests share: copies of the built agents placed as an
// installation would place them, and waiting for a condition.
#ifndef QUARRIN_UPDATE_UPDATE_TESTING_H_
#define QUARRIN_UPDATE_UPDATE_TESTING_H_

#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>

#include "core/file_version.h"
#include "tests/test_support.h"

namespace quarrin::testing {

// The agent as built, and the same agent one build higher.
inline std::string CurrentAgent() { return BuiltExecutable("QuarrinSrvc"); }
inline std::string NextAgent() { return BuiltExecutable("next/QuarrinSrvc"); }

// The update manifest that publishes version `v`.
inline std::string ManifestFor(const tFileVersion& v) {
  return "<data><VersionInfo><major>" + std::to_string(v.Major) + "</major><minor>" +
         std::to_string(v.Minor) + "</minor><release>" + std::to_string(v.Release) +
         "</release><build>" + std::to_string(v.Build) + "</build></VersionInfo></data>";
}

// Copies an executable to `to` (creating its folder) with `mode`.
inline void PlaceExecutable(const std::string& from, const std::string& to, mode_t mode) {
  std::filesystem::create_directories(std::filesystem::path(to).parent_path());
  std::filesystem::copy_file(from, to, std::filesystem::copy_options::overwrite_existing);
  chmod(to.c_str(), mode);
}

// Polls `done` every 20 ms until it holds or `limit` has passed.
inline bool WaitFor(const std::function<bool()>& done, std::chrono::milliseconds limit) {
  auto end = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    if (std::chrono::steady_clock::now() >= end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}

}  // namespace quarrin::testing

#endif  // QUARRIN_UPDATE_UPDATE_TESTING_H_
