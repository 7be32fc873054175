#include "inventory/installed_apps.h"

#include <string>
#include <string_view>

#include "core/file_version.h"
#include "core/registry.h"

namespace quarrin {
namespace {

bool IsBlank(char c) { return static_cast<unsigned char>(c) <= ' '; }

// The found application: its path and the file's version. An empty path
// names no file; GetFileVersion would read it as this program itself.
void Store(const std::string& path, tAppAttributes* app) {
  app->Version = path.empty() ? tFileVersion{}.Text : GetFileVersion(path).Text;
  app->Path = path;
}

// A class registered for "<prog_id>.Application": the command of its server
// key ("LocalServer32", or "InprocServer32" for an in-process one).
void ProbeClass(Registry& reg, const std::string& prog_id, const char* server,
                tAppAttributes* app) {
  *app = {};
  if (!OpenOnly(reg, "\\" + prog_id + ".Application\\CLSID")) return;
  const std::string clsid = reg.ReadString("");
  if (!OpenOnly(reg, "\\CLSID\\" + clsid + "\\" + server)) return;
  Store(CommandLineToPath(reg.ReadString("")), app);
}

// The Java runtime's open command; the one registered for javaw itself, else
// the one for jar files.
void ProbeJava(Registry& reg, tAppAttributes* app) {
  if (!OpenOnly(reg, "\\Applications\\javaw.exe\\shell\\open\\command") &&
      !OpenOnly(reg, "\\jarfile\\shell\\open\\command")) {
    return;
  }
  Store(CommandLineToPath(reg.ReadString("")), app);
}

void ProbeService(Registry& reg, const std::string& service, tAppAttributes* app) {
  *app = {};
  if (!OpenOnly(reg, "\\System\\CurrentControlSet\\Services\\" + service)) return;
  Store(CommandLineToPath(reg.ReadString("ImagePath")), app);
}

}  // namespace

std::string CommandLineToPath(const std::string& command_line) {
  // Paths here are made of "/" and often hold "-", so only a "/" or "-" that
  // begins a word outside quotes starts a switch; the first word is the
  // program itself.
  size_t end = command_line.size();
  bool quoted = false;
  bool program_seen = false;
  for (size_t i = 0; i < command_line.size(); ++i) {
    const char c = command_line[i];
    if (c == '"') {
      quoted = !quoted;
    } else if (!quoted && program_seen && (c == '/' || c == '-') && IsBlank(command_line[i - 1])) {
      end = i;
      break;
    }
    program_seen = program_seen || !IsBlank(c);
  }
  size_t begin = 0;
  while (begin < end && IsBlank(command_line[begin])) ++begin;
  while (end > begin && IsBlank(command_line[end - 1])) --end;
  std::string path;
  for (size_t i = begin; i < end; ++i) {
    if (command_line[i] != '"') path += command_line[i];
  }
  return path;
}

void CollectInstalledApps(RegistryStore& store, tInstalledApps* apps) {
  Registry reg(store);
  reg.SetRootKey(RootKey::kClassesRoot);
  const struct {
    const char* prog_id;
    tAppAttributes tInstalledApps::*entry;
  } classes[] = {
      {"Word", &tInstalledApps::Word},
      {"Excel", &tInstalledApps::Excel},
      {"PowerPoint", &tInstalledApps::PowerPoint},
      {"Access", &tInstalledApps::Access},
      {"InternetExplorer", &tInstalledApps::InternetExplorer},
      {"iTunes", &tInstalledApps::iTunes},
      {"EtherPeek", &tInstalledApps::EtherPeek},
      {"MSProject", &tInstalledApps::MSProject},
      {"Outlook", &tInstalledApps::Outlook},
      {"TestServer", &tInstalledApps::Dispense},
  };
  for (const auto& c : classes) ProbeClass(reg, c.prog_id, "LocalServer32", &(apps->*c.entry));
  ProbeJava(reg, &apps->Java);
  ProbeClass(reg, "SQLNS.SQLNamespace", "InprocServer32", &apps->SQLNS);

  reg.SetRootKey(RootKey::kLocalMachine);
  ProbeService(reg, "PellamSrvc", &apps->QuarrinSrvc);
  ProbeService(reg, "CVPND", &apps->CiscoVPN);
}

}  // namespace quarrin
