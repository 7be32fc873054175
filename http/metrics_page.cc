#include "http/metrics_page.h"

#include <charconv>
#include <cmath>
#include <utility>
#include <vector>

namespace quarrin {

namespace {

constexpr HttpCommand kCommands[] = {
    HttpCommand::kApps,       HttpCommand::kMessage,    HttpCommand::kMenu,
    HttpCommand::kSyslogTest, HttpCommand::kDiskMap,    HttpCommand::kSetAttribute,
    HttpCommand::kUsageChart, HttpCommand::kOdx,        HttpCommand::kUpdate,
    HttpCommand::kInfo,       HttpCommand::kMetrics,
};

constexpr std::pair<DailyStep, const char*> kSteps[] = {
    {DailyStep::kUpdateCheck, "update_check"},
    {DailyStep::kLookup, "lookup"},
    {DailyStep::kDetailsReport, "details_report"},
    {DailyStep::kApplicationsReport, "applications_report"},
};

constexpr std::pair<StepOutcome, const char*> kOutcomes[] = {
    {StepOutcome::kNotRun, "not_run"},
    {StepOutcome::kOk, "ok"},
    {StepOutcome::kFailed, "failed"},
    {StepOutcome::kSkipped, "skipped"},
};

constexpr std::pair<HttpRefusal, const char*> kRefusals[] = {
    {HttpRefusal::kAllowList, "allow_list"},
    {HttpRefusal::kConnectionLimit, "connection_limit"},
    {HttpRefusal::kPerClientLimit, "per_client_limit"},
    {HttpRefusal::kTimeout, "timeout"},
};

constexpr std::pair<EventType, const char*> kEventTypes[] = {
    {EventType::kSuccess, "success"},
    {EventType::kError, "error"},
    {EventType::kWarning, "warning"},
    {EventType::kInformation, "information"},
};

// The shortest text that reads back as the same double, in the forms the
// format knows for the values that are not numbers.
std::string Number(double value) {
  if (std::isnan(value)) return "NaN";
  if (std::isinf(value)) return value > 0 ? "+Inf" : "-Inf";
  char text[32];
  const auto [end, error] = std::to_chars(text, text + sizeof text, value);
  return error == std::errc() ? std::string(text, end) : "NaN";
}

std::string Seconds(int64_t unix_ms) { return Number(static_cast<double>(unix_ms) / 1000.0); }

using Labels = std::vector<std::pair<const char*, std::string>>;

class Exposition {
 public:
  void Family(const char* name, const char* type, const char* help) {
    name_ = name;
    text_ += "# HELP ";
    text_ += name;
    text_ += ' ';
    text_ += help;
    text_ += "\n# TYPE ";
    text_ += name;
    text_ += ' ';
    text_ += type;
    text_ += '\n';
  }
  // One sample of the current family.
  void Sample(const Labels& labels, const std::string& value) {
    text_ += name_;
    if (!labels.empty()) {
      text_ += '{';
      for (size_t i = 0; i < labels.size(); ++i) {
        if (i > 0) text_ += ',';
        text_ += labels[i].first;
        text_ += "=\"";
        text_ += EscapeLabelValue(labels[i].second);
        text_ += '"';
      }
      text_ += '}';
    }
    text_ += ' ';
    text_ += value;
    text_ += '\n';
  }
  void Sample(const std::string& value) { Sample({}, value); }
  // A family of one sample.
  void Gauge(const char* name, const char* help, const std::string& value) {
    Family(name, "gauge", help);
    Sample(value);
  }
  std::string Take() { return std::move(text_); }

 private:
  std::string text_;
  const char* name_ = "";
};

void AgentFigures(Exposition& out, const AgentMetrics& m, const MetricsReadings& r) {
  out.Family("quarrin_build_info", "gauge", "The running agent's version; always 1.");
  out.Sample({{"version", r.version}}, "1");
  out.Gauge("quarrin_start_time_seconds", "When the agent started, in Unix seconds.",
            Seconds(m.start_unix_ms()));
  out.Gauge("quarrin_uptime_seconds", "How long the agent has been running.",
            Seconds(m.Uptime().count()));
}

void DriveFigures(Exposition& out, const MetricsReadings& r) {
  if (r.drive_total_bytes) {
    out.Gauge("quarrin_system_drive_size_bytes", "Size of the system drive.",
              std::to_string(*r.drive_total_bytes));
  }
  if (r.drive_free_bytes) {
    out.Gauge("quarrin_system_drive_free_bytes",
              "Free bytes of the system drive available to the agent.",
              std::to_string(*r.drive_free_bytes));
  }
  if (r.latest_sample) {
    out.Gauge("quarrin_system_drive_used_ratio",
              "Used fraction of the system drive in the latest five-minute sample.",
              Number(r.latest_sample->used_ratio));
    out.Gauge("quarrin_system_drive_sample_time_seconds",
              "When the latest five-minute sample was taken, in Unix seconds.",
              Seconds(r.latest_sample->unix_ms));
  }
}

void DailyRunFigures(Exposition& out, const AgentMetrics& m) {
  if (const int64_t started = m.daily_run_started_unix_ms()) {
    out.Gauge("quarrin_daily_run_last_run_time_seconds",
              "When the latest daily run started, in Unix seconds.", Seconds(started));
  }
  if (const int64_t completed = m.daily_run_completed_unix_ms()) {
    out.Gauge("quarrin_daily_run_last_complete_time_seconds",
              "When the latest daily run that did every step ended, in Unix seconds.",
              Seconds(completed));
  }
  out.Family("quarrin_daily_run_step_outcome", "gauge",
             "How each step of the daily run ended the last time it ran: 1 for its outcome, "
             "0 for the others.");
  for (const auto& [step, step_name] : kSteps) {
    const StepOutcome outcome = m.step_outcome(step);
    for (const auto& [candidate, outcome_name] : kOutcomes) {
      out.Sample({{"step", step_name}, {"outcome", outcome_name}}, candidate == outcome ? "1" : "0");
    }
  }
}

void UpdateFigures(Exposition& out, const AgentMetrics& m) {
  const UpdateCheckRecord update = m.update_check();
  if (update.checked_unix_ms == 0) return;
  if (!update.published_version.empty()) {
    out.Family("quarrin_update_published_version_info", "gauge",
               "The version the update manifest published at the latest check that read it; "
               "always 1.");
    out.Sample({{"version", update.published_version}}, "1");
  }
  out.Gauge("quarrin_update_pending",
            "1 when the latest update check found a newer version published.",
            update.pending ? "1" : "0");
  out.Gauge("quarrin_update_refused",
            "1 when the latest update check refused the download: its signature did not hold.",
            update.refused ? "1" : "0");
  out.Gauge("quarrin_update_last_check_time_seconds",
            "When the latest update check ran, in Unix seconds.", Seconds(update.checked_unix_ms));
}

void HttpFigures(Exposition& out, const AgentMetrics& m) {
  out.Family("quarrin_http_requests_total", "counter",
             "Requests of the HTTP interface by command and reply status.");
  for (HttpCommand command : kCommands) {
    for (unsigned status : kCountedHttpStatuses) {
      const uint64_t count = m.HttpRequests(static_cast<size_t>(command), status);
      // Every command's 200 is there from the start, so that rates begin at
      // the first scrape; other statuses once they occur.
      if (count == 0 && status != 200) continue;
      out.Sample({{"command", std::string(CommandLabel(command))},
                  {"status", std::to_string(status)}},
                 std::to_string(count));
    }
  }
  out.Family("quarrin_http_refusals_total", "counter",
             "Requests and connections the HTTP interface turned away, by reason.");
  for (const auto& [reason, name] : kRefusals) {
    out.Sample({{"reason", name}}, std::to_string(m.HttpRefusals(reason)));
  }
}

void DiagnosticsFigures(Exposition& out, const AgentMetrics& m) {
  out.Family("quarrin_syslog_datagrams_sent_total", "counter",
             "Syslog datagrams sent to the collector.");
  out.Sample(std::to_string(m.SyslogDatagrams()));
  out.Family("quarrin_event_log_entries_total", "counter",
             "Entries the agent wrote to the event log, by type.");
  for (const auto& [type, name] : kEventTypes) {
    out.Sample({{"type", name}}, std::to_string(m.EventLogEntries(type)));
  }
}

}  // namespace

std::string_view CommandLabel(HttpCommand command) {
  switch (command) {
    case HttpCommand::kApps: return "apps";
    case HttpCommand::kMessage: return "message";
    case HttpCommand::kMenu: return "menu";
    case HttpCommand::kSyslogTest: return "syslog";
    case HttpCommand::kDiskMap: return "mapdisk";
    case HttpCommand::kSetAttribute: return "set_attribute";
    case HttpCommand::kUsageChart: return "disk_chart";
    case HttpCommand::kOdx: return "odx";
    case HttpCommand::kUpdate: return "update";
    case HttpCommand::kInfo: return "info";
    case HttpCommand::kMetrics: return "metrics";
  }
  return "unknown";
}

std::string EscapeLabelValue(std::string_view value) {
  std::string out;
  out.reserve(value.size());
  for (char c : value) {
    if (c == '\\') {
      out += "\\\\";
    } else if (c == '"') {
      out += "\\\"";
    } else if (c == '\n') {
      out += "\\n";
    } else {
      out += c;
    }
  }
  return out;
}

std::string MetricsText(const AgentMetrics& metrics, const MetricsReadings& readings) {
  Exposition out;
  AgentFigures(out, metrics, readings);
  DriveFigures(out, readings);
  DailyRunFigures(out, metrics);
  UpdateFigures(out, metrics);
  HttpFigures(out, metrics);
  DiagnosticsFigures(out, metrics);
  return out.Take();
}

}  // namespace quarrin
