// The update check: compares the running program's version with the one
// published in the update manifest on the download site and, when that one
// is newer, downloads the new executable beside the running one as "~" +
// executable name and hands its installation over to the starter service.
//
// Messages, in the order in which they can occur (ver is the running
// version, exe the executable's file name, EXE the same in upper case):
//
//   syslog 50090  the version comparison: "Is available" / "Not required"
//   event  100    the same: "Update required." / "No update required."
//   event  102    ver + " " + DownloadURL + "/" + exe + " download initiated."
//   syslog 50100  the download begins
//   syslog 10000  + event 999 "E.Message1=": the download file cannot be created
//   event  999    "Response Code=" + status + CR LF, + syslog 10020: status not 200
//   event  999    "E.Message2=": the request or the write failed, or the file
//                 received is not the executable the manifest announced
//   syslog 10030  + event 999 "E.Message2=": the download's signature does
//                 not hold (below)
//   syslog 50101  the download ends, whatever its result
//   syslog 50110  "Restarting Service", after a good download
//   event  103    EXE + " Download completed.", " Stopping - " + service,
//                 " Starting - TARNStartSrvc"
//   event  104    EXE + " Download failed." + CR LF (warning)
//   event  104    EXE + " Self-update is off: " ... (warning), instead of
//                 event 102 and what follows it, when a package manager
//                 manages the executable (see ManagingPackage)
//
// Signed updates. With an update public key configured, the download is
// accepted only with a good minisign signature by that key, fetched from
// the download URL + ".minisig": the file is checked in memory, and only a
// file that holds is written beside the executable, its signature beside it
// (download file + ".minisig") for the starter service to check again. A
// missing or bad signature discards the download; nothing is handed over.
// Without a key every check writes one warning (event 101) that updates are
// not verified, and the download is taken as the manifest announced it.
#ifndef QUARRIN_UPDATE_UPDATE_CHECK_H_
#define QUARRIN_UPDATE_UPDATE_CHECK_H_

#include <chrono>
#include <cstddef>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "core/event_writer.h"
#include "core/file_version.h"
#include "core/service_identity.h"
#include "platform/net/http_client.h"
#include "platform/registry/registry_store.h"
#include "platform/service/service_manager.h"

namespace quarrin {

class AgentMetrics;
class Syslog;

// The download's request settings beyond the fixed headers. The read
// time-out is what the download site is promised; the others keep a broken
// or hostile server from holding the check, and with it the main loop when
// the daily run is the caller, or memory for long.
struct DownloadLimits {
  std::chrono::milliseconds connect_timeout{10000};
  // No byte for this long ends the download.
  std::chrono::milliseconds read_timeout{30000};
  // A whole download at ~1 Mbit/s of the largest body allowed fits in it.
  std::chrono::milliseconds total_timeout{std::chrono::minutes(10)};
  // The agent is ~13 MB built with debug information (~4 MB without); five
  // times that leaves room to grow while no proxy page or endless stream
  // can take more. The body is held once in memory plus, while it arrives,
  // at most one more copy as the buffer grows.
  size_t max_body_bytes = 64u << 20;
  // A .minisig file is four short lines.
  size_t max_signature_bytes = 16u << 10;
  int max_redirects = 15;
};

// The warning of a check without an update public key.
inline constexpr uint32_t kUnverifiedUpdateEvent = 101;
// Beside the download file: its signature.
inline constexpr char kSignatureSuffix[] = ".minisig";

// The memory a download is received into before it goes to disk, shared by
// every update check of the process. One check uses it at a time: a check
// that finds it in use does not wait (see CheckForUpdate). Safe for
// concurrent use by multiple threads.
class DownloadBuffer {
 public:
  DownloadBuffer() = default;
  DownloadBuffer(const DownloadBuffer&) = delete;
  DownloadBuffer& operator=(const DownloadBuffer&) = delete;

  // Empties the buffer and gives its memory back; waits for a check that is
  // using it to end.
  void Release();
  // Bytes held; 0 between checks.
  size_t size() const;

 private:
  friend class DownloadSession;
  mutable std::mutex mu_;
  std::string bytes_;
};

// What a check works with. The pointed-to objects must outlive the call.
struct UpdateContext {
  HttpClient* http = nullptr;
  RegistryStore* registry = nullptr;
  ServiceManager* service_manager = nullptr;
  const EventWriter* events = nullptr;  // the service's own source
  Syslog* syslog = nullptr;             // null: no datagrams
  DownloadBuffer* buffer = nullptr;
  // Full path of the running executable; the download file goes beside it.
  std::string exe_path;
  // The running program's version (its text opens the event texts).
  tFileVersion current;
  // The "DownloadURL" attribute as held in memory: the base of the manifest
  // and download URLs, joined to the file name with one "/" whatever it
  // ends in.
  std::string download_url;
  std::string service_name = kServiceName;
  // The minisign public key line that downloads must be signed with (the
  // Deployment setting UpdatePublicKey, or the key built in); empty: not
  // verified.
  std::string update_public_key;
  DownloadLimits limits;
  // Where what the check found is noted (not for a check that was busy);
  // null: nowhere.
  AgentMetrics* metrics = nullptr;
};

enum class UpdateOutcome {
  kNoUpdate,          // nothing newer published, or the manifest unreadable
  kDownloadFailed,    // newer published, the download failed; still running
  kHandedOver,        // downloaded; this service asked to stop, the starter to start
  kBusy,              // another check was running; nothing done
  kManagedByPackage,  // newer published; a package manager owns the executable
};

// The manifest's file name: the executable's name with its extension
// replaced by ".xml" ("QuarrinSrvc" gives "QuarrinSrvc.xml").
std::string ManifestFileName(std::string_view exe_name);

// The check. Sets update->UpdateAvailable and the version the manifest
// published (its Text holds "Error: ..." when the manifest was unreadable)
// and sends the messages above. A check that finds the buffer in use by
// another returns kBusy at once, without messages, with UpdateAvailable
// false and Text "Error: An update check is already running": the running
// check does the same work, and a waiting one would fetch and hand over the
// same version again once the first had handed over. Never throws.
UpdateOutcome CheckForUpdate(const UpdateContext& context, tFileUpdate* update);

// Why the file at path is not the executable the manifest published, or
// nullopt when it is: an executable for this machine (see
// ExecutableForThisMachine) whose version resource holds the published
// version numbers. A truncated file fails: its version resource
// is read through the section table at the end of the file.
std::optional<std::string> DownloadedFileProblem(const std::string& path,
                                                 const tFileVersion& published);

}  // namespace quarrin

#endif  // QUARRIN_UPDATE_UPDATE_CHECK_H_
