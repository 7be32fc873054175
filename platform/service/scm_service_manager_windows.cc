// The service control manager: registration with CreateService and
// DeleteService, start, control and query requests through the manager.
#include <windows.h>

#include "platform/service/service_manager.h"
#include "platform/text/wide_text_windows.h"

namespace quarrin {
namespace {

[[noreturn]] void ThrowLastError() { throw ServiceManagerError(SystemErrorText(GetLastError())); }

// A service handle or the manager's, closed when it goes.
class ScHandle {
 public:
  explicit ScHandle(SC_HANDLE handle) : handle_(handle) {}
  ~ScHandle() {
    if (handle_ != nullptr) CloseServiceHandle(handle_);
  }
  ScHandle(const ScHandle&) = delete;
  ScHandle& operator=(const ScHandle&) = delete;
  SC_HANDLE get() const { return handle_; }

 private:
  SC_HANDLE handle_;
};

std::wstring Wide(const std::string& text) { return WideFromUtf8Lenient(text); }

// The manager of this computer with full access (0xF003F).
ScHandle OpenManager() {
  SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
  if (manager == nullptr) ThrowLastError();
  return ScHandle(manager);
}

ScHandle OpenNamedService(const ScHandle& manager, const std::string& name, DWORD access) {
  SC_HANDLE service = OpenServiceW(manager.get(), Wide(name).c_str(), access);
  if (service == nullptr) ThrowLastError();
  return ScHandle(service);
}

// The access a control code needs.
DWORD ControlAccess(uint32_t code) {
  switch (code) {
    case kControlStop:
      return SERVICE_STOP;
    case kControlPause:
    case kControlContinue:
      return SERVICE_PAUSE_CONTINUE;
    case kControlInterrogate:
      return SERVICE_INTERROGATE;
    default:
      return SERVICE_USER_DEFINED_CONTROL;
  }
}

// The list of dependencies: names each ended by a zero, and one more zero.
std::wstring MultiString(const std::vector<std::string>& names) {
  std::wstring out;
  for (const std::string& name : names) {
    out += Wide(name);
    out.push_back(L'\0');
  }
  out.push_back(L'\0');
  return out;
}

class ScmServiceManager final : public ServiceManager {
 public:
  std::string_view Kind() const override { return "service control manager"; }
  bool KeepsServiceKey() const override { return true; }

  void Register(const ServiceRegistration& r) override {
    ScHandle manager = OpenManager();
    // A path with a space is quoted: unquoted, the manager would try
    // C:\Program.exe first for C:\Program Files\..., which any user who
    // may write to C:\ could plant.
    const std::string path = r.image_path.find(' ') != std::string::npos && r.image_path[0] != '"'
                                 ? '"' + r.image_path + '"'
                                 : r.image_path;
    const std::wstring name = Wide(r.name), display = Wide(r.display_name), image = Wide(path),
                       dependencies = MultiString(r.dependencies);
    // No load-order group or tag; the local system account, no password.
    SC_HANDLE service = CreateServiceW(
        manager.get(), name.c_str(), display.c_str(), SERVICE_ALL_ACCESS, r.service_type,
        r.start_type, r.error_control, image.c_str(), nullptr, nullptr,
        r.dependencies.empty() ? nullptr : dependencies.c_str(), nullptr, nullptr);
    if (service == nullptr) ThrowLastError();
    CloseServiceHandle(service);
  }

  void Unregister(const std::string& name) override {
    ScHandle manager = OpenManager();
    ScHandle service = OpenNamedService(manager, name, SERVICE_ALL_ACCESS);
    if (!DeleteService(service.get())) ThrowLastError();
  }

  void Start(const std::string& name) override {
    ScHandle manager = OpenManager();
    ScHandle service = OpenNamedService(manager, name, SERVICE_START);
    if (!StartServiceW(service.get(), 0, nullptr)) ThrowLastError();
  }

  void Control(const std::string& name, uint32_t code) override {
    ScHandle manager = OpenManager();
    ScHandle service = OpenNamedService(manager, name, ControlAccess(code));
    SERVICE_STATUS status;
    if (!ControlService(service.get(), code, &status)) ThrowLastError();
  }

  ServiceState Query(const std::string& name) override {
    ScHandle manager = OpenManager();
    SC_HANDLE handle = OpenServiceW(manager.get(), Wide(name).c_str(), SERVICE_QUERY_STATUS);
    if (handle == nullptr) {
      if (GetLastError() == ERROR_SERVICE_DOES_NOT_EXIST) return ServiceState::kStopped;
      ThrowLastError();
    }
    ScHandle service(handle);
    SERVICE_STATUS_PROCESS status;
    DWORD needed = 0;
    if (!QueryServiceStatusEx(service.get(), SC_STATUS_PROCESS_INFO,
                              reinterpret_cast<BYTE*>(&status), sizeof status, &needed)) {
      ThrowLastError();
    }
    if (status.dwCurrentState < SERVICE_STOPPED || status.dwCurrentState > SERVICE_PAUSED) {
      return ServiceState::kStopped;
    }
    return static_cast<ServiceState>(status.dwCurrentState);
  }
};

}  // namespace

std::unique_ptr<ServiceManager> MakeServiceManager(RegistryStore&) {
  return std::make_unique<ScmServiceManager>();
}

}  // namespace quarrin
