// The syslog collector on a real database: what it stores, what it refuses,
// and that a database that falls behind costs counted datagrams, never a
// blocked socket.
#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "platform/net/udp_send.h"
#include "server/pg_testing.h"
#include "server/store.h"
#include "server/syslog_collector.h"

namespace quarrin {
namespace {

using namespace std::chrono_literals;

class SyslogCollectorTest : public testing::PgTest {
 protected:
  static void Send(uint16_t port, const std::string& datagram) {
    SendUdpDatagram(htonl(INADDR_LOOPBACK), port, datagram);
  }
  // Waits until the collector has dealt with `count` datagrams.
  static void Settle(const SyslogCollector& c, uint64_t count) {
    for (int i = 0; i < 500; ++i) {
      const SyslogCounters n = c.counters();
      if (n.stored + n.dropped + n.refused >= count) return;
      std::this_thread::sleep_for(10ms);
    }
  }
};

TEST_F(SyslogCollectorTest, StoresEachDatagramWithItsSenderAndMachine) {
  InventoryStore store(*pool_, 300s);
  tPCDetails d;
  d.MachineName = "KALDERN-PC07";
  store.PutDetails(d, "127.0.0.1");
  tPCDetails other;
  other.MachineName = "PC8";
  store.PutDetails(other, "10.1.1.8");

  SyslogCollector collector(*pool_, {"127.0.0.1", 0});
  std::string error;
  ASSERT_TRUE(collector.Start(&error)) << error;
  Send(collector.port(), "<21>Jan 05 2006 13:45:07: %QUARN-5-50000: QuarrinSrvc 1.0.0.0 execute");
  Send(collector.port(), "<34>Oct 11 22:14:15 pc8.corp.example su: 'su root' failed");
  Send(collector.port(), std::string(64 * 1024 - 100, 'x'));  // refused, not stored
  Send(collector.port(), "it's \"quoted\" \\ and {braced}");
  Settle(collector, 4);
  const SyslogCounters n = collector.counters();
  EXPECT_EQ(n.received, 4u);
  EXPECT_EQ(n.stored, 3u);
  EXPECT_EQ(n.refused, 1u);
  EXPECT_EQ(n.dropped, 0u);

  PgResult rows = Connect()->Exec(
      "SELECT host(e.sender), coalesce(m.name_key, '-'), coalesce(e.code, '-'),"
      " coalesce(e.severity::text, '-'), e.message, e.received > now() - interval '1 minute'"
      " FROM events e LEFT JOIN machines m ON m.id = e.machine_id ORDER BY e.id");
  ASSERT_EQ(rows.rows(), 3);
  EXPECT_EQ(rows.Text(0, 0) + " " + rows.Text(0, 1) + " " + rows.Text(0, 2) + " " + rows.Text(0, 3),
            "127.0.0.1 KALDERN-PC07 50000 5");
  // Named by its host, whatever address it came from.
  EXPECT_EQ(rows.Text(1, 1), "PC8");
  EXPECT_EQ(rows.Text(2, 4), "it's \"quoted\" \\ and {braced}");
  EXPECT_TRUE(rows.Bool(0, 5));
}

// The agent sends its first datagram when it starts, before its first
// report: the report from that address claims it.
TEST_F(SyslogCollectorTest, DatagramsBeforeAMachinesFirstReportJoinItThen) {
  SyslogCollector collector(*pool_, {"127.0.0.1", 0});
  std::string error;
  ASSERT_TRUE(collector.Start(&error)) << error;
  Send(collector.port(), "<21>Jan 05 2006 13:45:07: %QUARN-5-50000: QuarrinSrvc 1.0.0.0 execute");
  Settle(collector, 1);
  ASSERT_EQ(Count("SELECT count(*) FROM events WHERE machine_id IS NULL"), 1);
  InventoryStore store(*pool_, 300s);
  tPCDetails d;
  d.MachineName = "PC9";
  store.PutDetails(d, "127.0.0.1");
  EXPECT_EQ(Connect()->Exec("SELECT m.name_key FROM events e JOIN machines m ON m.id = e.machine_id")
                .Text(0, 0),
            "PC9");
}

TEST_F(SyslogCollectorTest, ADatabaseThatFallsBehindCostsCountedDatagramsNotTheSocket) {
  SyslogCollectorOptions options{"127.0.0.1", 0};
  options.queue_limit = 5;
  options.batch = 1;
  SyslogCollector collector(*pool_, options);
  std::string error;
  ASSERT_TRUE(collector.Start(&error)) << error;
  // Another session holds the table, so every write waits for it.
  auto blocker = Connect();
  blocker->Exec("BEGIN");
  blocker->Exec("LOCK TABLE events IN ACCESS EXCLUSIVE MODE");
  const auto started = std::chrono::steady_clock::now();
  for (int i = 0; i < 50; ++i) Send(collector.port(), "<21>burst " + std::to_string(i));
  for (int i = 0; i < 500 && collector.counters().received < 50; ++i) {
    std::this_thread::sleep_for(10ms);
  }
  EXPECT_EQ(collector.counters().received, 50u);
  EXPECT_LT(std::chrono::steady_clock::now() - started, 3s);  // never waited for the database
  EXPECT_GE(collector.counters().dropped, 40u);
  blocker->Exec("COMMIT");
  Settle(collector, 50);
  const SyslogCounters n = collector.counters();
  EXPECT_EQ(n.stored + n.dropped, 50u);
  EXPECT_EQ(Count("SELECT count(*) FROM events"), static_cast<int64_t>(n.stored));
}

}  // namespace
}  // namespace quarrin
