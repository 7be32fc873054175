// The service control manager's side of the service process: the
// dispatcher, the service main and its control handler, and the status
// reports; or, started in the foreground, the console's control events.
#include "platform/service/service_dispatch.h"

#include <windows.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <thread>

#include "platform/text/ascii.h"
#include "platform/service/service_manager.h"
#include "platform/text/wide_text_windows.h"

namespace quarrin {
namespace {

// The one service of the process; the manager's callbacks take no context
// but this.
struct Dispatch {
  std::wstring name;
  const std::function<void(uint32_t)>* control = nullptr;
  const std::function<void()>* run = nullptr;
  std::string failure;  // why the service main could not run the service
  // Set when the service main returns: the dispatcher may return as soon as
  // the service reported stopped, before the service main has let go.
  std::mutex mu;
  std::condition_variable cv;
  bool main_done = false;
};
Dispatch* current = nullptr;

// What the status reports need, set by the service main.
std::mutex status_mu;
SERVICE_STATUS_HANDLE status_handle = nullptr;
DWORD check_point = 0;
DWORD last_state = SERVICE_STOPPED;

bool Pending(DWORD state) {
  return state == SERVICE_START_PENDING || state == SERVICE_STOP_PENDING ||
         state == SERVICE_CONTINUE_PENDING || state == SERVICE_PAUSE_PENDING;
}

bool SetStatus(const ServiceStatus& status, std::string* error) {
  std::lock_guard lock(status_mu);
  if (status_handle == nullptr) return true;  // in the foreground: nobody to tell
  SERVICE_STATUS s{};
  s.dwServiceType = status.service_type;
  s.dwCurrentState = static_cast<DWORD>(status.state);
  // The accepted-controls bits are the manager's own.
  s.dwControlsAccepted = status.controls_accepted;
  s.dwWin32ExitCode = status.exit_code;
  // While a change is pending the check point counts up, so that the
  // manager sees progress within each wait hint.
  s.dwCheckPoint = Pending(s.dwCurrentState) ? ++check_point : (check_point = 0);
  s.dwWaitHint = status.wait_hint_ms;
  if (!SetServiceStatus(status_handle, &s)) {
    if (error) *error = SystemErrorText(GetLastError());
    return false;
  }
  last_state = s.dwCurrentState;
  return true;
}

class ScmStatusReporter final : public StatusReporter {
 public:
  bool Report(const ServiceStatus& status, std::string* error) override {
    return SetStatus(status, error);
  }
};

bool Forwarded(DWORD code) {
  return (code >= SERVICE_CONTROL_STOP && code <= SERVICE_CONTROL_SHUTDOWN) ||
         (code >= 128 && code <= 255);
}

// Runs on the dispatcher thread: only queues the code.
DWORD WINAPI ControlHandler(DWORD code, DWORD, LPVOID, LPVOID) {
  if (!Forwarded(code)) return ERROR_CALL_NOT_IMPLEMENTED;
  (*current->control)(code);
  return NO_ERROR;
}

void RunServiceMain();

void WINAPI ServiceMain(DWORD, LPWSTR*) {
  RunServiceMain();
  Dispatch& dispatch = *current;
  {
    std::lock_guard lock(dispatch.mu);
    dispatch.main_done = true;
  }
  dispatch.cv.notify_all();
}

void RunServiceMain() {
  SERVICE_STATUS_HANDLE handle =
      RegisterServiceCtrlHandlerExW(current->name.c_str(), ControlHandler, nullptr);
  if (handle == nullptr) {
    current->failure = SystemErrorText(GetLastError());
    return;
  }
  {
    std::lock_guard lock(status_mu);
    status_handle = handle;
    check_point = 0;
  }
  ServiceStatus status;
  status.state = ServiceState::kStartPending;
  SetStatus(status, nullptr);
  std::thread service(*current->run);
  service.join();
  // The service reports stopped itself; this is for one that could not.
  bool stopped;
  {
    std::lock_guard lock(status_mu);
    stopped = last_state == SERVICE_STOPPED;
  }
  if (!stopped) {
    status.state = ServiceState::kStopped;
    SetStatus(status, nullptr);
  }
}

BOOL WINAPI ConsoleHandler(DWORD event) {
  switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
    case CTRL_CLOSE_EVENT:
      (*current->control)(SERVICE_CONTROL_STOP);
      return TRUE;
    case CTRL_SHUTDOWN_EVENT:
      (*current->control)(SERVICE_CONTROL_SHUTDOWN);
      return TRUE;
    default:
      return FALSE;
  }
}

bool InForeground(const std::string& service_name) {
  const char* scm = std::getenv("QUARRIN_SCM");
  return scm && EqualsIgnoringAsciiCase(service_name, scm);
}

}  // namespace

void PrepareServiceControl() {}

bool StartedByServiceManager(const std::string&) { return true; }

std::optional<std::string> DispatchService(const std::string& service_name,
                                           const std::function<void(uint32_t)>& control,
                                           const std::function<void()>& run) {
  Dispatch dispatch;
  dispatch.name = WideFromUtf8Lenient(service_name);
  dispatch.control = &control;
  dispatch.run = &run;
  current = &dispatch;

  std::optional<std::string> failure;
  if (InForeground(service_name)) {
    SetConsoleCtrlHandler(ConsoleHandler, TRUE);
    std::thread service(run);
    service.join();
    SetConsoleCtrlHandler(ConsoleHandler, FALSE);
  } else {
    SERVICE_TABLE_ENTRYW table[] = {{dispatch.name.data(), ServiceMain}, {nullptr, nullptr}};
    if (!StartServiceCtrlDispatcherW(table)) {
      failure = SystemErrorText(GetLastError());
    } else {
      std::unique_lock lock(dispatch.mu);
      // Only its last steps are left, which end at once.
      dispatch.cv.wait_for(lock, std::chrono::seconds(10), [&] { return dispatch.main_done; });
      if (!dispatch.failure.empty()) failure = dispatch.failure;
    }
  }
  {
    std::lock_guard lock(status_mu);
    status_handle = nullptr;
  }
  current = nullptr;
  return failure;
}

std::unique_ptr<StatusReporter> MakeStatusReporter(const std::string&) {
  return std::make_unique<ScmStatusReporter>();
}

}  // namespace quarrin
