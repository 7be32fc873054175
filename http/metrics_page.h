// The reply of the /metrics command: the agent's figures in the text format
// that Prometheus scrapes (version 0.0.4). Every family has its HELP and
// TYPE lines; counters end in _total, times are Unix seconds, sizes bytes.
// A figure the agent does not have (no sample yet, a drive that cannot be
// queried, no update check yet) is left out rather than made up.
#ifndef QUARRIN_HTTP_METRICS_PAGE_H_
#define QUARRIN_HTTP_METRICS_PAGE_H_

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "core/agent_metrics.h"
#include "http/dispatcher.h"

namespace quarrin {

inline constexpr char kMetricsContentType[] = "text/plain; version=0.0.4; charset=utf-8";

// What is read afresh for each reply.
struct MetricsReadings {
  std::string version;
  // The system drive now; nullopt when it cannot be queried.
  std::optional<int64_t> drive_total_bytes;
  std::optional<int64_t> drive_free_bytes;
  // The latest five-minute sample: when it was taken and the used fraction.
  struct Sample {
    int64_t unix_ms = 0;
    double used_ratio = 0;
  };
  std::optional<Sample> latest_sample;
};

// The command's name in the requests' label: "info", "apps", "metrics", ...
std::string_view CommandLabel(HttpCommand command);

// A label value as the format writes it: backslash, double quote and line
// feed escaped.
std::string EscapeLabelValue(std::string_view value);

std::string MetricsText(const AgentMetrics& metrics, const MetricsReadings& readings);

}  // namespace quarrin

#endif  // QUARRIN_HTTP_METRICS_PAGE_H_
