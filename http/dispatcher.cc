#include "http/dispatcher.h"

#include <cxxabi.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <memory>
#include <optional>
#include <pugixml.hpp>
#include <typeinfo>

#include "core/agent_metrics.h"
#include "core/attributes.h"
#include "core/time_texts.h"
#include "diag/syslog.h"
#include "diag/syslog_catalogue.h"
#include "disk/disk_history.h"
#include "http/client_access.h"
#include "http/html_pages.h"
#include "http/metrics_page.h"
#include "http/xml_replies.h"
#include "inventory/installed_apps.h"
#include "inventory/pc_details.h"
#include "inventory/version_probes.h"
#include "platform/text/ascii.h"
#include "platform/files/file_io.h"
#include "platform/files/entry_size.h"
#include "platform/files/paths.h"
#include "platform/text/utf8.h"
#include "popup/popup_facade.h"

namespace quarrin {

namespace {

constexpr char kTextXml[] = "text/xml";
constexpr char kImageJpeg[] = "image/jpeg";

bool Contains(std::string_view line, std::string_view word) {
  return line.find(word) != std::string_view::npos;
}

// A GET whose path is exactly /metrics: a scraper's request, which must not
// fall through to the info document (and its inventory report).
bool IsMetricsLine(std::string_view line) {
  constexpr std::string_view kHead = "get /metrics";
  if (!line.starts_with(kHead)) return false;
  return line.size() == kHead.size() || line[kHead.size()] == ' ' || line[kHead.size()] == '?';
}

HttpCommand ClassifyLine(std::string_view line) {
  if (Contains(line, "get /apps")) return HttpCommand::kApps;
  if (Contains(line, "get /?msg=")) return HttpCommand::kMessage;
  if (Contains(line, "get /help") || Contains(line, "get / ")) return HttpCommand::kMenu;
  if (Contains(line, "get /syslog")) return HttpCommand::kSyslogTest;
  if (Contains(line, "get /mapdisk")) return HttpCommand::kDiskMap;
  if (Contains(line, "get /setserialno=") || Contains(line, "get /setaquisitiondate=") ||
      Contains(line, "get /setinstalldate=") || Contains(line, "get /setcomment=")) {
    return HttpCommand::kSetAttribute;
  }
  if (Contains(line, "get /disk_")) return HttpCommand::kUsageChart;
  if (Contains(line, "get /odx")) return HttpCommand::kOdx;
  if (Contains(line, "get /update")) return HttpCommand::kUpdate;
  if (IsMetricsLine(line)) return HttpCommand::kMetrics;
  return HttpCommand::kInfo;
}

std::string Now(const DispatcherContext& c) {
  return TimestampText(DateTime{0}, *c.clock, c.regional);
}

// The system drive's size and free bytes; both -1 when it cannot be queried.
void QueryDrive(const DispatcherContext& c, int64_t* total, int64_t* free) {
  *total = -1;
  *free = -1;
  if (c.system_drive == nullptr || !c.system_drive->Query(total, free)) {
    *total = -1;
    *free = -1;
  }
}

void CollectDetails(const DispatcherContext& c, tPCDetails* details) {
  CollectPCDetails(*c.registry, details, c.vmware_probe);
}

// Runs a drawing command; any failure becomes the error reply.
template <typename Draw>
void ImageOrError(const DispatcherContext& c, HttpServerReply& reply, Draw draw) {
  try {
    reply.body = draw();
    reply.content_type = kImageJpeg;
  } catch (const std::exception& e) {
    reply.body = ErrorReply(Now(c), e.what(), ExceptionTypeName(e));
    reply.content_type = kTextXml;
  } catch (...) {
    reply.body = ErrorReply(Now(c), "unknown error", "unknown");
    reply.content_type = kTextXml;
  }
}

void Message(const DispatcherContext& c, const HttpServerRequest& request, HttpServerReply& reply) {
  const std::string text = MessageText(request.QueryParams);
  c.events->WriteEventLog(c.version_text + " Message: " + text, EventType::kSuccess, 0, 100);
  const std::string received = Now(c);
  if (c.popup != nullptr) {
    c.popup->ShowMessage({"Quarrin " + c.version_text, received, request.RemoteIP, text});
  }
  reply.body = MessageReply(received);
  reply.content_type = kTextXml;
}

void Menu(const DispatcherContext& c, const HttpServerRequest& request, HttpServerReply& reply) {
  if (c.syslog != nullptr) c.syslog->Send(MainMenuMessage(request.RemoteIP), c.regional);
  MenuPageValues values;
  ReadAttributes(*c.registry, c.default_download_url, &values.attributes);
  values.date_time = Now(c);
  values.version = c.version_text;
  values.local_machine_name = c.local_machine_name;
  reply.body = BuildMenuPage(values);
  reply.content_type = "text/html";
}

void SyslogTest(const DispatcherContext& c, HttpServerReply& reply) {
  if (c.syslog != nullptr) c.syslog->Send(SyslogTestMessage(c.local_machine_name), c.regional);
  reply.body = SyslogReply(Now(c), c.syslog_host, c.version_text);
  reply.content_type = kTextXml;
}

void DiskMap(const DispatcherContext& c, HttpServerReply& reply) {
  ImageOrError(c, reply, [&] {
    tPCDetails details;
    CollectDetails(c, &details);
    int64_t total, free;
    QueryDrive(c, &total, &free);
    const std::string title = details.MachineName + " C Drive map (Size: " +
                              SizeText(total, c.regional) + ") at " + Now(c);
    return c.map_disk ? c.map_disk(title) : std::string();
  });
}

// The exception's message followed by those of the exceptions nested in
// it, each after ": " (the store's own reason below a registry failure).
std::string MessageWithCauses(const std::exception& e) {
  std::string message = e.what();
  try {
    std::rethrow_if_nested(e);
  } catch (const std::exception& cause) {
    message += ": " + MessageWithCauses(cause);
  } catch (...) {
  }
  return message;
}

void SetAttribute(const DispatcherContext& c, const HttpServerRequest& request, const std::string& line,
                  HttpServerReply& reply) {
  // Older clients send the attribute in their Windows code page.
  const std::string value = TextAsUtf8(AttributeValue(request.RawHTTPCommand));
  tRegAttributes attributes;
  ReadAttributes(*c.registry, c.default_download_url, &attributes);
  if (Contains(line, "get /setserialno=")) {
    attributes.SerialNo = value;
  } else if (Contains(line, "get /setinstalldate=")) {
    attributes.InstallDate = value;
  } else if (Contains(line, "get /setaquisitiondate=")) {
    attributes.AquisitionDate = value;
  } else {
    attributes.Comment = value;
  }
  reply.content_type = kTextXml;
  try {
    StoreAttributes(*c.registry, c.version_text, attributes);
  } catch (const std::exception& e) {
    const std::string message = MessageWithCauses(e);
    c.events->WriteEventLog(c.version_text + " Attribute not stored: " + message,
                            EventType::kError, 0, 999);
    reply.body = ErrorReply(Now(c), message, ExceptionTypeName(e));
    return;
  }
  reply.body = AttributeReply(Now(c), value, c.version_text);
}

void UsageChart(const DispatcherContext& c, const std::string& line, HttpServerReply& reply) {
  ImageOrError(c, reply, [&] {
    const std::string_view head = std::string_view(line).substr(0, 11);
    SeriesPeriod period;
    if (head == "get /disk_d") {
      period = SeriesPeriod::kDay;
    } else if (head == "get /disk_w") {
      period = SeriesPeriod::kWeek;
    } else if (head == "get /disk_m") {
      period = SeriesPeriod::kMonth;
    } else if (head == "get /disk_y") {
      period = SeriesPeriod::kYear;
    } else {
      return std::string();  // no period: an empty image
    }
    ChartSeries series = ReadChartSeries(*c.registry, period, c.regional, c.clock->Now());
    tPCDetails details;
    CollectDetails(c, &details);
    int64_t total, free;
    QueryDrive(c, &total, &free);
    const std::string title = std::string(ChartTitlePrefix(period)) + details.MachineName +
                              " % C Drive used (Size: " + SizeText(total, c.regional) + ") at " +
                              Now(c);
    return c.draw_chart ? c.draw_chart(title, series.labels, series.values) : std::string();
  });
}

void Odx(const DispatcherContext& c, HttpServerReply& reply) {
  const std::string path = SpecialFolderPath(kCsidlCommonAppData) + "/TARN/ODX/LastTX.XML";
  reply.content_type = kTextXml;
  if (!FileExists(path)) {
    reply.body = OdxFailReply(c.version_text, path);
    return;
  }
  std::string error;
  if (!ReadOdxDocument(path, &reply.body, &error)) {
    reply.body = OdxErrorReply(c.version_text, error);
  }
}

void Update(const DispatcherContext& c, HttpServerReply& reply) {
  tFileUpdate update;
  if (c.check_for_update) c.check_for_update(update);
  reply.body = UpdateReply(update.UpdateAvailable, update.Text, c.version_text, Now(c));
  reply.content_type = kTextXml;
}

// Reads only what the agent holds: its counters, the drive's figures and
// the latest sample in the registry. Sends nothing anywhere.
void Metrics(const DispatcherContext& c, HttpServerReply& reply) {
  MetricsReadings readings;
  readings.version = c.version_text;
  int64_t total, free;
  QueryDrive(c, &total, &free);
  if (total >= 0) {
    readings.drive_total_bytes = total;
    readings.drive_free_bytes = free;
  }
  const DateTime now = c.clock->Now();
  try {
    if (std::optional<DaySample> sample = LatestDaySample(*c.registry, c.regional, now)) {
      readings.latest_sample = MetricsReadings::Sample{UnixMsFromLocalDateTime(sample->time),
                                                       sample->used};
    }
  } catch (const std::exception&) {
    // A series that cannot be read leaves the sample out; the rest stands.
  }
  if (c.metrics != nullptr) {
    reply.body = MetricsText(*c.metrics, readings);
  } else {
    reply.body = MetricsText(AgentMetrics(*c.clock), readings);
  }
  reply.content_type = kMetricsContentType;
}

void Info(const DispatcherContext& c, const HttpServerRequest& request, HttpServerReply& reply) {
  tPCDetails details;
  CollectDetails(c, &details);
  tFileVersion bde;
  GetBDEVersion(*c.registry, &bde);

  InfoValues v;
  v.version = c.version_text;
  v.date_time = Now(c);
  v.bde_version = bde.Text;
  const std::string genesis =
      SpecialFolderPath(kCsidlProgramFiles) + "/Amfac/Amfac Healthlinks/Data/GENESIS.GDB";
  v.genesis_size = SizeText(FileExists(genesis) ? ListedEntrySize(genesis) : 0, c.regional);
  v.install_date = DefaultDateTimeText(details.InstallDate, c.regional);
  int64_t total, free;
  QueryDrive(c, &total, &free);
  v.disk_size = SizeText(total, c.regional);
  v.disk_used = DiskUsedPercent(total, free);
  v.remote_ip = request.RemoteIP;
  v.syslog_host = c.syslog_host;
  v.tick_count = UptimeText(*c.clock);
  // Only this machine's own name decides, never the client's.
  v.echo = details.MachineName.size() >= 7 &&
           LowerAscii(details.MachineName.substr(0, 7)) == "kaldern";
  if (v.echo) {
    v.from = request.From;
    v.command = request.Command;
    v.raw_http_command = request.RawHTTPCommand;
    v.unparsed_params = request.UnparsedParams;
    v.form_params = request.FormParams;
    v.query_params = request.QueryParams;
    v.accept = request.Accept;
  }
  reply.body = InfoDocument(details, v);
  reply.content_type = kTextXml;
  // The document first, then the report.
  if (c.report_pc_details) c.report_pc_details();
}

// Writes what pugixml prints into a string.
class StringWriter final : public pugi::xml_writer {
 public:
  explicit StringWriter(std::string* out) : out_(out) {}
  void write(const void* data, size_t size) override {
    out_->append(static_cast<const char*>(data), size);
  }

 private:
  std::string* out_;
};

}  // namespace

HttpCommand ClassifyRequest(std::string_view raw_http_command) {
  return ClassifyLine(LowerAscii(raw_http_command));
}

std::string MessageText(std::string_view query_params) {
  std::string text(query_params.size() > 4 ? query_params.substr(4) : std::string_view());
  std::string out;
  out.reserve(std::min(text.size(), 4 * kMaxMessageChars));
  size_t chars = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    // A character starts at every byte but a UTF-8 continuation byte.
    const bool starts = (static_cast<unsigned char>(text[i]) & 0xC0) != 0x80;
    if (starts && ++chars > kMaxMessageChars) break;
    if (text.compare(i, 3, "%20") == 0) {
      out += ' ';
      i += 2;
    } else {
      out += text[i];
    }
  }
  return out;
}

std::string AttributeValue(std::string_view raw_http_command) {
  const size_t eq = raw_http_command.find('=');
  if (eq == std::string_view::npos) return "";
  const size_t blank = raw_http_command.find(' ', eq + 1);
  if (blank == std::string_view::npos) return "";
  std::string_view value = raw_http_command.substr(eq + 1, blank - eq - 1);
  auto control = [](char c) { return static_cast<unsigned char>(c) <= ' '; };
  while (!value.empty() && control(value.front())) value.remove_prefix(1);
  while (!value.empty() && control(value.back())) value.remove_suffix(1);
  return std::string(value);
}

int64_t DiskUsedPercent(int64_t total, int64_t free) {
  if (total == 0) return 0;
  // Wide enough for any free x 100.
  __extension__ typedef __int128 Wide;
  return 100 - static_cast<int64_t>(static_cast<Wide>(free) * 100 / total);
}

bool ReadOdxDocument(const std::string& path, std::string* text, std::string* error) {
  std::string data;
  bool cut = false;
  const int failed = ReadFileCapped(path, static_cast<size_t>(kMaxOdxFileBytes), &data, &cut);
  if (failed == EINVAL || failed == EISDIR) {
    *error = path + " is not a file";
    return false;
  }
  if (failed != 0) {
    *error = ErrnoMessage("Cannot read " + path, failed);
    return false;
  }
  if (cut) {
    std::error_code ec;
    *error = path + " holds " + std::to_string(std::filesystem::file_size(path, ec)) +
             " bytes; at most " + std::to_string(kMaxOdxFileBytes) + " are read";
    return false;
  }
  return PrintOdxDocument(data, text, error);
}

bool PrintOdxDocument(std::string_view data, std::string* text, std::string* error) {
  pugi::xml_document doc;
  const pugi::xml_parse_result parsed =
      doc.load_buffer(data.data(), data.size(), pugi::parse_full, pugi::encoding_auto);
  if (!parsed) {
    *error = std::string(parsed.description()) + " at offset " + std::to_string(parsed.offset);
    return false;
  }
  // Latin-1 stays Latin-1 so that the declaration still tells the truth;
  // every other encoding is written as UTF-8.
  const pugi::xml_encoding encoding =
      parsed.encoding == pugi::encoding_latin1 ? pugi::encoding_latin1 : pugi::encoding_utf8;
  std::string printed;
  printed.reserve(data.size() + data.size() / 8);
  StringWriter writer(&printed);
  for (pugi::xml_node node = doc.first_child(); node; node = node.next_sibling()) {
    node.print(writer, PUGIXML_TEXT(""), pugi::format_raw, encoding);
    printed += '\n';
  }
  // The parser has made every line end a LF.
  text->clear();
  text->reserve(printed.size() + printed.size() / 16);
  for (char ch : printed) {
    if (ch == '\n') *text += '\r';
    *text += ch;
  }
  return true;
}

std::string ExceptionTypeName(const std::exception& e) {
  const char* mangled = typeid(e).name();
  int status = 0;
  std::unique_ptr<char, void (*)(void*)> demangled(
      abi::__cxa_demangle(mangled, nullptr, nullptr, &status), std::free);
  if (status != 0 || !demangled) return mangled;
  // An exception thrown with another nested in it (std::throw_with_nested)
  // is named after the one thrown.
  std::string name = demangled.get();
  constexpr std::string_view kNested = "std::_Nested_exception<";
  if (name.starts_with(kNested) && name.ends_with(">")) {
    name = name.substr(kNested.size(), name.size() - kNested.size() - 1);
  }
  return name;
}

std::string BuildAppsXml(const DispatcherContext& c) {
  tInstalledApps apps;
  CollectInstalledApps(*c.registry, &apps);
  std::string document = AppsDocument(apps);
  if (c.report_applications) c.report_applications();
  return document;
}

namespace {

void RunCommand(const DispatcherContext& c, const HttpServerRequest& request,
                const std::string& line, HttpCommand command, HttpServerReply& reply) {
  if (c.access != nullptr) {
    if (std::optional<std::string> refusal =
            AccessRefusal(*c.access, command, request.RemoteAddress)) {
      reply.status = 403;
      reply.content_type = "text/plain";
      reply.body = *refusal + "\r\n";
      if (c.refusals != nullptr) {
        c.refusals->Refused(request.RemoteIP, request.RawHTTPCommand, *refusal,
                            std::chrono::steady_clock::now());
      }
      if (c.metrics != nullptr) c.metrics->CountHttpRefusal(HttpRefusal::kAllowList);
      return;
    }
  }
  switch (command) {
    case HttpCommand::kApps:
      reply.body = BuildAppsXml(c);
      reply.content_type = kTextXml;
      return;
    case HttpCommand::kMessage: return Message(c, request, reply);
    case HttpCommand::kMenu: return Menu(c, request, reply);
    case HttpCommand::kSyslogTest: return SyslogTest(c, reply);
    case HttpCommand::kDiskMap: return DiskMap(c, reply);
    case HttpCommand::kSetAttribute: return SetAttribute(c, request, line, reply);
    case HttpCommand::kUsageChart: return UsageChart(c, line, reply);
    case HttpCommand::kOdx: return Odx(c, reply);
    case HttpCommand::kUpdate: return Update(c, reply);
    case HttpCommand::kInfo: return Info(c, request, reply);
    case HttpCommand::kMetrics: return Metrics(c, reply);
  }
}

}  // namespace

void HTTPServerCommandGet(const DispatcherContext& service, const HttpServerRequest& request,
                          HttpServerReply& reply) {
  // One reading of the regional settings serves the whole request, so its
  // texts never mix two formats and a change shows from the next request.
  DispatcherContext c = service;
  c.regional = ReadRegionalSettings(*c.registry);
  const std::string line = LowerAscii(request.RawHTTPCommand);
  const HttpCommand command = ClassifyLine(line);
  try {
    RunCommand(c, request, line, command, reply);
  } catch (...) {
    // The server answers 500.
    if (c.metrics != nullptr) c.metrics->CountHttpRequest(static_cast<size_t>(command), 500);
    throw;
  }
  if (c.metrics != nullptr) c.metrics->CountHttpRequest(static_cast<size_t>(command), reply.status);
}

}  // namespace quarrin
