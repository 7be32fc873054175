#include <sys/utsname.h>
#include <unistd.h>

#include <climits>
#include <filesystem>
#include <memory>
#include <string>

#include "gtest/gtest.h"
#include "inventory/pc_details.h"
#include "platform/system/memory.h"
#include "platform/registry/registry_store.h"
#include "platform/registry/system_facts.h"
#include "tests/test_support.h"

// The details of the Linux machine these tests run on.
namespace quarrin {
namespace {

TEST(VMwareProbeTest, AnswersWithoutAFaultAndAlwaysAlike) {
  const bool first = VMwareProbe();
  EXPECT_EQ(VMwareProbe(), first);
  // Without a hypervisor there is no VMware either.
  const std::string cpuinfo = testing::ReadFileText("/proc/cpuinfo");
  if (cpuinfo.find("flags") != std::string::npos &&
      cpuinfo.find(" hypervisor") == std::string::npos) {
    EXPECT_FALSE(first);
  }
#if !defined(__x86_64__) && !defined(__i386__)
  EXPECT_FALSE(first);
#endif
}

// The live view of the machine these tests run on.
TEST(PCDetailsLiveTest, DescribesThisMachine) {
  testing::TempDir dir;
  std::unique_ptr<RegistryStore> stored = OpenSqliteRegistryStore(dir / "registry.db");
  std::unique_ptr<SystemFacts> facts = LinuxSystemFacts();
  std::unique_ptr<RegistryStore> view = WithLiveFacts(*stored, *facts);
  tPCDetails d;
  ASSERT_NO_THROW(CollectPCDetails(*view, &d));

  char host[HOST_NAME_MAX + 1] = {};
  ASSERT_EQ(gethostname(host, sizeof host - 1), 0);
  EXPECT_EQ(d.MachineName, host);
  EXPECT_EQ(d.TotCPU, sysconf(_SC_NPROCESSORS_ONLN));
  struct utsname uts {};
  ASSERT_EQ(uname(&uts), 0);
  EXPECT_EQ(d.ServicePack, uts.release);
  if (std::filesystem::exists("/etc/os-release")) {
    EXPECT_NE(d.ProductName, "");
  }
  if (testing::ReadFileText("/proc/cpuinfo").find("model name") != std::string::npos) {
    EXPECT_NE(d.CPUName, "");
  }
  EXPECT_GT(d.InstallDate.days, kUnixEpochDays);
  EXPECT_EQ(d.VMWare, VMwareProbe());
  // Linux has no counterpart for these; they stay empty.
  EXPECT_EQ(d.RegisteredOwner, "");
  EXPECT_EQ(d.IEVersion, "");
  EXPECT_EQ(d.NBNodeType, 0);
}

}  // namespace
}  // namespace quarrin
