// The built-in manager's status record (<state>/services/<name>.status).
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <ios>
#include <string>

#include "platform/service/service_manager.h"
#include "tests/test_support.h"

namespace quarrin {
namespace {

mode_t ModeOf(const std::string& path) {
  struct stat st {};
  EXPECT_EQ(lstat(path.c_str(), &st), 0) << path;
  return st.st_mode & 07777;
}

TEST(RecordStatusReporterTest, TheRecordIsPrivateWhateverTheUmask) {
  for (const mode_t mask : {mode_t{0}, mode_t{022}}) {
    testing::TempDir root;
    testing::ScopedEnv rooted("QUARRIN_ROOT", root.path());
    testing::ScopedEnv no_notify_socket("NOTIFY_SOCKET", "");
    ServiceStatus status;
    status.state = ServiceState::kRunning;
    std::string error;
    const mode_t old_mask = umask(mask);
    // The second report replaces the record the first one wrote.
    const bool reported = MakeStatusReporter("TARNQuarrinSrvc")->Report(status, &error) &&
                          MakeStatusReporter("TARNQuarrinSrvc")->Report(status, &error);
    umask(old_mask);
    ASSERT_TRUE(reported) << error;
    const std::string services = root / "var/lib/quarrin/services";
    EXPECT_EQ(ModeOf(services), 0700u) << "umask " << std::oct << mask;
    EXPECT_EQ(ModeOf(services + "/TARNQuarrinSrvc.status"), 0600u) << "umask " << std::oct << mask;
  }
}

}  // namespace
}  // namespace quarrin
