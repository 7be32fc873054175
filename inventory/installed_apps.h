// Where a fixed set of applications is installed and which version each has.
#ifndef QUARRIN_INVENTORY_INSTALLED_APPS_H_
#define QUARRIN_INVENTORY_INSTALLED_APPS_H_

#include <string>

#include "platform/registry_store.h"

namespace quarrin {

struct tAppAttributes {
  std::string Path;
  std::string Version;
  bool operator==(const tAppAttributes&) const = default;
};

// One entry per probed application, in record order.
struct tInstalledApps {
  tAppAttributes Access;
  tAppAttributes CiscoVPN;
  tAppAttributes Dispense;
  tAppAttributes EtherPeek;
  tAppAttributes Excel;
  tAppAttributes InternetExplorer;
  tAppAttributes Java;
  tAppAttributes iTunes;
  tAppAttributes Outlook;
  tAppAttributes PowerPoint;
  tAppAttributes QuarrinSrvc;
  tAppAttributes MSProject;
  tAppAttributes SQLNS;
  tAppAttributes Word;
};

// Fills *apps from the registry's class and service registrations. Throws
// RegistryError when a registered value has a non-text type.
void CollectInstalledApps(RegistryStore& store, tInstalledApps* apps);

// A registered command line reduced to the program's path: cut before the
// first switch (a "/" or "-" that begins a word outside double quotes), trim
// blanks and control characters, remove double quotes.
std::string CommandLineToPath(const std::string& command_line);

}  // namespace quarrin

#endif  // QUARRIN_INVENTORY_INSTALLED_APPS_H_
