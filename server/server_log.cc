#include "server/server_log.h"

#include <chrono>
#include <cstdio>
#include <ctime>
#include <mutex>
#include <string>

namespace quarrin {

void ServerLog(std::string_view text) {
  static std::mutex mu;
  const std::time_t now = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
  std::tm utc{};
  gmtime_r(&now, &utc);
  char stamp[32];
  std::strftime(stamp, sizeof stamp, "%Y-%m-%dT%H:%M:%SZ", &utc);
  const std::string line = std::string(stamp) + " " + std::string(text) + "\n";
  std::lock_guard lock(mu);
  std::fwrite(line.data(), 1, line.size(), stderr);
}

}  // namespace quarrin
