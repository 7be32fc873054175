// The built-in service manager: launches a registered ImagePath as a daemon,
// keeps each service's last reported status in a record file, and sends
// control requests as signals.
#include <signal.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <string_view>
#include <unistd.h>

#include "platform/files/file_io.h"
#include "platform/files/paths.h"
#include "platform/files/private_files.h"
#include "platform/process/process_linux.h"
#include "platform/service/service_manager.h"

namespace quarrin {
namespace {

std::string ServicesDir() { return StateDir() + "/services"; }
std::string RecordPath(const std::string& name) { return ServicesDir() + "/" + name + ".status"; }

struct StatusRecord {
  ServiceState state = ServiceState::kStopped;
  pid_t pid = 0;
  uint32_t accepted = 0;
};

// The record is three short lines; a file much larger is not one of ours.
constexpr size_t kMaxRecordBytes = 4096;

// Read and written without streams: the first stream a process makes sets
// up the C++ locale, half a megabyte of libstdc++ touched for the life of
// the service, whose status goes through here.
std::optional<StatusRecord> ReadRecord(const std::string& name) {
  std::string text;
  if (ReadFileCapped(RecordPath(name), kMaxRecordBytes, &text) != 0) return std::nullopt;
  StatusRecord record;
  std::string_view rest = text;
  while (!rest.empty()) {
    const size_t end = rest.find('\n');
    const std::string line(rest.substr(0, end));
    rest.remove_prefix(end == std::string_view::npos ? rest.size() : end + 1);
    size_t eq = line.find('=');
    if (eq == std::string::npos) continue;
    std::string key = line.substr(0, eq), value = line.substr(eq + 1);
    if (key == "state") {
      record.state = ParseServiceState(value).value_or(ServiceState::kStopped);
    } else if (key == "pid") {
      record.pid = static_cast<pid_t>(std::strtol(value.c_str(), nullptr, 10));
    } else if (key == "accepted") {
      record.accepted = static_cast<uint32_t>(std::strtoul(value.c_str(), nullptr, 10));
    }
  }
  return record;
}

std::string FormatRecord(ServiceState state, const std::string& pid, uint32_t accepted) {
  return "state=" + std::string(ServiceStateName(state)) + "\npid=" + pid +
         "\naccepted=" + std::to_string(accepted) + "\n";
}

// The live record of a service, or nullopt when it is not running.
std::optional<StatusRecord> LiveRecord(const std::string& name) {
  auto record = ReadRecord(name);
  if (!record || record->state == ServiceState::kStopped || !ProcessAlive(record->pid)) {
    return std::nullopt;
  }
  return record;
}

class BuiltinServiceManager final : public ServiceManager {
 public:
  explicit BuiltinServiceManager(RegistryStore& registry) : registry_(registry) {}

  std::string_view Kind() const override { return "built-in"; }

  // The service key is the registration; nothing else to keep.
  void Register(const ServiceRegistration&) override {}
  void Unregister(const std::string& name) override { unlink(RecordPath(name).c_str()); }

  void Start(const std::string& name) override {
    std::string image = ImagePath(name);
    if (LiveRecord(name)) throw ServiceManagerError("An instance of the service is already running.");
    if (access(image.c_str(), X_OK) != 0) {
      throw ServiceManagerError("The system cannot find the file specified. (" + image + ")");
    }
    MakePrivateFolder(ServicesDir());
    std::string log = StateDir() + "/" + name + ".log";
    pid_t pid = SpawnDetached(image, {"QUARRIN_SCM=" + name}, log, RecordPath(name),
                              FormatRecord(ServiceState::kStartPending, "{pid}", 0));
    if (pid < 0) {
      throw ServiceManagerError(ErrnoMessage("The service did not start", errno));
    }
  }

  void Control(const std::string& name, uint32_t code) override {
    if (!registry_.KeyExists(RootKey::kLocalMachine, ServiceKey(name))) {
      throw ServiceManagerError("The specified service does not exist as an installed service.");
    }
    auto record = LiveRecord(name);
    if (!record) throw ServiceManagerError("The service has not been started.");
    uint32_t needed = code == kControlStop                                      ? kAcceptStop
                      : (code == kControlPause || code == kControlContinue) ? kAcceptPauseContinue
                      : code == kControlShutdown                              ? kAcceptShutdown
                                                                              : 0;
    if (needed != 0 && (record->accepted & needed) == 0) {
      throw ServiceManagerError("The service cannot accept control messages at this time.");
    }
    int rc;
    if (code == kControlStop) {
      rc = kill(record->pid, SIGTERM);
    } else {
      union sigval value;
      value.sival_int = static_cast<int>(code);
      rc = sigqueue(record->pid, SIGRTMIN, value);
    }
    if (rc != 0) throw ServiceManagerError(ErrnoMessage("Control failed", errno));
  }

  ServiceState Query(const std::string& name) override {
    auto record = LiveRecord(name);
    return record ? record->state : ServiceState::kStopped;
  }

 private:
  static std::string ServiceKey(const std::string& name) {
    return "System\\CurrentControlSet\\Services\\" + name;
  }

  std::string ImagePath(const std::string& name) {
    if (!registry_.KeyExists(RootKey::kLocalMachine, ServiceKey(name))) {
      throw ServiceManagerError("The specified service does not exist as an installed service.");
    }
    auto value = registry_.GetValue(RootKey::kLocalMachine, ServiceKey(name), "ImagePath");
    if (!value || (value->type != ValueType::kString && value->type != ValueType::kExpandString)) {
      throw ServiceManagerError("The service has no valid ImagePath.");
    }
    std::string path = value->data.substr(0, value->data.find('\0'));
    if (path.empty()) throw ServiceManagerError("The service has no valid ImagePath.");
    return path;
  }

  RegistryStore& registry_;
};

class RecordStatusReporter final : public StatusReporter {
 public:
  explicit RecordStatusReporter(std::string name) : name_(std::move(name)) {}
  // The record is state like the registry: private to the service's user.
  bool Report(const ServiceStatus& status, std::string* error) override {
    try {
      MakePrivateFolder(ServicesDir());
    } catch (const std::runtime_error& e) {
      if (error) *error = e.what();
      return false;
    }
    if (!WriteFileAtomically(RecordPath(name_),
                             FormatRecord(status.state, std::to_string(getpid()),
                                          status.controls_accepted),
                             0600)) {
      if (error) *error = ErrnoMessage(RecordPath(name_), errno);
      return false;
    }
    return true;
  }

 private:
  std::string name_;
};

}  // namespace

std::unique_ptr<ServiceManager> MakeBuiltinServiceManager(RegistryStore& registry) {
  return std::make_unique<BuiltinServiceManager>(registry);
}

std::unique_ptr<StatusReporter> MakeRecordStatusReporter(const std::string& service_name) {
  return std::make_unique<RecordStatusReporter>(service_name);
}

}  // namespace quarrin
