#include "platform/files/managing_package.h"

#include <fstream>

#include "platform/text/utf8.h"

namespace quarrin {

std::optional<std::string> ManagingPackage(const std::string& exe_path) {
  std::ifstream in(PathFromUtf8(exe_path).parent_path() / kPackageMarkerName);
  if (!in) return std::nullopt;
  std::string line;
  std::getline(in, line);
  while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.pop_back();
  if (line.empty()) return "a package manager";
  return line;
}

}  // namespace quarrin
