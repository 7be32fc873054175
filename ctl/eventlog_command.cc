#include <cstdio>
#include <exception>
#include <optional>
#include <string>

#include "ctl/commands.h"
#include "platform/eventlog/event_log.h"
#include "platform/files/paths.h"

namespace quarrin {

int RunEventLogCommand(const std::vector<std::string>& args) {
  if (args.size() > 1) {
    std::fputs("usage: quarrinctl eventlog [SOURCE]\n", stderr);
    return 2;
  }
  std::optional<std::string> source;
  if (!args.empty()) source = args[0];
  try {
    const std::unique_ptr<EventLog> log = OpenEventLog(EventLogDbPath());
    for (const EventRecord& record : log->Read(source)) {
      std::string line = FormatEventLine(record);
      line += '\n';
      std::fwrite(line.data(), 1, line.size(), stdout);
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "quarrinctl eventlog: %s\n", e.what());
    return 1;
  }
  if (std::fflush(stdout) != 0) {
    std::fputs("quarrinctl eventlog: cannot write the output\n", stderr);
    return 1;
  }
  return 0;
}

}  // namespace quarrin
