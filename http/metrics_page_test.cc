#include "http/metrics_page.h"

#include <gtest/gtest.h>

#include <sstream>

#include "platform/time/fake_clock.h"

namespace quarrin {
namespace {

using namespace std::chrono_literals;

TEST(EscapeLabelValueTest, BackslashQuoteAndLineFeed) {
  const struct {
    const char* value;
    const char* written;
  } cases[] = {
      {"1.0.0.7", "1.0.0.7"},
      {"a\"b", "a\\\"b"},
      {"C:\\Program Files", "C:\\\\Program Files"},
      {"two\nlines", "two\\nlines"},
      {"tab\tstays", "tab\tstays"},
      {"", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(EscapeLabelValue(c.value), c.written) << c.value;
}

class MetricsTextTest : public ::testing::Test {
 protected:
  MetricsTextTest() : clock_(EncodeDateTime({2026, 12, 11, 6, 0, 0, 0}), 1h), metrics_(clock_) {
    readings_.version = "1.0.0.0";
  }

  // Each sample line must follow the HELP and TYPE lines of its family.
  static void ExpectWellFormed(const std::string& text) {
    std::istringstream lines(text);
    std::string line, family;
    bool helped = false;
    while (std::getline(lines, line)) {
      if (line.starts_with("# HELP ")) {
        family = line.substr(7, line.find(' ', 7) - 7);
        helped = true;
      } else if (line.starts_with("# TYPE ")) {
        EXPECT_TRUE(helped) << line;
        EXPECT_EQ(line.substr(7, family.size() + 1), family + " ") << line;
      } else {
        EXPECT_TRUE(line.starts_with(family + " ") || line.starts_with(family + "{")) << line;
        helped = false;
      }
    }
    EXPECT_TRUE(text.ends_with("\n"));
  }

  FakeClock clock_;
  AgentMetrics metrics_;
  MetricsReadings readings_;
};

TEST_F(MetricsTextTest, AFreshAgentLeavesOutWhatItHasNotSeen) {
  const std::string text = MetricsText(metrics_, readings_);
  ExpectWellFormed(text);
  for (const char* absent :
       {"quarrin_system_drive", "quarrin_daily_run_last", "quarrin_update_"}) {
    EXPECT_EQ(text.find(absent), std::string::npos) << absent << "\n" << text;
  }
  for (const char* present : {
           "quarrin_build_info{version=\"1.0.0.0\"} 1\n",
           "quarrin_uptime_seconds 0\n",
           "quarrin_daily_run_step_outcome{step=\"lookup\",outcome=\"not_run\"} 1\n",
           "quarrin_daily_run_step_outcome{step=\"lookup\",outcome=\"ok\"} 0\n",
           "quarrin_http_requests_total{command=\"info\",status=\"200\"} 0\n",
           "quarrin_http_refusals_total{reason=\"timeout\"} 0\n",
           "quarrin_syslog_datagrams_sent_total 0\n",
           "quarrin_event_log_entries_total{type=\"information\"} 0\n",
       }) {
    EXPECT_NE(text.find(present), std::string::npos) << present << "\n" << text;
  }
  // Statuses other than 200 appear once they occur.
  EXPECT_EQ(text.find("status=\"403\""), std::string::npos);
}

TEST_F(MetricsTextTest, EveryFigureOnceSeen) {
  const int64_t start = metrics_.start_unix_ms();
  clock_.Advance(1500ms);
  metrics_.DailyRunStarted();
  metrics_.SetStepOutcome(DailyStep::kUpdateCheck, StepOutcome::kFailed);
  metrics_.SetStepOutcome(DailyStep::kApplicationsReport, StepOutcome::kOk);
  clock_.Advance(1000ms);
  metrics_.DailyRunCompleted();
  metrics_.UpdateChecked("1.0.0.9 \"beta\"", true, true);
  metrics_.CountHttpRequest(static_cast<size_t>(HttpCommand::kMetrics), 403);
  metrics_.CountHttpRefusal(HttpRefusal::kPerClientLimit);
  metrics_.CountSyslogDatagram();
  metrics_.CountEventLogEntry(EventType::kError);
  readings_.drive_total_bytes = int64_t{500} << 30;
  readings_.drive_free_bytes = 123456789;
  readings_.latest_sample = MetricsReadings::Sample{start - 60000, 0.1};

  const std::string text = MetricsText(metrics_, readings_);
  ExpectWellFormed(text);
  auto seconds = [](int64_t ms) {
    std::string s = std::to_string(ms / 1000);
    if (ms % 1000 != 0) s += "." + std::to_string(ms % 1000 / 100);
    return s;
  };
  for (const std::string& present : {
           "# TYPE quarrin_start_time_seconds gauge\nquarrin_start_time_seconds " +
               seconds(start) + "\n",
           std::string("quarrin_uptime_seconds 2.5\n"),
           std::string("quarrin_system_drive_size_bytes 536870912000\n"),
           std::string("quarrin_system_drive_free_bytes 123456789\n"),
           std::string("quarrin_system_drive_used_ratio 0.1\n"),
           "quarrin_system_drive_sample_time_seconds " + seconds(start - 60000) + "\n",
           "quarrin_daily_run_last_run_time_seconds " + seconds(start + 1500) + "\n",
           "quarrin_daily_run_last_complete_time_seconds " + seconds(start + 2500) + "\n",
           std::string("{step=\"update_check\",outcome=\"failed\"} 1\n"),
           std::string("{step=\"applications_report\",outcome=\"ok\"} 1\n"),
           std::string("{step=\"applications_report\",outcome=\"not_run\"} 0\n"),
           std::string("quarrin_update_published_version_info{version=\"1.0.0.9 \\\"beta\\\"\"} 1\n"),
           std::string("quarrin_update_pending 1\n"),
           std::string("quarrin_update_refused 1\n"),
           "quarrin_update_last_check_time_seconds " + seconds(start + 2500) + "\n",
           std::string("# TYPE quarrin_http_requests_total counter\n"),
           std::string("quarrin_http_requests_total{command=\"metrics\",status=\"403\"} 1\n"),
           std::string("quarrin_http_refusals_total{reason=\"per_client_limit\"} 1\n"),
           std::string("quarrin_syslog_datagrams_sent_total 1\n"),
           std::string("quarrin_event_log_entries_total{type=\"error\"} 1\n"),
       }) {
    EXPECT_NE(text.find(present), std::string::npos) << present << "\n" << text;
  }
}

}  // namespace
}  // namespace quarrin
