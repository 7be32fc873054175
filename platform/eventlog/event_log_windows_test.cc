// The event log on Windows: the Application log under the writer's source.
#include "platform/eventlog/event_log.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>

namespace quarrin {
namespace {

// Wine's event log keeps nothing (it only traces the texts, WINEDEBUG=+eventlog),
// so under Wine an entry cannot be read back; on Windows it must be.
TEST(WindowsEventLogTest, WritesAndReadsBackWhereTheLogKeepsEntries) {
  auto log = OpenEventLog("");
  const std::string text =
      "event log test \xc3\xa9 " +
      std::to_string(std::chrono::steady_clock::now().time_since_epoch().count());
  log->Write("QuarrinPlatformTests", text, EventType::kInformation, 0, 1);
  log->Write("QuarrinPlatformTests", "second\r\nline", EventType::kWarning, 2, 70);
  const std::vector<EventRecord> records = log->Read("quarrinplatformtests");
  if (records.empty()) GTEST_SKIP() << "this event log keeps no entries (Wine)";
  bool found = false;
  for (const EventRecord& r : records) {
    EXPECT_EQ(r.source, "QuarrinPlatformTests");
    if (r.text == text) {
      found = true;
      EXPECT_EQ(r.type, EventType::kInformation);
      EXPECT_EQ(r.id, 1u);
    }
  }
  EXPECT_TRUE(found);
}

}  // namespace
}  // namespace quarrin
