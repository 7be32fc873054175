#include "server/syslog_message.h"

#include <gtest/gtest.h>

namespace quarrin {
namespace {

TEST(SyslogMessageTest, ReadsTheAgentsAndOtherDatagrams) {
  struct Case {
    std::string datagram;
    std::optional<int> facility, severity;
    std::string host, code, text;
  } cases[] = {
      {"<21>Jan 05 2006 13:45:07: %QUARN-5-50000: agent.exe 10.11.31.0 execute", 2, 5, "",
       "50000", "Jan 05 2006 13:45:07: %QUARN-5-50000: agent.exe 10.11.31.0 execute"},
      {"<17>Dec 31 2026 23:59:59: %QUARN-1-10020: iResponseCode=404", 2, 1, "", "10020",
       "Dec 31 2026 23:59:59: %QUARN-1-10020: iResponseCode=404"},
      {"<34>Oct 11 22:14:15 mymachine su: 'su root' failed", 4, 2, "mymachine", "",
       "Oct 11 22:14:15 mymachine su: 'su root' failed"},
      {"<13>Feb  5 01:02:03 pc7.corp.example %QUARN-6-60000: x", 1, 5, "pc7.corp.example", "60000",
       "Feb  5 01:02:03 pc7.corp.example %QUARN-6-60000: x"},
      {"<191>x", 23, 7, "", "", "x"},
      {"<192>too high", std::nullopt, std::nullopt, "", "", "<192>too high"},
      {"<1a>x", std::nullopt, std::nullopt, "", "", "<1a>x"},
      {"no priority at all", std::nullopt, std::nullopt, "", "", "no priority at all"},
      {"<21>%QUARN-5-5000: short code", 2, 5, "", "", "%QUARN-5-5000: short code"},
      {"", std::nullopt, std::nullopt, "", "", ""},
      // ANSI text from the agent: Latin-1 bytes become their characters.
      {std::string("<21>caf\xE9\0x", 10), 2, 5, "", "", "caf\xC3\xA9\xEF\xBF\xBDx"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.datagram);
    const SyslogMessage m = ParseSyslogDatagram(c.datagram);
    EXPECT_EQ(m.facility, c.facility);
    EXPECT_EQ(m.severity, c.severity);
    EXPECT_EQ(m.host, c.host);
    EXPECT_EQ(m.code, c.code);
    EXPECT_EQ(m.text, c.text);
  }
}

}  // namespace
}  // namespace quarrin
