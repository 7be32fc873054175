#include "update/update_check.h"

#include <algorithm>
#include <cstring>
#include <exception>
#include <stdexcept>
#include <utility>

#include "core/agent_metrics.h"
#include "diag/syslog.h"
#include "diag/syslog_catalogue.h"
#include "platform/text/ascii.h"
#include "platform/files/file_io.h"
#include "platform/files/file_replace.h"
#include "platform/files/managing_package.h"
#include "update/handover.h"
#include "update/manifest.h"
#include "update/update_signature.h"

namespace quarrin {

// One check's hold on the buffer; the buffer is free again when it ends.
class DownloadSession {
 public:
  explicit DownloadSession(DownloadBuffer& buffer)
      : buffer_(buffer), lock_(buffer.mu_, std::try_to_lock) {}
  ~DownloadSession() {
    if (lock_.owns_lock()) Free();
  }
  bool acquired() const { return lock_.owns_lock(); }
  std::string& bytes() { return buffer_.bytes_; }
  // Empties the buffer and gives its memory back at once: the download is
  // on disk, and a day may pass before the next one.
  void Free() { std::string().swap(buffer_.bytes_); }

 private:
  DownloadBuffer& buffer_;
  std::unique_lock<std::mutex> lock_;
};

void DownloadBuffer::Release() {
  std::lock_guard lock(mu_);
  std::string().swap(bytes_);
}

size_t DownloadBuffer::size() const {
  std::lock_guard lock(mu_);
  return bytes_.size();
}

namespace {

constexpr char kBusyText[] = "Error: An update check is already running";

[[noreturn]] void ThrowFileError(const char* what, const std::string& path,
                                 const std::string& why) {
  throw std::runtime_error(std::string(what) + " \"" + path + "\". " + why);
}

void WriteWholeFile(const std::string& path, const std::string& bytes) {
  // The starter service renames the file into place: it must be whole on
  // disk before anyone is told about it.
  const FileWrite written = WriteFileSynced(path, bytes);
  if (written.error != 0) {
    ThrowFileError(written.created ? "Cannot write file" : "Cannot create file", path,
                   std::strerror(written.error));
  }
}

void CreateEmptyFile(const std::string& path) { WriteWholeFile(path, ""); }

HttpRequest DownloadRequest(const UpdateContext& c, const std::string& url) {
  HttpRequest r;
  r.method = HttpMethod::kGet;
  r.url = url;  // its own port, or 80 for http
  r.user_agent = "Mozilla/4.0";
  r.headers = {{"Connection", "Keep-Alive"},
               {"Cache-Control", "no-cache"},
               {"Content-Type", "text/html"},
               {"Accept", "text/html, */*"}};
  r.connect_timeout = c.limits.connect_timeout;
  r.idle_timeout = c.limits.read_timeout;
  r.total_timeout = c.limits.total_timeout;
  r.max_body_bytes = c.limits.max_body_bytes;
  r.max_redirects = c.limits.max_redirects;
  r.cookies = true;
  return r;
}

class Check {
 public:
  explicit Check(const UpdateContext& c)
      : c_(c),
        ver_(c.current.Text),
        exe_(FileNameOf(c.exe_path)),
        upper_exe_(UpperAscii(exe_)),
        download_file_(DownloadPathBeside(c.exe_path)) {}

  UpdateOutcome Run(tFileUpdate* update) {
    const UpdateOutcome outcome = Checked(update);
    if (outcome != UpdateOutcome::kBusy && c_.metrics != nullptr) {
      const bool read = !update->Text.starts_with("Error: ");
      c_.metrics->UpdateChecked(read ? std::optional<std::string>(update->Text) : std::nullopt,
                                read && outcome != UpdateOutcome::kNoUpdate, signature_refused_);
    }
    return outcome;
  }

 private:
  UpdateOutcome Checked(tFileUpdate* update) {
    update->UpdateAvailable = false;
    DownloadSession session(*c_.buffer);
    if (!session.acquired()) {
      update->Text = kBusyText;
      return UpdateOutcome::kBusy;
    }

    if (c_.update_public_key.empty()) {
      Event(ver_ + " Updates are not verified: no update public key is configured "
                   "(UpdatePublicKey)",
            EventType::kWarning, kUnverifiedUpdateEvent);
    }
    ReadManifestVersion(*c_.http, c_.download_url + "/" + ManifestFileName(exe_),
                        kDefaultVersionSection, c_.current, update);
    const bool available = update->UpdateAvailable;
    Send(UpdateCheckMessage(ver_, update->Text, available));
    Event(ver_ + " Check for update of " + exe_ + " (" + c_.service_name +
              "):\r\nCurrent version:" + ver_ + "\r\nUpdated version:" + update->Text + " \r\n" +
              (available ? "Update required." : "No update required."),
          EventType::kSuccess, 100);
    if (!available) return UpdateOutcome::kNoUpdate;

    // Files a package manager installed are its to replace: a download
    // renamed over them would be undone, or downgraded, by the package's
    // next upgrade.
    if (std::optional<std::string> package = ManagingPackage(c_.exe_path)) {
      Event(ver_ + " " + upper_exe_ + " Self-update is off: " + c_.exe_path +
                " is managed by the package " + *package + ". Upgrade the package to get version " +
                update->Text + ".",
            EventType::kWarning, 104);
      return UpdateOutcome::kManagedByPackage;
    }

    const std::string url = c_.download_url + "/" + exe_;
    Event(ver_ + " " + url + " download initiated.", EventType::kSuccess, 102);
    if (!DownloadUpdate(session, url, *update)) {
      Event(ver_ + " " + upper_exe_ + " Download failed.\r\n", EventType::kWarning, 104);
      return UpdateOutcome::kDownloadFailed;
    }

    Send(RestartingMessage());
    Event(ver_ + " " + upper_exe_ + " Download completed.", EventType::kSuccess, 103);
    Event(ver_ + " " + upper_exe_ + " Stopping - " + c_.service_name, EventType::kSuccess, 103);
    WriteHandOverValues(*c_.registry, HandOverPath(c_.exe_path), c_.service_name);
    Event(ver_ + " " + upper_exe_ + " Starting - " + kStarterServiceName, EventType::kSuccess, 103);
    RequestRestartThroughStarter(*c_.service_manager, *c_.registry, c_.service_name);
    update->UpdateAvailable = true;
    return UpdateOutcome::kHandedOver;
  }

  bool DownloadUpdate(DownloadSession& session, const std::string& url,
                      const tFileVersion& published) {
    Send(DownloadInitiatedMessage(exe_));
    bool ok = Download(session, url, published);
    Send(DownloadCompletedMessage(exe_));
    return ok;
  }

  bool Download(DownloadSession& session, const std::string& url, const tFileVersion& published) {
    // The probe: a file that cannot be created is found before anything is
    // fetched.
    try {
      CreateEmptyFile(download_file_);
    } catch (const std::exception& e) {
      Send(DownloadFileFailedMessage(e.what()));
      Event(std::string("E.Message1=") + e.what(), EventType::kError, 999);
      return false;
    }
    try {
      session.Free();
      HttpResponse response = c_.http->Send(DownloadRequest(c_, url));
      session.bytes() = std::move(response.body);
      if (response.status == 200 && !c_.update_public_key.empty()) {
        // Nothing unverified is written where the starter service takes it.
        std::string why;
        if (!FetchAndVerifySignature(url, session.bytes(), &why)) {
          signature_refused_ = true;
          session.Free();
          Discard();
          Send(UpdateRefusedMessage(why));
          Event("E.Message2=" + why, EventType::kError, 999);
          return false;
        }
      }
      WriteWholeFile(download_file_, session.bytes());
      session.Free();
      if (response.status != 200) {
        // The file keeps what the server sent; the next start removes it.
        Event("Response Code=" + std::to_string(response.status) + "\r\n", EventType::kError, 999);
        Send(DownloadStatusMessage(response.status));
        return false;
      }
      // A proxy's error page, a cut-off body or a file for another machine
      // must never reach the starter service: it would replace a working
      // agent with one that cannot run.
      if (std::optional<std::string> problem = DownloadedFileProblem(download_file_, published)) {
        Discard();
        Event("E.Message2=" + *problem, EventType::kError, 999);
        return false;
      }
      if (std::optional<std::string> why = MarkExecutable(download_file_)) {
        ThrowFileError("Cannot make executable", download_file_, *why);
      }
      return true;
    } catch (const std::exception& e) {
      session.Free();
      // A transfer abandoned for a stop leaves nothing of itself behind.
      auto* http = dynamic_cast<const HttpError*>(&e);
      if (http != nullptr && http->kind() == HttpError::Kind::kCancelled) {
        RemoveFile(download_file_);
      }
      Event(std::string("E.Message2=") + e.what(), EventType::kError, 999);
      return false;
    }
  }

  // Fetches url + ".minisig" and checks the download against it; writes
  // the signature beside the download file when it holds. False with the
  // reason otherwise.
  bool FetchAndVerifySignature(const std::string& url, const std::string& bytes,
                               std::string* why) {
    const std::string signature_url = url + kSignatureSuffix;
    HttpRequest request = DownloadRequest(c_, signature_url);
    request.max_body_bytes = c_.limits.max_signature_bytes;
    try {
      UpdatePublicKey key = ParseUpdatePublicKey(c_.update_public_key);
      HttpResponse response = c_.http->Send(request);
      if (response.status != 200) {
        *why = "No signature of the download: " + signature_url + " answered status " +
               std::to_string(response.status);
        return false;
      }
      VerifySignature(key, response.body, bytes);
      WriteWholeFile(download_file_ + kSignatureSuffix, response.body);
      return true;
    } catch (const HttpError& e) {
      *why = "No signature of the download: " + signature_url + ": " + e.what();
    } catch (const std::exception& e) {
      *why = e.what();
    }
    return false;
  }

  // Removes the download file and its signature: neither may reach the
  // starter service.
  void Discard() {
    RemoveFile(download_file_);
    RemoveFile(download_file_ + kSignatureSuffix);
  }

  void Send(const SyslogMessage& message) {
    if (c_.syslog != nullptr) c_.syslog->Send(message);
  }
  void Event(const std::string& text, EventType type, uint32_t id) {
    c_.events->WriteEventLog(text, type, 0, id);
  }

  const UpdateContext& c_;
  const std::string ver_;
  const std::string exe_;
  const std::string upper_exe_;
  const std::string download_file_;
  bool signature_refused_ = false;
};

}  // namespace

std::string ManifestFileName(std::string_view exe_name) {
  size_t dot = exe_name.rfind('.');
  return std::string(exe_name.substr(0, dot)) + ".xml";
}

UpdateOutcome CheckForUpdate(const UpdateContext& context, tFileUpdate* update) {
  try {
    return Check(context).Run(update);
  } catch (const std::exception& e) {
    // Nothing above is expected to throw (memory aside); a check must never
    // end the main loop that runs it.
    context.events->WriteEventLog(std::string("E.Message1=") + e.what(), EventType::kError, 0, 999);
    return UpdateOutcome::kDownloadFailed;
  }
}

std::optional<std::string> DownloadedFileProblem(const std::string& path,
                                                 const tFileVersion& published) {
  const std::string name(FileNameOf(path));
  if (!ExecutableForThisMachine(path)) {
    return "The downloaded " + name + " is not an executable for this machine";
  }
  tFileVersion got = GetFileVersion(path);
  if (got.Major != published.Major || got.Minor != published.Minor ||
      got.Release != published.Release || got.Build != published.Build) {
    return "The downloaded " + name + " has version " + got.Text + ", not the published " +
           VersionText(published.Major, published.Minor, published.Release, published.Build);
  }
  return std::nullopt;
}

}  // namespace quarrin
