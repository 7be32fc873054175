// quarrinctl sc: requests to the service manager in charge.
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>

#include "ctl/commands.h"
#include "platform/registry/registry_open.h"
#include "platform/service/service_manager.h"

namespace quarrin {
namespace {

constexpr char kScUsage[] =
    "usage: quarrinctl sc start|stop|pause|continue|interrogate|query NAME\n"
    "       quarrinctl sc control NAME CODE\n";

bool ParseCode(const std::string& text, uint32_t* code) {
  char* end = nullptr;
  unsigned long value = std::strtoul(text.c_str(), &end, 0);
  if (text.empty() || *end != '\0' || value > 0xFFFFFFFFul) return false;
  *code = static_cast<uint32_t>(value);
  return true;
}

}  // namespace

int RunScCommand(const std::vector<std::string>& args) {
  if (args.size() < 2) {
    std::fputs(kScUsage, stderr);
    return 2;
  }
  const std::string& verb = args[0];
  const std::string& name = args[1];
  try {
    OpenedRegistry registry = OpenDefaultRegistry();
    std::unique_ptr<ServiceManager> manager = MakeServiceManager(registry.store());
    if (verb == "start") {
      manager->Start(name);
    } else if (verb == "query") {
      std::printf("%s\n", std::string(ServiceStateName(manager->Query(name))).c_str());
    } else {
      uint32_t code;
      if (verb == "stop") {
        code = kControlStop;
      } else if (verb == "pause") {
        code = kControlPause;
      } else if (verb == "continue") {
        code = kControlContinue;
      } else if (verb == "interrogate") {
        code = kControlInterrogate;
      } else if (verb == "control" && args.size() == 3 && ParseCode(args[2], &code)) {
      } else {
        std::fputs(kScUsage, stderr);
        return 2;
      }
      manager->Control(name, code);
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "quarrinctl sc %s %s: %s\n", verb.c_str(), name.c_str(), e.what());
    return 1;
  }
  return 0;
}

}  // namespace quarrin
