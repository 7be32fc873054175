// quarrinctl: the administrator's tool for the agent's registry, service
// manager and event log.
#include <cstdio>
#include <string>
#include <vector>

#include "ctl/commands.h"

namespace {

constexpr char kUsage[] =
    "usage: quarrinctl reg import FILE | export KEY [FILE] | query KEY | set KEY NAME TYPE DATA | delete KEY [NAME]\n"
    "       quarrinctl sc start|stop|pause|continue|interrogate|query NAME | control NAME CODE\n"
    "       quarrinctl eventlog [SOURCE]\n";

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fputs(kUsage, stderr);
    return 2;
  }
  std::string command = argv[1];
  std::vector<std::string> args(argv + 2, argv + argc);
  if (command == "reg") return quarrin::RunRegCommand(args);
  if (command == "sc") return quarrin::RunScCommand(args);
  if (command == "eventlog") return quarrin::RunEventLogCommand(args);
  std::fputs(kUsage, stderr);
  return 2;
}
