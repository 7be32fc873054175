// The one request handler of the HTTP interface: finds the command word in
// the request line, runs the command and fills the reply.
//
//   order  the lower-cased request line contains         command
//    1     "get /apps"                                      apps document
//    2     "get /?msg="                                     message
//    3     "get /help" or "get / "                          menu page
//    4     "get /syslog"                                    syslog test
//    5     "get /mapdisk"                                   disk map (JPEG)
//    6     "get /setserialno=", "get /setaquisitiondate=",  attribute setter
//          "get /setinstalldate=", "get /setcomment="
//    7     "get /disk_"                                     usage chart (JPEG)
//    8     "get /odx"                                       last ODX transaction
//    9     "get /update"                                    update check
//   10     a GET of the path "/metrics" (a query after it   the agent's figures
//          allowed), when none of the above matched         for Prometheus
//   11     none of these (POST and HEAD always)             info document
//
// The dispatcher keeps nothing between requests: every request reads the
// registry and the machine's details afresh. (What the agent plugs in may
// share work between requests; see DispatcherContext.)
#ifndef QUARRIN_HTTP_DISPATCHER_H_
#define QUARRIN_HTTP_DISPATCHER_H_

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "core/event_writer.h"
#include "core/file_version.h"
#include "http/http_server.h"
#include "platform/time/clock.h"
#include "platform/files/disk_space.h"
#include "platform/regional/regional_settings.h"
#include "platform/registry/registry_store.h"

namespace quarrin {

class AgentMetrics;
class PopupFacade;
class RefusalLog;
class Syslog;
struct ClientAccess;

enum class HttpCommand {
  kApps,
  kMessage,
  kMenu,
  kSyslogTest,
  kDiskMap,
  kSetAttribute,
  kUsageChart,
  kOdx,
  kUpdate,
  kInfo,
  kMetrics,
};

// The command of a request line, by the table above. Letter case is ignored
// (ASCII letters only).
HttpCommand ClassifyRequest(std::string_view raw_http_command);

// The message command's text: the query without its first four characters
// ("msg="), every "%20" made a blank and nothing else decoded, cut to
// kMaxMessageChars (more than the popup window can show) so that a client
// cannot fill the event log with a few requests.
inline constexpr size_t kMaxMessageChars = 2000;
std::string MessageText(std::string_view query_params);

// An attribute setter's value: the request line after its first "=" up to
// the next blank, without surrounding blanks and control characters; empty
// when no blank follows the "=". Not percent-decoded.
std::string AttributeValue(std::string_view raw_http_command);

// 100 - (free x 100) div total, the division truncating; 0 for a total of 0.
int64_t DiskUsedPercent(int64_t total, int64_t free);

// The largest last-transaction file that is read; a larger one gets the
// error reply instead of being parsed.
inline constexpr int64_t kMaxOdxFileBytes = 8 << 20;

// The last-transaction document at path as the parser writes it out again:
// each top-level node (declaration, comments, the root element) on a line
// of its own, every line ended by CR LF. False with the reason in *error
// when the file cannot be read or parsed, is not a plain file, or is larger
// than kMaxOdxFileBytes.
bool ReadOdxDocument(const std::string& path, std::string* text, std::string* error);

// The parse step of ReadOdxDocument: the document `data` written out again
// as that describes. False with the parser's reason in *error.
bool PrintOdxDocument(std::string_view data, std::string* text, std::string* error);

// A readable name of an exception's type, "quarrin::RegistryError" say.
std::string ExceptionTypeName(const std::exception& e);

// What the dispatcher reads and calls. The pointed-to objects must outlive
// every request; all of them are safe for concurrent use.
struct DispatcherContext {
  RegistryStore* registry = nullptr;
  Clock* clock = nullptr;
  const EventWriter* events = nullptr;
  DiskSpaceSource* system_drive = nullptr;
  Syslog* syslog = nullptr;       // null: nothing is sent
  PopupFacade* popup = nullptr;   // null: a message is logged but not shown
  // Read from the registry by HTTPServerCommandGet for each request.
  RegionalSettings regional;
  std::string version_text;
  std::string local_machine_name;
  std::string syslog_host;
  std::string default_download_url;  // for ReadAttributes
  // Who may use which command; null lets every client use every one.
  const ClientAccess* access = nullptr;
  RefusalLog* refusals = nullptr;  // null: refusals are not logged
  // Where requests and refusals are counted, and what /metrics reports;
  // null: nothing is counted and /metrics reports what it reads afresh.
  AgentMetrics* metrics = nullptr;

  // The work of other subsystems. An empty one does nothing (an empty image
  // for the two drawings).
  std::function<void(tFileUpdate&)> check_for_update;
  // Called once the info document is built; the agent starts the report in
  // the background and returns at once.
  std::function<void()> report_pc_details;
  std::function<void()> report_applications;
  std::function<std::string(const std::string& title, const std::vector<std::string>& labels,
                            const std::vector<double>& values)>
      draw_chart;
  std::function<std::string(const std::string& title)> map_disk;
  // The VMware probe of the details collection; empty: the real one.
  std::function<bool()> vmware_probe;
};

// Runs the request's command and fills the reply; a client that may not use
// the command gets 403 with a short text instead (see ClientAccess). A
// setter whose write fails gets the error reply with the store's message,
// and the event log says so. Failures the commands expect become XML
// replies; any other failure (a details collection or
// ReadAttributes that throws) leaves by exception, for the server's 500.
void HTTPServerCommandGet(const DispatcherContext& context, const HttpServerRequest& request,
                          HttpServerReply& reply);

// The apps document; runs the application report before it returns.
std::string BuildAppsXml(const DispatcherContext& context);

}  // namespace quarrin

#endif  // QUARRIN_HTTP_DISPATCHER_H_
