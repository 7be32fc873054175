// Writes the systemd units that the package ships for the agent and its
// starter, with the text that -INSTALL writes where no unit is shipped.
//
//   quarrin_systemd_units OUT_FOLDER PROGRAM_FOLDER
//
// gives OUT_FOLDER/TARNQuarrinSrvc.service running
// PROGRAM_FOLDER/QuarrinSrvc and OUT_FOLDER/TARNStartSrvc.service running
// PROGRAM_FOLDER/TARNStartSrvc.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "core/service_identity.h"
#include "platform/process/process_linux.h"
#include "platform/service/service_manager.h"

int main(int argc, char** argv) {
  using namespace quarrin;
  if (argc != 3) {
    std::fputs("usage: quarrin_systemd_units OUT_FOLDER PROGRAM_FOLDER\n", stderr);
    return 2;
  }
  // A unit written under a test's root would carry that root.
  unsetenv("QUARRIN_ROOT");
  const std::string out = argv[1], folder = argv[2];
  const ServiceRegistration units[] = {
      {kServiceName, kServiceDisplayName, folder + "/" + kAppName},
      {kStarterServiceName, kStarterDisplayName, folder + "/TARNStartSrvc"},
  };
  for (const ServiceRegistration& r : units) {
    const std::string path = out + "/" + r.name + ".service";
    if (!WriteFileAtomically(path, SystemdUnitText(r), 0644)) {
      std::perror(path.c_str());
      return 1;
    }
  }
  return 0;
}
