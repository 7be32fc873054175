#include "service/service_process.h"

#include <cstdio>
#include <optional>
#include <thread>

#include "platform/text/ascii.h"
#include "platform/service/service_dispatch.h"

namespace quarrin {

int RunServiceProcess(ServiceHost& host, ServiceHandlers& handlers, WindowLoop& window_loop) {
  PrepareServiceControl();  // for the main thread and all it starts
  std::optional<std::string> failure;
  std::thread dispatcher([&] {
    failure = DispatchService(
        host.name(), [&](uint32_t code) { host.PostControl(code); },
        [&] { host.RunService(handlers); });
    window_loop.Quit();
  });
  window_loop.Run();
  dispatcher.join();
  if (!failure) return 0;
  host.process_events().WriteEventLog(*failure, EventType::kError, 0, 0);
  std::fprintf(stderr, "%s\n", failure->c_str());
  return 1;
}

ServiceSwitches ParseServiceSwitches(const std::vector<std::string>& args) {
  ServiceSwitches s;
  for (const auto& arg : args) {
    if (arg.size() < 2 || (arg[0] != '/' && arg[0] != '-')) continue;
    std::string word = arg.substr(1);
    if (EqualsIgnoringAsciiCase(word, "INSTALL")) s.install = true;
    if (EqualsIgnoringAsciiCase(word, "UNINSTALL")) s.uninstall = true;
    if (EqualsIgnoringAsciiCase(word, "SILENT")) s.silent = true;
  }
  if (s.install) s.uninstall = false;
  return s;
}

}  // namespace quarrin
