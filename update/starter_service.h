// The starter service TARNStartSrvc: when started, it installs the agent
// executable that the agent downloaded and handed over, restarts the agent,
// and stops again.
//
// The installation, step by step, each step written to the event log under
// the source "TARNStartSrvc":
//
//  1. Read "ServiceUpdate" and "TargetService" from its own service key.
//  2. The executable to replace is the target service's registered
//     ImagePath; the download is "~" + its name beside it. ServiceUpdate
//     must name that download (as the agent writes it, see HandOverPath);
//     the starter never moves any other file.
//  3. The download must be an executable for this machine with a version
//     resource. A missing download, or one that is not, leaves the target's
//     executable as it is (an unfit download is deleted): the target is
//     started again unchanged once it has stopped.
//  4. Wait for the target to stop (kStopWait). If it does not, nothing is
//     installed and the target is left running.
//  4a. With an update public key configured (as the agent reads it), the
//     download must hold a good signature by it in the file beside it
//     (download + ".minisig"), checked now, just before it is installed; one
//     that does not is deleted with its signature and the target is started
//     unchanged.
//  5. Keep the previous executable as <exe>.previous (a hard link, or a
//     copy), give the download the executable's mode and owner, and rename
//     it over the executable: the path always names a whole executable.
//     While the ended target's process still holds its executable (Windows,
//     for a moment after the service reported stopped), the rename is tried
//     again (kReleaseWait).
//  6. Start the target and wait for it to report running (kRunningWait).
//     Running: the previous executable is deleted. Otherwise the previous
//     one is renamed back, and started.
//
// Then the execute handler returns, and the service reports stopped.
#ifndef QUARRIN_UPDATE_STARTER_SERVICE_H_
#define QUARRIN_UPDATE_STARTER_SERVICE_H_

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

#include "core/event_writer.h"
#include "platform/registry/registry_store.h"
#include "platform/service/service_manager.h"
#include "service/service_host.h"

namespace quarrin {

// The starter's own event IDs: a step done (information), a failure that
// ends the installation (error), and a rollback (warning).
inline constexpr uint32_t kStarterStepEvent = 1;
inline constexpr uint32_t kStarterFailureEvent = 2;
inline constexpr uint32_t kStarterRollbackEvent = 3;

inline constexpr char kPreviousSuffix[] = ".previous";

struct StarterTimeouts {
  // For the target to stop after its hand-over: its update check has
  // returned and its stop handler only closes the HTTP server.
  std::chrono::milliseconds stop_wait{std::chrono::seconds(60)};
  // For the started target to report running; the agent reports it before
  // its start-up runs, so this is ample.
  std::chrono::milliseconds running_wait{std::chrono::seconds(60)};
  // For the stopped target's process to let go of its executable.
  std::chrono::milliseconds release_wait{std::chrono::seconds(10)};
  std::chrono::milliseconds poll{100};
};

enum class StarterOutcome {
  kNothingHandedOver,  // no values, or the target is not installed
  kStartedUnchanged,   // no fit download: the target started as it was
  kInstalled,          // the new executable runs
  kRolledBack,         // the new one did not run; the previous one is back
  kAbandoned,          // the target did not stop, or a step before the rename failed
};

class StarterService final : public ServiceHandlers {
 public:
  // All references must outlive the service. `host` may be null (then no
  // control request is delivered while the installation waits).
  StarterService(RegistryStore& registry, EventLog& event_log, ServiceManager& manager,
                 ServiceHost* host, StarterTimeouts timeouts = {});

  void ServiceStart(bool& started) override { started = true; }
  // Runs the installation.
  void ServiceExecute() override;
  void ServiceStop(bool& stopped) override { stopped = true; }
  void ServiceShutdown() override {}
  // Run by the installing process: the event-log source key, as the agent's.
  void ServiceAfterInstall();
  void ServiceAfterUninstall();

  // The installation above. Never throws.
  StarterOutcome InstallHandedOver();

  const EventWriter& events() const { return events_; }

 private:
  StarterOutcome Install();
  // Logs why (as a failure, or as a step), waits for the target to stop and
  // starts it again as it is.
  StarterOutcome StartUnchanged(const std::string& target, const std::string& why,
                                bool failure = true);
  bool WaitForState(const std::string& target, ServiceState wanted, std::chrono::milliseconds limit,
                    bool give_up_on_stop_request);
  bool WaitForRunning(const std::string& target);
  // RenameOver, tried again while a process still holds a file (see
  // step 5) until release_wait has passed (or a stop is requested, when
  // the caller gives up on one).
  std::optional<std::string> RenameWhenReleased(const std::string& from, const std::string& to,
                                                bool give_up_on_stop_request);
  // Requests a start and says so in the log; false when it was refused.
  bool Start(const std::string& target);
  void Step(const std::string& text);
  void Failure(const std::string& text);
  void Rollback(const std::string& text);

  RegistryStore& registry_;
  ServiceManager& manager_;
  ServiceHost* host_;
  StarterTimeouts timeouts_;
  EventWriter events_;
  std::string version_text_;
};

}  // namespace quarrin

#endif  // QUARRIN_UPDATE_STARTER_SERVICE_H_
