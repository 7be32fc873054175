#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "platform/eventlog/event_log.h"
#include "platform/files/paths.h"
#include "tests/test_support.h"

namespace quarrin {
namespace {

class EventLogCommandTest : public ::testing::Test {
 protected:
  testing::CommandResult Run(std::vector<std::string> args) {
    args.insert(args.begin(), {testing::BuiltExecutable("quarrinctl"), "eventlog"});
    return testing::RunCommand(args, {"QUARRIN_ROOT=" + root_.path()});
  }

  testing::TempDir root_;
};

TEST_F(EventLogCommandTest, PrintsEntriesOldestFirst) {
  {
    testing::ScopedEnv env("QUARRIN_ROOT", root_.path());
    std::unique_ptr<EventLog> log = OpenEventLog(EventLogDbPath());
    log->Write("TARNQuarrinSrvc", "1.0.0.0 Service executed", EventType::kInformation, 0, 3);
    log->Write("QuarrinSrvc", "no dispatcher", EventType::kError, 0, 0);
    log->Write("TARNQuarrinSrvc", "1.0.0.0 Service uninstalled.\r\n", EventType::kSuccess, 0, 1);
  }
  testing::CommandResult all = Run({});
  ASSERT_EQ(all.exit_status, 0) << all.err;
  // Replace the times, which vary, before comparing.
  std::string out;
  for (size_t start = 0; start < all.out.size();) {
    size_t end = all.out.find('\n', start);
    ASSERT_NE(end, std::string::npos) << "unterminated line";
    std::string line = all.out.substr(start, end - start);
    const size_t t1 = line.find('\t'), t2 = line.find('\t', t1 + 1);
    ASSERT_EQ(t2 - t1 - 1, 23u) << line;  // 2026-12-10T04:35:07.123
    out += line.replace(t1 + 1, t2 - t1 - 1, "T") + "\n";
    start = end + 1;
  }
  EXPECT_EQ(out,
            "1\tT\tTARNQuarrinSrvc\t4\t0\t3\t1.0.0.0 Service executed\n"
            "2\tT\tQuarrinSrvc\t1\t0\t0\tno dispatcher\n"
            "3\tT\tTARNQuarrinSrvc\t0\t0\t1\t1.0.0.0 Service uninstalled.\\r\\n\n");

  testing::CommandResult one = Run({"quarrinsrvc"});
  ASSERT_EQ(one.exit_status, 0) << one.err;
  EXPECT_EQ(one.out.substr(0, 2), "2\t");
  EXPECT_EQ(std::count(one.out.begin(), one.out.end(), '\n'), 1);
}

TEST_F(EventLogCommandTest, EmptyLogAndBadUse) {
  testing::CommandResult empty = Run({});
  EXPECT_EQ(empty.exit_status, 0) << empty.err;
  EXPECT_EQ(empty.out, "");

  testing::CommandResult extra = Run({"a", "b"});
  EXPECT_EQ(extra.exit_status, 2);
  EXPECT_NE(extra.err.find("usage"), std::string::npos) << extra.err;

  ASSERT_TRUE(MakeDirs(root_ / "var/lib/quarrin"));
  testing::WriteFileText(root_ / "var/lib/quarrin/eventlog.db", std::string(2048, '?'));
  testing::CommandResult broken = Run({});
  EXPECT_EQ(broken.exit_status, 1);
  EXPECT_NE(broken.err.find(root_ / "var/lib/quarrin/eventlog.db"), std::string::npos)
      << broken.err;

  // A folder where the log should be cannot be read either.
  std::filesystem::remove(root_ / "var/lib/quarrin/eventlog.db");
  std::filesystem::create_directory(root_ / "var/lib/quarrin/eventlog.db");
  testing::CommandResult folder = Run({});
  EXPECT_EQ(folder.exit_status, 1);
  EXPECT_NE(folder.err.find("eventlog.db"), std::string::npos) << folder.err;
}

}  // namespace
}  // namespace quarrin
