#include "platform/managing_package.h"

#include <fstream>

namespace quarrin {

std::optional<std::string> ManagingPackage(const std::string& exe_path) {
  const std::string marker = exe_path.substr(0, exe_path.rfind('/') + 1) + kPackageMarkerName;
  std::ifstream in(marker);
  if (!in) return std::nullopt;
  std::string line;
  std::getline(in, line);
  while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.pop_back();
  if (line.empty()) return "a package manager";
  return line;
}

}  // namespace quarrin
