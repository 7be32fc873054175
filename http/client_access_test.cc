#include "http/client_access.h"

#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>

#include "platform/eventlog/event_log.h"
#include "tests/test_support.h"

namespace quarrin {
namespace {

// The address of a literal that is one.
IpAddress Ip(const char* text) { return ParseIpAddress(text).value(); }

TEST(AddressListTest, AddressesAndNetworksMatch) {
  AddressList list = AddressList::Parse("AllowedClients", " 10.0.0.0/8, 192.168.5.7;fd00::/8 ::1");
  struct {
    const char* client;
    bool in;
  } cases[] = {
      {"10.0.0.0", true},       {"10.255.1.2", true},         {"11.0.0.1", false},
      {"192.168.5.7", true},    {"192.168.5.8", false},       {"::ffff:10.9.9.9", true},
      {"::1", true},            {"::2", false},               {"fdab::1", true},
      {"fe80::1", false},       {"127.0.0.1", false},         {"::a00:1", false},
  };
  for (const auto& c : cases) EXPECT_EQ(list.Contains(Ip(c.client)), c.in) << c.client;

  EXPECT_TRUE(AddressList::Parse("x", "").empty());
  EXPECT_TRUE(AddressList::Parse("x", " , ;").empty());
  EXPECT_TRUE(AddressList::Parse("x", "0.0.0.0/0").Contains(Ip("203.0.113.9")));
  EXPECT_FALSE(AddressList::Parse("x", "0.0.0.0/0").Contains(Ip("2001:db8::1")));
  EXPECT_TRUE(AddressList::Parse("x", "10.1.2.3/16").Contains(Ip("10.1.200.200")));
}

TEST(AddressListTest, BadEntriesAreNamed) {
  struct {
    const char* text;
    const char* error;
  } cases[] = {
      {"10.0.0.0/8, pc-17", "Deployment value 'AllowedClients': 'pc-17' is not an IPv4 or IPv6 "
                            "address or network"},
      {"10.0.0.0/33", "Deployment value 'AllowedClients': '10.0.0.0/33' has no prefix length from "
                      "0 to 32"},
      {"::/129", "Deployment value 'AllowedClients': '::/129' has no prefix length from 0 to 128"},
      {"10.0.0.0/", "Deployment value 'AllowedClients': '10.0.0.0/' has no prefix length from 0 "
                    "to 32"},
      {"10.0.0.0/8x", "Deployment value 'AllowedClients': '10.0.0.0/8x' has no prefix length "
                      "from 0 to 32"},
      {"10.0.0.0/-1", "Deployment value 'AllowedClients': '10.0.0.0/-1' has no prefix length "
                      "from 0 to 32"},
  };
  for (const auto& c : cases) {
    try {
      AddressList::Parse("AllowedClients", c.text);
      ADD_FAILURE() << c.text << ": accepted";
    } catch (const std::invalid_argument& e) {
      EXPECT_STREQ(e.what(), c.error);
    }
  }
}

TEST(ClientAccessTest, ListsDecideByKindOfCommand) {
  ClientAccess open;
  ClientAccess clients{AddressList::Parse("AllowedClients", "127.0.0.1"), {}};
  ClientAccess both{AddressList::Parse("AllowedClients", "127.0.0.1"),
                    AddressList::Parse("AllowedReaders", "127.0.0.3")};
  const std::optional<IpAddress> admin = Ip("127.0.0.1"), reader = Ip("127.0.0.3"),
                                 other = Ip("127.0.0.2"), unknown;
  struct {
    const char* name;
    const ClientAccess& access;
    HttpCommand command;
    const std::optional<IpAddress>& client;
    bool allowed;
  } cases[] = {
      {"open, setter", open, HttpCommand::kSetAttribute, other, true},
      {"open, unknown client", open, HttpCommand::kUpdate, unknown, true},
      {"clients, setter by admin", clients, HttpCommand::kSetAttribute, admin, true},
      {"clients, setter by other", clients, HttpCommand::kSetAttribute, other, false},
      {"clients, message by other", clients, HttpCommand::kMessage, other, false},
      {"clients, update by other", clients, HttpCommand::kUpdate, other, false},
      {"clients, syslog test by other", clients, HttpCommand::kSyslogTest, other, false},
      {"clients, disk map by other", clients, HttpCommand::kDiskMap, other, false},
      {"clients, unknown client", clients, HttpCommand::kUpdate, unknown, false},
      {"clients, info by other", clients, HttpCommand::kInfo, other, true},
      {"clients, chart by other", clients, HttpCommand::kUsageChart, other, true},
      {"both, info by reader", both, HttpCommand::kInfo, reader, true},
      {"both, apps by admin", both, HttpCommand::kApps, admin, true},
      {"both, menu by other", both, HttpCommand::kMenu, other, false},
      {"both, odx by other", both, HttpCommand::kOdx, other, false},
      {"both, metrics by reader", both, HttpCommand::kMetrics, reader, true},
      {"both, metrics by other", both, HttpCommand::kMetrics, other, false},
      {"clients, metrics by other", clients, HttpCommand::kMetrics, other, true},
      {"both, setter by reader", both, HttpCommand::kSetAttribute, reader, false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(!AccessRefusal(c.access, c.command, c.client).has_value(), c.allowed) << c.name;
  }
  EXPECT_EQ(AccessRefusal(clients, HttpCommand::kUpdate, other),
            "Forbidden: this client may not use this command (AllowedClients)");
  EXPECT_EQ(AccessRefusal(both, HttpCommand::kInfo, other),
            "Forbidden: this client may not read from this agent (AllowedReaders)");
}

TEST(RefusalLogTest, OneEntryPerIntervalCountingTheRest) {
  testing::TempDir dir;
  std::unique_ptr<EventLog> log = OpenEventLog(dir / "events.db");
  EventWriter events(*log, "TARNQuarrinSrvc");
  RefusalLog refusals(events, std::chrono::seconds(60));
  const auto t0 = std::chrono::steady_clock::time_point{} + std::chrono::hours(1);
  refusals.Refused("127.0.0.2", "GET /update HTTP/1.1", "AllowedClients", t0);
  for (int i = 1; i <= 3; ++i) {
    refusals.Refused("127.0.0.2", "GET /update HTTP/1.1", "AllowedClients",
                     t0 + std::chrono::seconds(i));
  }
  refusals.Refused("", "GET /setcomment=" + std::string(1000, 'x') + " HTTP/1.1", "AllowedClients",
                   t0 + std::chrono::seconds(61));
  std::vector<EventRecord> entries = log->Read();
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[0].type, EventType::kWarning);
  EXPECT_EQ(entries[0].id, kRefusedClientEvent);
  EXPECT_EQ(entries[0].text,
            "Refused HTTP request from 127.0.0.2: GET /update HTTP/1.1 (AllowedClients)");
  EXPECT_EQ(entries[1].text, "Refused HTTP request from an unknown address: GET /setcomment=" +
                                 std::string(184, 'x') +
                                 " (AllowedClients); 3 more refused since the last entry");
}

}  // namespace
}  // namespace quarrin
