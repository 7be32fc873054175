#include "platform/eventlog/event_log.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <regex>
#include <thread>

#include "platform/time/clock.h"
#include "platform/files/paths.h"
#include "platform/text/utf8.h"
#include "tests/test_support.h"

namespace quarrin {
namespace {

class EventLogTest : public ::testing::Test {
 protected:
  testing::TempDir dir_;
  std::string path_ = dir_ / "state/eventlog.db";  // the folder does not exist yet
  std::unique_ptr<EventLog> log_ = OpenEventLog(path_);
};

TEST_F(EventLogTest, KeepsEntriesInOrderWithTheirFields) {
  log_->Write("TARNQuarrinSrvc", "1.0.0.0 Service executed", EventType::kInformation, 0, 3);
  log_->Write("QuarrinSrvc", "dispatcher failed", EventType::kError, 0, 0);
  log_->Write("TARNQuarrinSrvc", "1.0.0.0 Download failed.\r\n", EventType::kWarning, 7, 104);

  const std::vector<EventRecord> all = log_->Read();
  ASSERT_EQ(all.size(), 3u);
  EXPECT_LT(all[0].sequence, all[1].sequence);
  EXPECT_LT(all[1].sequence, all[2].sequence);
  EXPECT_EQ(all[2].source, "TARNQuarrinSrvc");
  EXPECT_EQ(all[2].type, EventType::kWarning);
  EXPECT_EQ(all[2].category, 7);
  EXPECT_EQ(all[2].id, 104u);
  EXPECT_EQ(all[2].text, "1.0.0.0 Download failed.\r\n");

  // The time is local and to the millisecond, and it is now.
  const std::regex iso(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3})");
  EXPECT_TRUE(std::regex_match(all[0].time, iso)) << all[0].time;
  const CivilTime now = DecodeDateTime(SystemClock().Now());
  char today[16];
  std::snprintf(today, sizeof today, "%04d-%02d-%02d", now.year, now.month, now.day);
  EXPECT_EQ(all[0].time.substr(0, 10), today);

  // One source, named in any case.
  const std::vector<EventRecord> service = log_->Read("tarnquarrinsrvc");
  ASSERT_EQ(service.size(), 2u);
  EXPECT_EQ(service[0].id, 3u);
  EXPECT_EQ(service[1].id, 104u);
  EXPECT_TRUE(log_->Read("Other").empty());

  // A second log on the same file (another process, say) sees them too.
  EXPECT_EQ(OpenEventLog(path_)->Read().size(), 3u);
}

TEST_F(EventLogTest, ReadingAnUnwrittenLogCreatesNothing) {
  EXPECT_TRUE(log_->Read().empty());
  struct stat st;
  EXPECT_NE(stat((dir_ / "state").c_str(), &st), 0);
}

TEST(EventLineTest, OneLineWithTabsAndEscapedLineBreaks) {
  EventRecord r;
  r.sequence = 42;
  r.time = "2026-12-10T04:35:07.123";
  r.source = "TARNQuarrinSrvc";
  r.type = EventType::kInformation;
  r.category = 0;
  r.id = 100;
  r.text = "1.0.0.0 Check for update:\r\nCurrent version:1.0.0.0\r\nNo update required.";
  EXPECT_EQ(FormatEventLine(r),
            "42\t2026-12-10T04:35:07.123\tTARNQuarrinSrvc\t4\t0\t100\t"
            "1.0.0.0 Check for update:\\r\\nCurrent version:1.0.0.0\\r\\nNo update required.");
  r.type = EventType::kError;
  r.text = "lone\rCR and lone\nLF";
  EXPECT_EQ(FormatEventLine(r),
            "42\t2026-12-10T04:35:07.123\tTARNQuarrinSrvc\t1\t0\t100\tlone\\rCR and lone\\nLF");
}

// An entry that cannot be kept is reported, with the file and its text, and
// the log works again once the file is usable.
TEST_F(EventLogTest, LostEntriesAreReportedNotSwallowed) {
  ASSERT_TRUE(MakeDirs(dir_ / "state"));
  testing::WriteFileText(path_, std::string(4096, 'x'));  // not a database
  ::testing::internal::CaptureStderr();
  log_->Write("TARNQuarrinSrvc", "first entry\r\nsecond line", EventType::kError, 0, 999);
  const std::string err = ::testing::internal::GetCapturedStderr();
  EXPECT_NE(err.find(path_), std::string::npos) << err;
  EXPECT_NE(err.find("first entry\\r\\nsecond line"), std::string::npos) << err;
  EXPECT_THROW(log_->Read(), std::runtime_error);

  ASSERT_EQ(std::remove(path_.c_str()), 0);
  log_->Write("TARNQuarrinSrvc", "after repair", EventType::kSuccess, 0, 2);
  const std::vector<EventRecord> kept = log_->Read();
  ASSERT_EQ(kept.size(), 1u);
  EXPECT_EQ(kept[0].text, "after repair");
}

TEST(EventLogFailureTest, AFolderThatCannotBeMadeIsReported) {
  testing::TempDir dir;
  testing::WriteFileText(dir / "file", "");
  const std::string path = dir / "file/state/eventlog.db";
  std::unique_ptr<EventLog> log = OpenEventLog(path);
  ::testing::internal::CaptureStderr();
  log->Write("TARNQuarrinSrvc", "entry with nowhere to go", EventType::kInformation, 0, 3);
  const std::string err = ::testing::internal::GetCapturedStderr();
  EXPECT_NE(err.find(path), std::string::npos) << err;
  EXPECT_NE(err.find("entry with nowhere to go"), std::string::npos) << err;
}

// Writers on several threads, through one log and through separate ones (as
// separate processes would), lose nothing and never share a sequence number.
TEST_F(EventLogTest, ManyWritersLoseNothing) {
  std::unique_ptr<EventLog> other = OpenEventLog(path_);
  constexpr int kThreads = 8, kEach = 40;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      EventLog& log = t % 2 ? *other : *log_;
      for (int i = 0; i < kEach; ++i) {
        log.Write("Writer" + std::to_string(t), std::to_string(i), EventType::kSuccess, 0,
                  static_cast<uint32_t>(i));
      }
    });
  }
  for (auto& th : threads) th.join();
  const std::vector<EventRecord> all = log_->Read();
  ASSERT_EQ(all.size(), static_cast<size_t>(kThreads * kEach));
  for (size_t i = 1; i < all.size(); ++i) EXPECT_LT(all[i - 1].sequence, all[i].sequence);
  for (int t = 0; t < kThreads; ++t) {
    const std::vector<EventRecord> one = log_->Read("writer" + std::to_string(t));
    ASSERT_EQ(one.size(), static_cast<size_t>(kEach));
    for (int i = 0; i < kEach; ++i) {
      EXPECT_EQ(one[static_cast<size_t>(i)].id, static_cast<uint32_t>(i));
    }
  }
}

TEST_F(EventLogTest, ACappedLogMakesRoomByDroppingTheOldestEntries) {
  constexpr uint64_t kCap = 256 << 10;
  log_->SetMaxBytes(kCap);
  constexpr int kEntries = 2000;  // about 2 MB of text
  for (int i = 0; i < kEntries; ++i) {
    log_->Write("TARNQuarrinSrvc", std::to_string(i) + ":" + std::string(1000, 'x'),
                EventType::kInformation, 0, static_cast<uint32_t>(i));
  }
  EXPECT_LE(std::filesystem::file_size(path_), kCap + 16 * 1024);
  const std::vector<EventRecord> left = log_->Read();
  ASSERT_FALSE(left.empty());
  // The newest are all there, in order; the oldest made room.
  EXPECT_EQ(left.back().id, static_cast<uint32_t>(kEntries - 1));
  EXPECT_GT(left.front().id, 0u);
  for (size_t i = 1; i < left.size(); ++i) EXPECT_EQ(left[i].id, left[i - 1].id + 1);
  // Not emptied to make room: well over half the cap is still in use.
  EXPECT_GT(left.size() * 1000, kCap / 2);

  // A cap below the least is raised to it.
  log_->SetMaxBytes(1000);
  log_->Write("TARNQuarrinSrvc", "after", EventType::kInformation, 0, 0);
  EXPECT_GT(log_->Read().size(), 10u);
}

TEST_F(EventLogTest, ALongTextIsCutAndMarked) {
  std::string accented;
  for (int i = 0; i < 20000; ++i) accented += "\xC3\xA9";  // 40,000 bytes
  struct {
    std::string text;
    bool cut;
  } cases[] = {
      {std::string(kMaxEventTextBytes, 'a'), false},
      {std::string(kMaxEventTextBytes + 1, 'b'), true},
      {accented, true},
      {std::string(5u << 20, 'c'), true},
  };
  for (const auto& c : cases) {
    log_->Write("TARNQuarrinSrvc", c.text, EventType::kInformation, 0, 0);
    const std::string kept = log_->Read().back().text;
    SCOPED_TRACE(c.text.size());
    EXPECT_LE(kept.size(), kMaxEventTextBytes);
    if (!c.cut) {
      EXPECT_EQ(kept, c.text);
      continue;
    }
    const std::string mark = " [cut from " + std::to_string(c.text.size()) + " bytes]";
    ASSERT_TRUE(kept.ends_with(mark)) << kept.substr(kept.size() - 40);
    const size_t body = kept.size() - mark.size();
    EXPECT_EQ(c.text.substr(0, body), kept.substr(0, body));
    EXPECT_GT(kept.size(), kMaxEventTextBytes - mark.size() - 4);
    EXPECT_TRUE(IsUtf8(kept));
  }
}

}  // namespace
}  // namespace quarrin
