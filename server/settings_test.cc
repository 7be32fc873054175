#include "server/settings.h"

#include <gtest/gtest.h>

#include "platform/net/ip_address.h"
#include "tests/test_support.h"

namespace quarrin {
namespace {

TEST(ServerSettingsTest, EverySettingHasADefault) {
  const ServerSettings s = ParseServerSettings("", "empty.conf");
  EXPECT_EQ(s.listen_address, "");
  EXPECT_EQ(s.port, 8090);
  EXPECT_EQ(s.syslog_port, 514);
  EXPECT_EQ(s.database, "dbname=quarrin");
  EXPECT_EQ(s.accepted_callers,
            std::vector<std::string>{"{7C3E5A10-4B2D-4E8F-9A61-0D5B3C2E1F48}"});
  EXPECT_TRUE(s.api_tokens.empty());
  EXPECT_TRUE(s.intake_allowed_clients.empty());
  EXPECT_EQ(s.update_key, "");
  EXPECT_EQ(s.tls_certificate, "");
  EXPECT_EQ(s.report_quiet_period, std::chrono::seconds(300));
  EXPECT_EQ(s.events_retention_days, 90);
  EXPECT_EQ(s.history_retention_days, 1096);
  EXPECT_EQ(s.rings, std::vector<std::string>{"pilot"});
  EXPECT_EQ(s.manifest_debug, "Off");
  EXPECT_EQ(s.manifest_syslog, "");
  EXPECT_EQ(s.agent_port, 88);
  EXPECT_EQ(s.agent_connect_timeout, std::chrono::seconds(3));
  EXPECT_EQ(s.agent_date_format, "dd/MM/yyyy");
  EXPECT_EQ(s.audit_retention_days, 365);
  EXPECT_EQ(s.rollout_halt_machines, 2);
  EXPECT_EQ(s.rollout_halt_percent, 10);
  EXPECT_EQ(s.rollout_silent, std::chrono::minutes(60));
}

TEST(ServerSettingsTest, ReadsKeyValueLinesWithCommentsAndBlanks) {
  const ServerSettings s = ParseServerSettings(
      "# the fleet server\n"
      "\n"
      "  port = 9000  \r\n"
      "listen_address=127.0.0.1\n"
      "database = postgresql://quarrin@/fleet?host=/run/pg\n"
      "accepted_callers = {A}, {B}\n"
      "api_tokens = 0123456789abcdef 0123456789ABCDEF\n"
      "intake_allowed_clients = 10.0.0.0/8, ::1\n"
      "database_pool_size = 8\n"
      "database_pool_queue = 0\n"
      "database_prepared_statements = off\n"
      "max_connections = 64\n"
      "intake_connections = 12\n"
      "database_statement_timeout_ms = 250\n"
      "report_quiet_period_s = 1\n"
      "history_retention_days = 365\n"
      "syslog_port = 0\n"
      "agent_port = 8088\n"
      "agent_read_timeout_s = 4\n"
      "audit_retention_days = 30\n"
      "rollout_silent_minutes = 15\n",
      "fleet.conf");
  EXPECT_EQ(s.port, 9000);
  EXPECT_EQ(s.listen_address, "127.0.0.1");
  EXPECT_EQ(s.database, "postgresql://quarrin@/fleet?host=/run/pg");
  EXPECT_EQ(s.accepted_callers, (std::vector<std::string>{"{A}", "{B}"}));
  EXPECT_EQ(s.api_tokens.size(), 2u);
  EXPECT_TRUE(s.intake_allowed_clients.Contains(*ParseIpAddress("10.1.2.3")));
  EXPECT_FALSE(s.intake_allowed_clients.Contains(*ParseIpAddress("192.168.1.1")));
  EXPECT_EQ(s.database_pool_size, 8u);
  EXPECT_EQ(s.database_pool_queue, 0u);
  EXPECT_FALSE(s.database_prepared_statements);
  EXPECT_EQ(s.max_connections, 64u);
  EXPECT_EQ(s.intake_connections, 12u);
  EXPECT_EQ(s.database_statement_timeout, std::chrono::milliseconds(250));
  EXPECT_EQ(s.report_quiet_period, std::chrono::seconds(1));
  EXPECT_EQ(s.history_retention_days, 365);
  EXPECT_EQ(s.syslog_port, 0);
  EXPECT_EQ(s.agent_port, 8088);
  EXPECT_EQ(s.agent_read_timeout, std::chrono::seconds(4));
  EXPECT_EQ(s.audit_retention_days, 30);
  EXPECT_EQ(s.rollout_silent, std::chrono::minutes(15));
}

TEST(ServerSettingsTest, ABadLineIsAnErrorNamingItsLine) {
  struct Case {
    std::string text;
    std::string message;
  } cases[] = {
      {"port = 8090\nport 9000\n", "f.conf:2: not a \"key = value\" line"},
      {"\n\nprot = 1\n", "f.conf:3: unknown setting 'prot'"},
      {"port = 1\nport = 2\n", "f.conf:2: port is set twice"},
      {"port = 65536\n", "f.conf:1: port: '65536' is not a whole number from 1 to 65535"},
      {"port = -1\n", "f.conf:1: port: '-1' is not a whole number from 1 to 65535"},
      {"port = 80x\n", "f.conf:1: port: '80x' is not a whole number from 1 to 65535"},
      {"port =\n", "f.conf:1: port: '' is not a whole number from 1 to 65535"},
      {"listen_address = localhost\n", "f.conf:1: listen_address: 'localhost' is not an IPv4 or IPv6 address"},
      {"database =\n", "f.conf:1: database: the database connection is empty"},
      {"accepted_callers = , ,\n", "f.conf:1: accepted_callers: no caller identification: every report would be refused"},
      {"api_tokens = short\n", "f.conf:1: api_tokens: an API token must have at least 16 characters"},
      {"intake_allowed_clients = 10.0.0.0/33\n", "f.conf:1: intake_allowed_clients: "},
      {"update_key = RWnotakey\n", "f.conf:1: update_key: "},
      {"database_connect_timeout_s = 1\n", "f.conf:1: database_connect_timeout_s: '1' is not a whole number from 2 to 600"},
      {"database_prepared_statements = 0\n", "f.conf:1: database_prepared_statements: '0' is neither on nor off"},
      {"tls_certificate = /etc/cert.pem\n", "f.conf: tls_certificate and tls_key go together: set both or neither"},
      {"\xff\xfe=\x01\n", "f.conf:1: unknown setting"},
      {"rings = pilot, main\n", "f.conf:1: rings: 'main' is not a ring name"},
      {"rings = pilot ../x\n", "f.conf:1: rings: '../x' is not a ring name"},
      {"audit_retention_days = 0\n", "f.conf:1: audit_retention_days: '0' is not a whole number from 1"},
      {"rollout_halt_percent = 101\n", "f.conf:1: rollout_halt_percent: '101' is not a whole number from 0 to 100"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    try {
      ParseServerSettings(c.text, "f.conf");
      ADD_FAILURE() << "no error";
    } catch (const SettingsError& e) {
      EXPECT_EQ(std::string(e.what()).rfind(c.message, 0), 0u) << e.what();
    }
  }
}

TEST(ServerSettingsTest, AFileThatCannotBeReadIsAnErrorNamingIt) {
  testing::TempDir dir;
  try {
    ReadServerSettings(dir / "absent.conf");
    ADD_FAILURE() << "no error";
  } catch (const SettingsError& e) {
    EXPECT_NE(std::string(e.what()).find(dir / "absent.conf"), std::string::npos) << e.what();
  }
  testing::WriteFileText(dir / "s.conf", "port = 8123\n");
  EXPECT_EQ(ReadServerSettings(dir / "s.conf").port, 8123);
}

}  // namespace
}  // namespace quarrin
