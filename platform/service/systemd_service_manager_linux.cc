// The systemd path: units written (unless a package ships them) and enabled
// at install, requests through systemctl, status through the notify socket.
#include <signal.h>
#include <sys/stat.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <sstream>

#include "platform/files/file_io.h"
#include "platform/files/paths.h"
#include "platform/process/process_linux.h"
#include "platform/service/service_manager.h"

namespace quarrin {

std::unique_ptr<StatusReporter> MakeRecordStatusReporter(const std::string& service_name);

namespace {

std::string UnitName(const std::string& name) { return name + ".service"; }
std::string UnitPath(const std::string& name) {
  return Rooted("/etc/systemd/system/") + UnitName(name);
}

// A unit that a package installed for the service: it is then enabled as it
// is, and no copy of it is written where it would hide the package's next
// version.
bool PackagedUnitExists(const std::string& name) {
  struct stat st;
  for (const char* dir : {"/usr/lib/systemd/system/", "/lib/systemd/system/"}) {
    if (stat(Rooted(std::string(dir) + UnitName(name)).c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
      return true;
    }
  }
  return false;
}

std::string Trimmed(std::string s) {
  while (!s.empty() && (s.back() == '\n' || s.back() == '\r' || s.back() == ' ')) s.pop_back();
  return s;
}

// Runs systemctl; throws with what it printed when it fails.
std::string Systemctl(const std::vector<std::string>& args) {
  std::vector<std::string> argv = {"systemctl"};
  argv.insert(argv.end(), args.begin(), args.end());
  ProcessResult r = RunProcess(argv);
  if (r.exit_status != 0) {
    std::string why = Trimmed(r.err.empty() ? r.out : r.err);
    if (why.empty()) why = "systemctl exited with status " + std::to_string(r.exit_status);
    throw ServiceManagerError(why);
  }
  return r.out;
}

// systemd unit values must not carry line breaks; quoting keeps blanks.
std::string UnitQuoted(const std::string& s) {
  std::string out = "\"";
  for (char c : s) {
    if (c == '"' || c == '\\') out += '\\';
    if (c == '\n' || c == '\r') continue;
    out += c;
  }
  return out + "\"";
}

}  // namespace

std::string SystemdUnitText(const ServiceRegistration& r) {
  std::ostringstream u;
  u << "[Unit]\n"
    << "Description=" << r.display_name << "\n"
    << "After=network-online.target\n"
    << "Wants=network-online.target\n\n"
    << "[Service]\n"
    << "Type=notify\n"
    << "NotifyAccess=main\n"
    << "Environment=" << UnitQuoted("QUARRIN_SCM=" + r.name) << "\n";
  std::string root = QuarrinRoot();
  if (!root.empty()) u << "Environment=" << UnitQuoted("QUARRIN_ROOT=" + root) << "\n";
  // The popup window needs a display; an administrator sets it with
  // `systemctl edit` (Environment=DISPLAY=:0 and XAUTHORITY=...).
  u << "ExecStart=" << UnitQuoted(r.image_path) << "\n"
    << "KillMode=process\n"
    << "TimeoutStopSec=60\n"
    << "Restart=no\n\n"
    << "[Install]\n"
    << "WantedBy=multi-user.target\n";
  return u.str();
}

namespace {

class SystemdServiceManager final : public ServiceManager {
 public:
  std::string_view Kind() const override { return "systemd"; }

  void Register(const ServiceRegistration& r) override {
    const bool packaged = PackagedUnitExists(r.name);
    std::string dir = Rooted("/etc/systemd/system");
    if (!packaged &&
        (!MakeDirs(dir) || !WriteFileAtomically(UnitPath(r.name), SystemdUnitText(r), 0644))) {
      throw ServiceManagerError(ErrnoMessage(UnitPath(r.name), errno));
    }
    try {
      Systemctl({"daemon-reload"});
      Systemctl({"enable", UnitName(r.name)});
    } catch (...) {
      if (!packaged) unlink(UnitPath(r.name).c_str());
      throw;
    }
  }

  void Unregister(const std::string& name) override {
    try {
      Systemctl({"disable", UnitName(name)});
    } catch (const ServiceManagerError&) {
      // A unit that is already disabled or gone is what we want anyway.
    }
    unlink(UnitPath(name).c_str());
    Systemctl({"daemon-reload"});
  }

  void Start(const std::string& name) override {
    Systemctl({"start", "--no-block", UnitName(name)});
  }

  void Control(const std::string& name, uint32_t code) override {
    if (code == kControlStop) {
      Systemctl({"stop", "--no-block", UnitName(name)});
      return;
    }
    std::string out = Trimmed(Systemctl({"show", "--property=MainPID", "--value", UnitName(name)}));
    pid_t pid = static_cast<pid_t>(std::strtol(out.c_str(), nullptr, 10));
    if (pid <= 0) throw ServiceManagerError("The service has not been started.");
    union sigval value;
    value.sival_int = static_cast<int>(code);
    if (sigqueue(pid, SIGRTMIN, value) != 0) {
      throw ServiceManagerError(ErrnoMessage("Control failed", errno));
    }
  }

  ServiceState Query(const std::string& name) override {
    std::string out = Systemctl(
        {"show", "--property=ActiveState", "--property=StatusText", UnitName(name)});
    std::string active, status;
    std::istringstream in(out);
    std::string line;
    while (std::getline(in, line)) {
      line = Trimmed(line);
      if (line.rfind("ActiveState=", 0) == 0) active = line.substr(12);
      if (line.rfind("StatusText=", 0) == 0) status = line.substr(11);
    }
    if (active == "inactive" || active == "failed" || active.empty()) return ServiceState::kStopped;
    if (auto s = ParseServiceState(status)) return *s;
    if (active == "activating") return ServiceState::kStartPending;
    if (active == "deactivating") return ServiceState::kStopPending;
    return ServiceState::kRunning;
  }
};

// sd_notify's protocol: one datagram of "KEY=value" lines to NOTIFY_SOCKET.
class NotifyStatusReporter final : public StatusReporter {
 public:
  explicit NotifyStatusReporter(std::string socket_path) : socket_path_(std::move(socket_path)) {}

  bool Report(const ServiceStatus& status, std::string* error) override {
    std::string message = "STATUS=" + std::string(ServiceStateName(status.state)) + "\n";
    if (status.state == ServiceState::kRunning) message += "READY=1\n";
    if (status.state == ServiceState::kStopPending) message += "STOPPING=1\n";
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    if (socket_path_.size() >= sizeof addr.sun_path) {
      if (error) *error = "NOTIFY_SOCKET path too long";
      return false;
    }
    std::memcpy(addr.sun_path, socket_path_.data(), socket_path_.size());
    if (addr.sun_path[0] == '@') addr.sun_path[0] = '\0';  // abstract socket
    socklen_t len = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + socket_path_.size());
    int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0 || sendto(fd, message.data(), message.size(), MSG_NOSIGNAL,
                         reinterpret_cast<sockaddr*>(&addr), len) < 0) {
      if (error) *error = ErrnoMessage("NOTIFY_SOCKET " + socket_path_, errno);
      if (fd >= 0) close(fd);
      return false;
    }
    close(fd);
    return true;
  }

 private:
  std::string socket_path_;
};

}  // namespace

bool SystemdInCharge() {
  struct stat st;
  return stat(Rooted("/run/systemd/system").c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::unique_ptr<ServiceManager> MakeServiceManager(RegistryStore& registry) {
  if (SystemdInCharge()) return MakeSystemdServiceManager();
  return MakeBuiltinServiceManager(registry);
}

std::unique_ptr<ServiceManager> MakeSystemdServiceManager() {
  return std::make_unique<SystemdServiceManager>();
}

std::unique_ptr<StatusReporter> MakeStatusReporter(const std::string& service_name) {
  const char* notify = std::getenv("NOTIFY_SOCKET");
  if (notify && *notify) return std::make_unique<NotifyStatusReporter>(notify);
  return MakeRecordStatusReporter(service_name);
}

}  // namespace quarrin
