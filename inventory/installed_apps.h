// Where a fixed set of applications is installed and which version each has.
#ifndef QUARRIN_INVENTORY_INSTALLED_APPS_H_
#define QUARRIN_INVENTORY_INSTALLED_APPS_H_

#include <string>

#include "platform/registry/registry_store.h"

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

// Fills *apps from the class registrations under HKEY_CLASSES_ROOT (the
// "<name>.Application" classes, the Java open command) and the service keys
// under HKEY_LOCAL_MACHINE. A found application has the path of its
// registered command (CommandLineToPath) and that file's version, "0.0.0.0"
// when the file carries none or does not exist; one not found stays empty.
// REQUIRES: the entries of *apps are empty. Throws RegistryError when a
// registered value is not text; the entries filled before stay filled.
// Keeps no state: calls may run on several threads at once.
void CollectInstalledApps(RegistryStore& store, tInstalledApps* apps);

// A registered command line reduced to the program's path: cut before the
// first switch (a "/" or "-" that begins a word other than the first, outside
// double quotes), trim blanks and control characters from both ends, remove
// every double quote. "/opt/app/bin/winword /automation" gives
// "/opt/app/bin/winword"; "\"/usr/lib/jvm/java-17/bin/javaw\" -jar \"%1\""
// gives "/usr/lib/jvm/java-17/bin/javaw". Environment references and relative
// paths stay as they are.
std::string CommandLineToPath(const std::string& command_line);

}  // namespace quarrin

#endif  // QUARRIN_INVENTORY_INSTALLED_APPS_H_
