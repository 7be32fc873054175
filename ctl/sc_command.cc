#include <cstdio>

#include "ctl/commands.h"

namespace quarrin {

int RunScCommand(const std::vector<std::string>&) {
  std::fputs("quarrinctl sc: not available yet\n", stderr);
  return 2;
}

}  // namespace quarrin
