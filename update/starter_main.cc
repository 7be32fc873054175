// TARNStartSrvc: the starter service that installs a downloaded agent and
// restarts it.
//
//   TARNStartSrvc -INSTALL [-SILENT]     register the service
//   TARNStartSrvc -UNINSTALL [-SILENT]   remove it
//   QUARRIN_SCM=TARNStartSrvc TARNStartSrvc
//                                        run as the service process (what the
//                                        service manager does when the agent
//                                        hands an update over)
#include "core/service_identity.h"
#include "service/service_program.h"
#include "update/starter_service.h"

int main(int argc, char** argv) {
  using namespace quarrin;
  ServiceProgram program(argc, argv, {kStarterServiceName, kStarterDisplayName, "TARNStartSrvc"});
  if (!program.Open()) return 1;
  StarterService service(program.registry(), program.event_log(), program.manager(),
                         &program.host());
  if (auto status = program.InstallOrCheck([&] { service.ServiceAfterInstall(); },
                                           [&] { service.ServiceAfterUninstall(); })) {
    return *status;
  }
  WindowLoop window_loop;
  return RunServiceProcess(program.host(), service, window_loop);
}
