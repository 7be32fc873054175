#include "report/workstation_lookup.h"

#include <charconv>
#include <cmath>
#include <stdexcept>

#include "core/attributes.h"
#include "inventory/bios_serial.h"
#include "inventory/pc_details.h"
#include "platform/text/ascii.h"
#include "platform/regional/regional_settings.h"
#include "report/ping_host.h"
#include "report/xml_text.h"

namespace quarrin {

namespace {

constexpr char kLookupPath[] = "/sdw.dll/WorkStations?WorkStationName=";

// The first child element of exactly that name.
pugi::xml_node Element(pugi::xml_node parent, std::string_view name) {
  for (pugi::xml_node child : parent.children()) {
    if (child.type() == pugi::node_element && name == child.name()) return child;
  }
  return {};
}

void FetchRecord(const ReportingContext& c, const std::string& url, pugi::xml_document* doc) {
  HttpRequest request;
  request.url = url;
  request.connect_timeout = c.service_desk_limits.connect_timeout;
  request.total_timeout = c.service_desk_limits.total_timeout;
  request.max_body_bytes = c.service_desk_limits.max_reply_bytes;
  HttpResponse response = c.http->Send(request);
  if (response.status != 200) {
    throw std::runtime_error(url + ": HTTP status " + std::to_string(response.status));
  }
  pugi::xml_parse_result parsed = doc->load_buffer(response.body.data(), response.body.size());
  if (!parsed) throw std::runtime_error(url + ": " + parsed.description());
}

// The date of t in the short date format; the time of day is dropped.
std::string ShortDateText(DateTime t, const RegionalSettings& settings) {
  static const DateTime kFirst = EncodeDateTime({1, 1, 1});
  static const DateTime kEnd = EncodeDateTime({9999, 12, 31, 23, 59, 59, 999});
  if (!(t >= kFirst && t <= kEnd)) {
    throw std::runtime_error("the date-time " + std::to_string(t.days) + " is not a date");
  }
  return FormatDateTimePattern(settings.short_date_format, DateTime{DatePart(t)}, settings);
}

}  // namespace

std::string LookupUrl(const DeploymentSettings& deployment, const std::string& machine_name) {
  return "http://" + deployment.lookup_web_host + kLookupPath + LowerAscii(machine_name) +
         deployment.lookup_domain_suffix;
}

DateTime MillisecondsToLocalDateTime(double ms, std::time_t now) {
  if (ms == 0) return DateTime{0.0};
  // The zone offset in force at `now`: its local time less its universal
  // time, in whole seconds.
  const int64_t now_ms = static_cast<int64_t>(now) * 1000;
  const int64_t offset_seconds =
      MillisecondsBetween(AddMilliseconds(DateTime{kUnixEpochDays}, now_ms),
                          LocalDateTimeFromUnixMs(now_ms)) /
      1000;
  return DateTime{ms / kMsPerDay + kUnixEpochDays + static_cast<double>(offset_seconds) / 86400.0};
}

std::optional<std::string> WorkstationElementText(const pugi::xml_document& reply,
                                                  std::string_view name) {
  pugi::xml_node element = Element(Element(Element(reply, "WORKSTATIONS"), "WORKSTATION"), name);
  if (!element.first_child()) return std::nullopt;
  std::string text(TrimControls(XmlTextContent(element)));
  if (text.empty()) return std::nullopt;
  return text;
}

double ParseMilliseconds(std::string_view text, const std::string& decimal_separator) {
  const std::string invalid = "'" + Clip(text) + "' is not a valid floating point value";
  std::string_view number = TrimControls(text);
  // Only what a decimal number is written with: C-locale digits and signs,
  // the regional separator turned into a point, an exponent.
  std::string plain;
  for (size_t i = 0; i < number.size();) {
    if (!decimal_separator.empty() &&
        number.substr(i, decimal_separator.size()) == decimal_separator) {
      plain += '.';
      i += decimal_separator.size();
      continue;
    }
    char ch = number[i++];
    bool allowed = (ch >= '0' && ch <= '9') || ch == '+' || ch == '-' || ch == 'e' || ch == 'E';
    if (!allowed) throw std::runtime_error(invalid);
    plain += ch;
  }
  const char* begin = plain.data();
  const char* end = plain.data() + plain.size();
  if (begin != end && *begin == '+') {
    ++begin;  // from_chars takes no "+"
    if (begin != end && *begin == '-') throw std::runtime_error(invalid);
  }
  double value = 0;
  auto [stop, error] = std::from_chars(begin, end, value);
  if (plain.empty() || error != std::errc() || stop != end || !std::isfinite(value)) {
    throw std::runtime_error(invalid);
  }
  return value;
}

StepOutcome LookupWorkstation(const ReportingContext& c) {
  AgentState& state = *c.state;
  tRegAttributes attributes = state.attributes();
  if (!attributes.SerialNo.empty() && !attributes.AquisitionDate.empty()) {
    return StepOutcome::kSkipped;
  }
  const DeploymentSettings& deployment = state.deployment;
  const bool reachable =
      c.ping
          ? c.ping(deployment.lookup_ping_host, kServiceDeskEchoTimeoutMs, kServiceDeskEchoSize)
          : PingHost(deployment.lookup_ping_host, kServiceDeskEchoTimeoutMs, kServiceDeskEchoSize);
  if (!reachable) return StepOutcome::kFailed;
  try {
    tPCDetails details;
    CollectPCDetails(*c.registry, &details, c.vmware_probe);
    pugi::xml_document record;
    FetchRecord(c, LookupUrl(deployment, details.MachineName), &record);
    if (attributes.SerialNo.empty()) {
      GetBIOSSerialNumber(".", &attributes.SerialNo, c.bios_serial_path);
      if (attributes.SerialNo.empty()) {
        attributes.SerialNo = WorkstationElementText(record, "SERVICETAG").value_or("");
      }
      // The day's report carries it even if a later step fails.
      state.set_attributes(attributes);
    }
    if (attributes.AquisitionDate.empty()) {
      std::optional<std::string> ms = WorkstationElementText(record, "ACQUISITIONDATE");
      if (ms) {
        const RegionalSettings settings = ReadRegionalSettings(*c.registry);
        attributes.AquisitionDate = ShortDateText(
            MillisecondsToLocalDateTime(ParseMilliseconds(*ms, settings.decimal_separator)),
            settings);
      }
    }
    state.set_attributes(attributes);
    WriteAttributes(*c.registry, state.version_text, attributes);
  } catch (...) {
    // The next daily run asks again.
    return StepOutcome::kFailed;
  }
  return StepOutcome::kOk;
}

}  // namespace quarrin
