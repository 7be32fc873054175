// What the tests need of Windows' `sc` beyond what Wine's has: pause and
// continue, and waiting until a service has reached a state.
//
//   scm_control pause|continue|interrogate|stop NAME   send the request, then
//                                                       wait for its state
//   scm_control query NAME                             print the state
//   scm_control wait NAME STATE                        wait for STATE
//
// Prints the state reached ("RUNNING", "PAUSED", ...); exits 1 when it was
// not reached within 30 seconds, 2 on a refused request or bad arguments.
#include <chrono>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <thread>

#include "platform/registry/registry_open.h"
#include "platform/service/service_manager.h"

namespace {

using quarrin::ServiceState;

struct Verb {
  const char* name;
  uint32_t code;
  ServiceState reached;
};
constexpr Verb kVerbs[] = {
    {"pause", quarrin::kControlPause, ServiceState::kPaused},
    {"continue", quarrin::kControlContinue, ServiceState::kRunning},
    {"interrogate", quarrin::kControlInterrogate, ServiceState::kRunning},
    {"stop", quarrin::kControlStop, ServiceState::kStopped},
};

int Usage() {
  std::fputs("usage: scm_control pause|continue|interrogate|stop|query NAME\n"
             "       scm_control wait NAME STATE\n",
             stderr);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace quarrin;
  if (argc < 3) return Usage();
  const std::string verb = argv[1], name = argv[2];
  try {
    OpenedRegistry registry = OpenDefaultRegistry();
    std::unique_ptr<ServiceManager> manager = MakeServiceManager(registry.store());
    std::optional<ServiceState> wanted;
    if (verb == "query" && argc == 3) {
      std::printf("%s\n", std::string(ServiceStateName(manager->Query(name))).c_str());
      return 0;
    } else if (verb == "wait" && argc == 4) {
      wanted = ParseServiceState(argv[3]);
      if (!wanted) return Usage();
    } else {
      for (const Verb& v : kVerbs) {
        if (verb == v.name && argc == 3) {
          manager->Control(name, v.code);
          wanted = v.reached;
        }
      }
      if (!wanted) return Usage();
    }
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    ServiceState state = manager->Query(name);
    while (state != *wanted && std::chrono::steady_clock::now() < until) {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
      state = manager->Query(name);
    }
    std::printf("%s\n", std::string(ServiceStateName(state)).c_str());
    return state == *wanted ? 0 : 1;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "scm_control %s %s: %s\n", verb.c_str(), name.c_str(), e.what());
    return 2;
  }
}
