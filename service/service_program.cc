#include "service/service_program.h"

#include <cstdio>
#include <exception>
#include <optional>
#include <ostream>
#include <streambuf>
#include <utility>
#include <vector>

#include "core/event_log_size.h"
#include "platform/time/clock.h"
#include "platform/files/paths.h"
#include "platform/files/private_files.h"
#include "platform/service/service_dispatch.h"
#include "service/installer.h"

namespace quarrin {

namespace {

// An output stream straight onto a C stream. Including <iostream> for
// std::cout would make every start of the service set up the standard
// streams and the C++ locale (half a megabyte of libstdc++ touched for the
// life of the process) for the installer's one line.
class CFileStream final : public std::ostream {
 public:
  explicit CFileStream(FILE* file) : std::ostream(nullptr), buffer_(file) { rdbuf(&buffer_); }

 private:
  class Buffer final : public std::streambuf {
   public:
    explicit Buffer(FILE* file) : file_(file) {}

   protected:
    int_type overflow(int_type c) override {
      if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
      return std::fputc(c, file_) == EOF ? traits_type::eof() : c;
    }
    std::streamsize xsputn(const char* text, std::streamsize count) override {
      return static_cast<std::streamsize>(std::fwrite(text, 1, static_cast<size_t>(count), file_));
    }
    int sync() override { return std::fflush(file_) == 0 ? 0 : -1; }

   private:
    FILE* file_;
  };
  Buffer buffer_;
};

}  // namespace

ServiceProgram::ServiceProgram(int argc, char** argv, ServiceProgramNames names)
    : names_(std::move(names)),
      switches_(ParseServiceSwitches(std::vector<std::string>(argv + 1, argv + argc))) {
  if (!switches_.install && !switches_.uninstall) PrepareServiceControl();
}

ServiceProgram::~ServiceProgram() = default;

bool ServiceProgram::Open() {
  const bool as_service = !switches_.install && !switches_.uninstall;
  try {
    EnsureStateFolder();
  } catch (const std::exception& e) {
    // Nothing can be kept there, the event log included: standard error
    // is all there is.
    std::fprintf(stderr, "%s: %s\n", names_.program.c_str(), e.what());
    return false;
  }
  // The state says what runs as root (ImagePath, the starter's hand-over):
  // no other user may be able to change it.
  if (std::optional<std::string> problem = SecureStateFolder(StateDir())) {
    std::fprintf(stderr, "%s: %s; not started\n", names_.program.c_str(), problem->c_str());
    return false;
  }
  event_log_ = OpenEventLog(EventLogDbPath());
  try {
    registry_ = OpenDefaultRegistry();
    event_log_->SetMaxBytes(ReadEventLogMaxBytes(registry_.store(), names_.name));
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s: %s\n", names_.program.c_str(), e.what());
    EventWriter(*event_log_, as_service ? names_.name : ExecutableName())
        .WriteEventLog(e.what(), EventType::kError, 0, 0);
    return false;
  }
  manager_ = MakeServiceManager(registry_.store());
  queue_ = std::make_unique<ControlQueue>();
  waiter_ = std::make_unique<SystemLoopWaiter>(*queue_, SystemClock());
  status_ = MakeStatusReporter(names_.name);
  host_events_ = std::make_unique<EventWriter>(*event_log_, names_.name);
  process_events_ = std::make_unique<EventWriter>(*event_log_, ExecutableName());
  host_ = std::make_unique<ServiceHost>(*host_events_, *status_, *queue_, *waiter_);
  host_->set_process_events(process_events_.get());
  return true;
}

std::optional<int> ServiceProgram::InstallOrCheck(std::function<void()> after_install,
                                                  std::function<void()> after_uninstall) {
  InstallRequest request;
  request.name = names_.name;
  request.display_name = names_.display_name;
  request.image_path = ExecutablePath();
  request.silent = switches_.silent;
  request.after_install = std::move(after_install);
  request.after_uninstall = std::move(after_uninstall);
  if (switches_.install || switches_.uninstall) {
    CFileStream out(stdout);
    CFileStream err(stderr);
    return switches_.install ? InstallService(registry(), manager(), request, out, err)
                             : UninstallService(registry(), manager(), request, out, err);
  }
  if (!StartedByServiceManager(names_.name)) {
    process_events_->WriteEventLog(kDispatcherFailedText, EventType::kError, 0, 0);
    std::fprintf(stderr, "%s: %s\n", names_.program.c_str(), kDispatcherFailedText);
    return 1;
  }
  return std::nullopt;
}

}  // namespace quarrin
