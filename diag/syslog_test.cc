#include "diag/syslog.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <string>

#include "diag/syslog_catalogue.h"
#include "platform/time/fake_clock.h"
#include "platform/eventlog/memory_event_log_double.h"
#include "tests/udp_collector.h"

namespace quarrin {
namespace {

using std::chrono::milliseconds;

DateTime At(int year, int month, int day, int hour, int minute, int second, int ms = 0) {
  return EncodeDateTime({year, month, day, hour, minute, second, ms});
}

TEST(SyslogDatagramTest, FormatsPriorityAndTimestamp) {
  RegionalSettings dotted;
  dotted.time_separator = ".";
  struct {
    const char* text;
    int severity;
    DateTime now;
    RegionalSettings settings;
    const char* expected;
  } cases[] = {
      {"%QUARN-5-50000: agent.exe 10.11.31.0 execute", 5, At(2006, 1, 5, 13, 45, 7, 123), {},
       "<21>Jan 05 2006 13:45:07: %QUARN-5-50000: agent.exe 10.11.31.0 execute"},
      {"x", 1, At(2099, 12, 31, 23, 59, 59, 999), {}, "<17>Dec 31 2099 23:59:59: x"},
      {"x", 6, At(999, 7, 9, 0, 0, 0), {}, "<22>Jul 09 0999 00:00:00: x"},
      {"x", 6, At(2006, 1, 5, 9, 5, 3), dotted, "<22>Jan 05 2006 09.05.03: x"},
      {"", 5, At(2006, 1, 5, 9, 5, 3), {}, "<21>Jan 05 2006 09:05:03: "},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(SyslogDatagram(c.text, c.severity, kSyslogFacility, c.now, c.settings), c.expected);
  }
}

TEST(SyslogDatagramTest, LongTextIsCutToOneDatagramBetweenCharacters) {
  const DateTime now = At(2006, 1, 5, 13, 45, 7);
  std::string header = SyslogDatagram("", 5, kSyslogFacility, now, {});
  size_t room = kMaxSyslogDatagramBytes - header.size();

  std::string fits(room, 'a');
  EXPECT_EQ(SyslogDatagram(fits, 5, kSyslogFacility, now, {}), header + fits);

  std::string too_long(70000, 'a');
  EXPECT_EQ(SyslogDatagram(too_long, 5, kSyslogFacility, now, {}), header + std::string(room, 'a'));

  // "é" is two bytes; one that straddles the limit is left out whole.
  std::string accented = std::string(room - 1, 'a') + "\xC3\xA9" + "tail";
  EXPECT_EQ(SyslogDatagram(accented, 5, kSyslogFacility, now, {}),
            header + std::string(room - 1, 'a'));
}

TEST(SyslogCatalogueTest, MessagesHaveTheirExactTexts) {
  struct {
    SyslogMessage message;
    int severity;
    const char* text;
  } cases[] = {
      {SyslogTestMessage("PC042"), 5, "%QUARN-5-00002: SYSLOG Test from PC042"},
      {DownloadFileFailedMessage("Cannot create file"), 1, "%QUARN-1-10000: Cannot create file"},
      {DownloadStatusMessage(404), 1, "%QUARN-1-10020: iResponseCode=404"},
      {ExecuteMessage("QuarrinSrvc", "1.0.0.0"), 5, "%QUARN-5-50000: QuarrinSrvc 1.0.0.0 execute"},
      {ServiceStopMessage(), 5, "%QUARN-5-50001: QUARRINSRVC stop"},
      {ServiceStartMessage(), 5, "%QUARN-5-50002: QUARRINSRVC start"},
      {ServiceShutdownMessage(), 5, "%QUARN-5-50003: QUARRINSRVC shutdown"},
      {UpdateCheckMessage("1.0.0.0", "1.0.0.1", true), 5,
       "%QUARN-5-50090: Check for update. Current version: 1.0.0.0 Update version: 1.0.0.1 "
       "Is available"},
      // An empty manifest version still gets its blank: two blanks in a row.
      {UpdateCheckMessage("1.0.0.0", "", false), 5,
       "%QUARN-5-50090: Check for update. Current version: 1.0.0.0 Update version:  Not required"},
      {DownloadInitiatedMessage("QuarrinSrvc"), 5,
       "%QUARN-5-50100: ~QuarrinSrvc download initiated."},
      {DownloadCompletedMessage("QuarrinSrvc"), 5,
       "%QUARN-5-50101: ~QuarrinSrvc download completed."},
      {RestartingMessage(), 5, "%QUARN-5-50110: Restarting Service"},
      {UpdateRefusedMessage("The signature does not match the file"), 1,
       "%QUARN-1-10030: Update refused: The signature does not match the file"},
      {MainMenuMessage("10.0.0.7"), 6, "%QUARN-6-60000: 10.0.0.7 requested Main menue"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.message.text, c.text);
    EXPECT_EQ(c.message.severity, c.severity) << c.text;
  }
  // Every code of the catalogue has its message above.
  for (const SyslogCatalogueEntry& entry : SyslogCatalogue()) {
    std::string start = "%QUARN-" + std::to_string(entry.severity) + std::string(entry.prefix);
    EXPECT_TRUE(std::any_of(std::begin(cases), std::end(cases),
                            [&](const auto& c) { return c.message.text.rfind(start, 0) == 0; }))
        << start;
  }
}

class SyslogSendTest : public ::testing::Test {
 protected:
  FakeClock clock_{At(2006, 1, 5, 13, 45, 7, 500)};
  RegionalSettings settings_;
  testing::UdpCollector collector_;
  MemoryEventLog log_;
  EventWriter events_{log_, "TARNQuarrinSrvc"};
};

TEST_F(SyslogSendTest, LocalhostInAnyCaseAndDottedAddressesReachTheCollector) {
  for (const char* host : {"LoCaLhOsT", "localhost", "LOCALHOST", "127.0.0.1"}) {
    SCOPED_TRACE(host);
    SendSyslog("%QUARN-6-60000: 127.0.0.1 requested Main menue", host, 6, kSyslogFacility,
               collector_.port(), clock_, settings_);
    EXPECT_EQ(collector_.Receive(milliseconds(2000)),
              "<22>Jan 05 2006 13:45:07: %QUARN-6-60000: 127.0.0.1 requested Main menue");
  }
}

TEST_F(SyslogSendTest, AFullSizeDatagramArrivesWhole) {
  SendSyslog(std::string(70000, 'z'), "127.0.0.1", 5, kSyslogFacility, collector_.port(), clock_,
             settings_);
  auto datagram = collector_.Receive(milliseconds(2000));
  ASSERT_TRUE(datagram.has_value());
  EXPECT_EQ(datagram->size(), kMaxSyslogDatagramBytes);
}

TEST_F(SyslogSendTest, EmptyHostSendsNothing) {
  EXPECT_NO_THROW(SendSyslog("x", "", 5, kSyslogFacility, collector_.port(), clock_, settings_));
  Syslog syslog("", collector_.port(), clock_, settings_, events_);
  syslog.Send(ServiceStopMessage());
  EXPECT_EQ(collector_.Receive(milliseconds(100)), std::nullopt);
  EXPECT_TRUE(log_.Read({}).empty());
}

TEST_F(SyslogSendTest, UnresolvableNameThrowsTheSocketLayersMessage) {
  try {
    SendSyslog("x", "collector.quarrin.invalid", 5, kSyslogFacility, collector_.port(), clock_,
               settings_);
    FAIL() << "no error";
  } catch (const SyslogError& e) {
    EXPECT_EQ(std::string(e.what()).rfind("Socket Error # 1100", 0), 0u) << e.what();
    EXPECT_NE(std::string(e.what()).find("\r\n"), std::string::npos) << e.what();
  }
}

TEST_F(SyslogSendTest, SenderReportsAFailingCollectorOnceUntilASendSucceeds) {
  AgentMetrics metrics(clock_);
  Syslog syslog("collector.quarrin.invalid", collector_.port(), clock_, settings_, events_,
                &metrics);
  EXPECT_NO_THROW(syslog.Send(ServiceStopMessage()));
  syslog.Send(ServiceShutdownMessage());
  auto entries = log_.Read({});
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].source, "TARNQuarrinSrvc");
  EXPECT_EQ(entries[0].type, EventType::kError);
  EXPECT_EQ(entries[0].category, 0);
  EXPECT_EQ(entries[0].id, kSyslogFailureEventId);
  EXPECT_EQ(entries[0].text.rfind("Syslog message not sent to collector.quarrin.invalid:" +
                                      std::to_string(collector_.port()) + ": Socket Error # ",
                                  0),
            0u)
      << entries[0].text;

  syslog.SetHost("localhost");
  syslog.Send(ServiceStartMessage());
  EXPECT_EQ(collector_.Receive(milliseconds(2000)),
            "<21>Jan 05 2006 13:45:07: %QUARN-5-50002: QUARRINSRVC start");

  syslog.SetHost("collector.quarrin.invalid");
  syslog.Send(ServiceStopMessage());
  EXPECT_EQ(log_.Read({}).size(), 2u);
  // Only the datagram that went out counts as sent.
  EXPECT_EQ(metrics.SyslogDatagrams(), 1u);
}

}  // namespace
}  // namespace quarrin
