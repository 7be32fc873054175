#include "update/starter_service.h"

#include <cstring>
#include <exception>
#include <optional>
#include <thread>

#include "core/deployment.h"
#include "core/file_version.h"
#include "core/registry.h"
#include "core/service_identity.h"
#include "platform/files/file_io.h"
#include "platform/files/file_replace.h"
#include "platform/files/paths.h"
#include "platform/text/utf8.h"
#include "platform/version/version_resource.h"
#include "service/installer.h"
#include "update/handover.h"
#include "update/update_check.h"
#include "update/update_signature.h"

namespace quarrin {
namespace {

std::string Seconds(std::chrono::milliseconds d) {
  long long ms = d.count();
  if (ms % 1000 == 0) return std::to_string(ms / 1000) + " s";
  return std::to_string(ms / 1000) + "." + std::to_string(ms % 1000 / 100) + " s";
}

struct HandOver {
  std::string service_update;
  std::string target;
};

std::optional<HandOver> ReadHandOver(RegistryStore& store) {
  Registry reg(store, kAccessRead);
  reg.SetRootKey(RootKey::kLocalMachine);
  if (!reg.OpenKeyReadOnly(StarterKey())) return std::nullopt;
  HandOver h{reg.ReadString(kServiceUpdateValue), reg.ReadString(kTargetServiceValue)};
  if (h.service_update.empty() || h.target.empty()) return std::nullopt;
  return h;
}

std::string ImagePathOf(RegistryStore& store, const std::string& service) {
  Registry reg(store, kAccessRead);
  reg.SetRootKey(RootKey::kLocalMachine);
  if (!reg.OpenKeyReadOnly(std::string(kServicesKey) + service)) return "";
  // The service manager runs a quoted path (one with a space) as it is.
  std::string path = reg.ReadString("ImagePath");
  if (path.size() >= 2 && path.front() == '"' && path.back() == '"') path = path.substr(1, path.size() - 2);
  return path;
}

// Why the download's signature does not hold, or nullopt when it does or
// no key is configured.
std::optional<std::string> SignatureProblem(RegistryStore& store, const std::string& download) {
  const std::string key_line = ReadUpdatePublicKey(store);
  if (key_line.empty()) return std::nullopt;
  const std::string signature_file = download + kSignatureSuffix;
  try {
    UpdatePublicKey key = ParseUpdatePublicKey(key_line);
    // A .minisig file is a few short lines; more is not one.
    std::string signature;
    if (int error = ReadFileCapped(signature_file, 16u << 10, &signature)) {
      return "has no signature " + signature_file + " (" + std::strerror(error) + ")";
    }
    VerifyFileSignature(key, signature, download);
    return std::nullopt;
  } catch (const SignatureError& e) {
    return std::string("is refused: ") + e.what();
  }
}

// A fit download: a regular file (not a link), runnable here, with a
// version resource. The reason when it is not.
std::optional<std::string> UnfitDownload(const std::string& path) {
  if (!ExecutableForThisMachine(path)) return "is not an executable for this machine";
  if (!ReadVersionResource(path)) return "has no version resource";
  return std::nullopt;
}

}  // namespace

StarterService::StarterService(RegistryStore& registry, EventLog& event_log,
                               ServiceManager& manager, ServiceHost* host, StarterTimeouts timeouts)
    : registry_(registry),
      manager_(manager),
      host_(host),
      timeouts_(timeouts),
      events_(event_log, kStarterServiceName),
      version_text_(GetFileVersion("").Text) {}

void StarterService::ServiceExecute() { InstallHandedOver(); }

void StarterService::ServiceAfterInstall() { AddEventLogSource(registry_, kStarterServiceName); }

void StarterService::ServiceAfterUninstall() {
  RemoveEventLogSource(registry_, kStarterServiceName);
}

void StarterService::Step(const std::string& text) {
  events_.WriteEventLog(version_text_ + " " + text, EventType::kInformation, 0, kStarterStepEvent);
}
void StarterService::Failure(const std::string& text) {
  events_.WriteEventLog(version_text_ + " " + text, EventType::kError, 0, kStarterFailureEvent);
}
void StarterService::Rollback(const std::string& text) {
  events_.WriteEventLog(version_text_ + " " + text, EventType::kWarning, 0, kStarterRollbackEvent);
}

StarterOutcome StarterService::InstallHandedOver() {
  try {
    return Install();
  } catch (const std::exception& e) {
    // The registry store failing is about the only way here; nothing has
    // been renamed when it does, since the renames come after every read.
    Failure(std::string("Installation ended: ") + e.what());
    return StarterOutcome::kAbandoned;
  }
}

StarterOutcome StarterService::Install() {
  std::optional<HandOver> h = ReadHandOver(registry_);
  if (!h) {
    Failure(std::string("No hand-over values in HKEY_LOCAL_MACHINE") + StarterKey() +
            "; nothing to install");
    return StarterOutcome::kNothingHandedOver;
  }
  Step("Hand-over: ServiceUpdate=" + h->service_update + ", TargetService=" + h->target);
  const std::string& target = h->target;

  const std::string image = ImagePathOf(registry_, target);
  if (image.empty() || !PathFromUtf8(image).is_absolute()) {
    Failure("Service " + target + " is not installed with an executable path; nothing to install");
    return StarterOutcome::kNothingHandedOver;
  }
  const std::string download = DownloadPathBeside(image);
  if (h->service_update != download && h->service_update != HandOverPath(image)) {
    return StartUnchanged(target, "ServiceUpdate " + h->service_update +
                                      " does not name the download of " + target + " (" + download +
                                      ")");
  }

  std::string missing;
  switch (KindOfFile(download, false, &missing)) {
    case FileKind::kMissing:
      // Also what a start at boot finds.
      return StartUnchanged(target, "No downloaded file " + download + " (" + missing + ")", false);
    case FileKind::kOther:
      return StartUnchanged(target, download + " is not a regular file");
    case FileKind::kRegular:
      break;
  }
  if (std::optional<std::string> problem = UnfitDownload(download)) {
    RemoveFile(download);
    return StartUnchanged(target, download + " " + *problem + "; deleted");
  }
  const std::string new_version = GetFileVersion(download).Text;

  Step("Waiting for " + target + " to stop");
  if (!WaitForState(target, ServiceState::kStopped, timeouts_.stop_wait, true)) {
    Failure(target + " did not stop within " + Seconds(timeouts_.stop_wait) +
            "; nothing installed, " + download + " left in place");
    return StarterOutcome::kAbandoned;
  }

  // Checked now, after the wait: the file may have changed since the
  // agent checked it.
  if (std::optional<std::string> problem = SignatureProblem(registry_, download)) {
    RemoveFile(download);
    RemoveFile(download + kSignatureSuffix);
    return StartUnchanged(target, download + " " + *problem + "; deleted");
  }

  // Keep the previous executable until the new one has shown it runs.
  const bool have_old = KindOfFile(image, true) == FileKind::kRegular;
  const std::string old_version = have_old ? GetFileVersion(image).Text : "none";
  const std::string backup = image + kPreviousSuffix;
  if (have_old) {
    if (std::optional<std::string> why = KeepPreviousFile(image, backup)) {
      return StartUnchanged(target,
                            "Cannot keep the previous executable as " + backup + ": " + *why);
    }
  }
  // The download takes the executable's permissions and owner.
  if (std::optional<std::string> why = TakeExecutablePermissions(download, image)) {
    if (have_old) RemoveFile(backup);
    return StartUnchanged(target,
                          "Cannot give " + download + " the permissions of " + image + ": " + *why);
  }
  if (std::optional<std::string> why = RenameWhenReleased(download, image, true)) {
    if (have_old) RemoveFile(backup);
    return StartUnchanged(target, "Cannot rename " + download + " to " + image + ": " + *why);
  }
  RemoveFile(download + kSignatureSuffix);
  Step("Installed " + image + " version " + new_version + " (previous version " + old_version +
       (have_old ? " kept as " + backup : "") + ")");

  if (Start(target) && WaitForRunning(target)) {
    Step(target + " is running version " + new_version);
    if (have_old) RemoveFile(backup);
    return StarterOutcome::kInstalled;
  }

  Rollback(target + " did not report running within " + Seconds(timeouts_.running_wait) +
           " with version " + new_version + "; putting version " + old_version + " back");
  try {
    manager_.Control(target, kControlStop);
  } catch (const std::exception&) {
    // Most often it has stopped already.
  }
  if (!WaitForState(target, ServiceState::kStopped, timeouts_.stop_wait, false)) {
    Failure(target + " did not stop within " + Seconds(timeouts_.stop_wait) +
            "; the previous version is put back all the same");
  }
  if (!have_old) {
    Failure("There was no previous executable of " + target + " to put back");
    return StarterOutcome::kRolledBack;
  }
  if (std::optional<std::string> why = RenameWhenReleased(backup, image, false)) {
    Failure("Cannot rename " + backup + " to " + image + ": " + *why);
    return StarterOutcome::kRolledBack;
  }
  if (Start(target) && WaitForRunning(target)) {
    Step(target + " is running the previous version " + old_version + " again");
  } else {
    Failure("The previous version " + old_version + " of " + target +
            " did not report running either");
  }
  return StarterOutcome::kRolledBack;
}

StarterOutcome StarterService::StartUnchanged(const std::string& target, const std::string& why,
                                              bool failure) {
  std::string text = why + "; " + target + " is started unchanged";
  if (failure) {
    Failure(text);
  } else {
    Step(text);
  }
  // The target may still be on its way down from the hand-over.
  if (!WaitForState(target, ServiceState::kStopped, timeouts_.stop_wait, true)) {
    Step(target + " did not stop; nothing to start");
    return StarterOutcome::kStartedUnchanged;
  }
  Start(target);
  return StarterOutcome::kStartedUnchanged;
}

bool StarterService::Start(const std::string& target) {
  Step("Starting " + target);
  try {
    manager_.Start(target);
    return true;
  } catch (const std::exception& e) {
    Failure(target + " could not be started: " + e.what());
    return false;
  }
}

bool StarterService::WaitForState(const std::string& target, ServiceState wanted,
                                  std::chrono::milliseconds limit, bool give_up_on_stop_request) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (true) {
    try {
      if (manager_.Query(target) == wanted) return true;
    } catch (const std::exception&) {
      // The manager could not be asked this time; ask again.
    }
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(timeouts_.poll);
    if (host_ != nullptr) {
      host_->DeliverControlRequests();
      if (give_up_on_stop_request && host_->StopRequested()) return false;
    }
  }
}

std::optional<std::string> StarterService::RenameWhenReleased(const std::string& from,
                                                              const std::string& to,
                                                              bool give_up_on_stop_request) {
  const auto deadline = std::chrono::steady_clock::now() + timeouts_.release_wait;
  while (true) {
    bool in_use = false;
    std::optional<std::string> why = RenameOver(from, to, &in_use);
    if (!why || !in_use || std::chrono::steady_clock::now() >= deadline) return why;
    std::this_thread::sleep_for(timeouts_.poll);
    if (host_ != nullptr) {
      host_->DeliverControlRequests();
      if (give_up_on_stop_request && host_->StopRequested()) return why;
    }
  }
}

bool StarterService::WaitForRunning(const std::string& target) {
  // A target that was seen starting and is then found stopped again has
  // failed; there is no need to wait out the time-out. Right after a start
  // request some managers still show it stopped, so that alone says nothing.
  const auto deadline = std::chrono::steady_clock::now() + timeouts_.running_wait;
  bool seen_starting = false;
  while (true) {
    try {
      ServiceState state = manager_.Query(target);
      if (state == ServiceState::kRunning) return true;
      if (state != ServiceState::kStopped) {
        seen_starting = true;
      } else if (seen_starting) {
        return false;
      }
    } catch (const std::exception&) {
    }
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(timeouts_.poll);
    if (host_ != nullptr) host_->DeliverControlRequests();
  }
}

}  // namespace quarrin
