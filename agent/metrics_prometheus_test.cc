// The real QuarrinSrvc scraped by the real Prometheus, both on loopback:
// promtool accepts the agent's /metrics text, and a query through
// Prometheus' HTTP API returns the used ratio of the agent's latest sample.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "core/time_texts.h"
#include "http/raw_http_client_testing.h"
#include "platform/regional/regional_settings.h"
#include "platform/time/clock.h"
#include "tests/child_process.h"
#include "tests/http_test_server.h"
#include "tests/test_support.h"

namespace quarrin {
namespace {

using namespace std::chrono_literals;
using testing::BuiltExecutable;
using testing::Child;
using testing::RawExchange;
using testing::RunCommand;

// The request of `target` on a connection the server closes after it.
std::string Get(const std::string& target) {
  return "GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n";
}

// Retries `attempt` every 100 ms until it gives a non-empty text or
// `limit` has passed; the last text.
template <typename Attempt>
std::string Poll(std::chrono::milliseconds limit, Attempt attempt) {
  const auto end = std::chrono::steady_clock::now() + limit;
  std::string text;
  while ((text = attempt()).empty() && std::chrono::steady_clock::now() < end) {
    std::this_thread::sleep_for(100ms);
  }
  return text;
}

TEST(MetricsPrometheusTest, PrometheusScrapesTheAgentsDiskRatio) {
  testing::TempDir dir;
  testing::RefusingPort nobody;  // every outside system of the agent
  const uint16_t agent_port = testing::FreePort();
  const std::vector<std::string> agent_env = {"QUARRIN_ROOT=" + dir / "agent",
                                              "QUARRIN_SCM=TARNQuarrinSrvc", "NOTIFY_SOCKET="};
  // A sample stamped an hour ahead stays the latest, whatever the agent
  // samples meanwhile; 0.4375 has an exact binary form.
  const std::string sample_name =
      TimestampText(AddMilliseconds(SystemClock().Now(), 3600000), SystemClock(), RegionalSettings{});
  testing::WriteFileText(
      dir / "agent.reg",
      "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\TARN\\QuarrinSrvc\\Deployment]\n"
      "\"HTTPAddress\"=\"127.0.0.1\"\n"
      "\"HTTPPort\"=\"" + std::to_string(agent_port) + "\"\n"
      "\"ManifestURL\"=\"" + nobody.Url("/downloads/QuarrinSrvc.xml") + "\"\n"
      "\"InventoryURL\"=\"" + nobody.Url("/soap") + "\"\n"
      "\"LookupPingHost\"=\"127.0.0.1\"\n"
      "\"LookupWebHost\"=\"127.0.0.1:" + std::to_string(nobody.port()) + "\"\n\n"
      "[HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Services\\TARNQuarrinSrvc\\C_Drive(Day)]\n"
      "\"" + sample_name + "\"=hex:00,00,00,00,00,00,dc,3f\n");
  const testing::CommandResult imported =
      RunCommand({BuiltExecutable("quarrinctl"), "reg", "import", dir / "agent.reg"}, agent_env);
  ASSERT_EQ(imported.exit_status, 0) << imported.err;
  Child agent({BuiltExecutable("QuarrinSrvc")}, agent_env, dir / "agent.log");

  const std::string metrics = Poll(20s, [&] {
    testing::RawResponse r = RawExchange(agent_port, Get("/metrics"), 10s);
    return r.status == 200 ? r.body : std::string();
  });
  ASSERT_FALSE(metrics.empty()) << testing::ReadFileText(dir / "agent.log");
  EXPECT_NE(metrics.find("\nquarrin_system_drive_used_ratio 0.4375\n"), std::string::npos)
      << metrics;

  // promtool reads the text from its standard input; lint problems fail it.
  const testing::CommandResult lint = RunCommand({"promtool", "check", "metrics"}, {}, metrics);
  EXPECT_EQ(lint.exit_status, 0) << lint.out << lint.err << metrics;
  EXPECT_EQ(lint.out + lint.err, "");

  const uint16_t prometheus_port = testing::FreePort();
  testing::WriteFileText(dir / "prometheus.yml",
                         "global:\n"
                         "  scrape_interval: 1s\n"
                         "  evaluation_interval: 1s\n"
                         "scrape_configs:\n"
                         "  - job_name: quarrin\n"
                         "    static_configs:\n"
                         "      - targets: ['127.0.0.1:" + std::to_string(agent_port) + "']\n");
  Child prometheus({"prometheus", "--config.file=" + dir / "prometheus.yml",
                    "--storage.tsdb.path=" + dir / "tsdb",
                    "--web.listen-address=127.0.0.1:" + std::to_string(prometheus_port),
                    "--log.level=warn"},
                   {}, dir / "prometheus.log");
  const std::string answer = Poll(60s, [&] {
    testing::RawResponse r = RawExchange(
        prometheus_port, Get("/api/v1/query?query=quarrin_system_drive_used_ratio"), 10s);
    return r.status == 200 && r.body.find("\"result\":[{") != std::string::npos ? r.body
                                                                                 : std::string();
  });
  ASSERT_FALSE(answer.empty()) << testing::ReadFileText(dir / "prometheus.log");
  EXPECT_NE(answer.find("\"job\":\"quarrin\""), std::string::npos) << answer;
  EXPECT_NE(answer.find(",\"0.4375\"]"), std::string::npos) << answer;
  EXPECT_TRUE(agent.running());
}

}  // namespace
}  // namespace quarrin
