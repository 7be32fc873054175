#include "platform/registry/system_facts_linux.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <utmpx.h>

#include <climits>
#include <cstring>
#include <filesystem>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "gmock/gmock.h"
#include "gtest/gtest.h"
#include "platform/registry/registry_store.h"
#include "tests/test_support.h"

namespace quarrin {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

constexpr RootKey kLM = RootKey::kLocalMachine;
constexpr char kProcessors[] = "HARDWARE\\DESCRIPTION\\System\\CentralProcessor";
constexpr char kCurrentVersion[] = "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion";
constexpr char kWinlogon[] = "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Winlogon";

// Three online CPUs of a machine whose CPU 2 is offline, as the kernel lists
// them (stanzas shortened).
constexpr char kX86CpuInfo[] =
    "processor\t: 0\n"
    "vendor_id\t: GenuineIntel\n"
    "cpu family\t: 6\n"
    "model\t\t: 85\n"
    "model name\t: Intel(R) Xeon(R) Gold 6230 CPU @ 2.10GHz\n"
    "stepping\t: 7\n"
    "cpu MHz\t\t: 1000.000\n"
    "flags\t\t: fpu vme de pse tsc msr pae mce cx8 apic sep mtrr hypervisor\n"
    "\n"
    "processor\t: 1\n"
    "cpu family\t: 6\n"
    "model\t\t: 85\n"
    "model name\t: Intel(R) Xeon(R) Gold 6230 CPU @ 2.10GHz\n"
    "stepping\t: 7\n"
    "cpu MHz\t\t: 2899.501\n"
    "\n"
    "processor\t: 3\n"
    "cpu family\t: 6\n"
    "model\t\t: 85\n"
    "model name\t: Intel(R) Xeon(R) Gold 6230 CPU @ 2.10GHz\n"
    "stepping\t: 7\n"
    "\n";

constexpr char kArmCpuInfo[] =
    "processor\t: 0\n"
    "BogoMIPS\t: 50.00\n"
    "Features\t: fp asimd evtstrm aes pmull sha1 sha2 crc32 atomics cpuid\n"
    "CPU implementer\t: 0x41\n"
    "CPU architecture: 8\n"
    "CPU variant\t: 0x3\n"
    "CPU part\t: 0xd0c\n"
    "CPU revision\t: 1\n"
    "\n";

RegValue Sz(std::string text) {
  text.push_back('\0');
  return {ValueType::kString, text};
}

RegValue Dword(uint32_t n) {
  std::string data;
  for (int i = 0; i < 4; ++i) data.push_back(static_cast<char>(n >> (8 * i)));
  return {ValueType::kDword, data};
}

struct Login {
  short type;
  const char* user;
};

std::string WtmpRecords(const std::vector<Login>& logins) {
  std::string bytes;
  for (const Login& l : logins) {
    struct utmpx r {};
    r.ut_type = l.type;
    std::strncpy(r.ut_user, l.user, sizeof r.ut_user);
    std::strncpy(r.ut_line, "pts/0", sizeof r.ut_line);
    bytes.append(reinterpret_cast<const char*>(&r), sizeof r);
  }
  return bytes;
}

void SetModified(const std::string& path, time_t seconds) {
  const struct timespec times[2] = {{seconds, 0}, {seconds, 0}};
  ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0) << path;
}

// Facts read from files in a temporary folder; each test writes the ones it
// needs. The root has no file system of its own, so the install date comes
// from the machine id.
class LinuxFactsTest : public ::testing::Test {
 protected:
  LinuxFactsTest() {
    files_.cpuinfo = dir_ / "cpuinfo";
    files_.cpu_sysfs = dir_ / "cpu";
    files_.os_release = {dir_ / "etc-os-release", dir_ / "usr-os-release"};
    files_.machine_id = dir_ / "machine-id";
    files_.wtmp = dir_ / "wtmp";
    files_.root = dir_ / "no-root";
  }
  std::unique_ptr<SystemFacts> Facts() { return LinuxSystemFacts(files_); }
  std::optional<RegValue> Value(SystemFacts& facts, std::string_view key, std::string_view name) {
    for (NamedValue& v : facts.Values(kLM, key)) {
      if (v.name == name) return v.value;
    }
    return std::nullopt;
  }

  testing::TempDir dir_;
  LinuxFactFiles files_;
};

TEST_F(LinuxFactsTest, OneProcessorKeyPerListedCpu) {
  testing::WriteFileText(files_.cpuinfo, kX86CpuInfo);
  std::filesystem::create_directories(dir_ / "cpu/cpu0/cpufreq");
  testing::WriteFileText(dir_ / "cpu/cpu0/cpufreq/cpuinfo_max_freq", "3900000\n");
  std::unique_ptr<SystemFacts> facts = Facts();

  EXPECT_THAT(facts->SubkeyNames(kLM, kProcessors), ElementsAre("0", "1", "2"));
  const std::string key = std::string(kProcessors) + "\\";
  EXPECT_TRUE(facts->HasKey(kLM, key + "2"));
  for (const char* absent : {"3", "02", "-1", "", "x", "4294967296"}) {
    EXPECT_FALSE(facts->HasKey(kLM, key + absent)) << absent;
  }
  EXPECT_FALSE(facts->HasKey(RootKey::kClassesRoot, key + "0"));

  const struct {
    const char* key;
    uint32_t mhz;
  } cpus[] = {{"0", 3900}, {"1", 2900}, {"2", 0}};  // cpufreq, then cpuinfo, then none
  for (const auto& c : cpus) {
    EXPECT_EQ(Value(*facts, key + c.key, "~MHz"), Dword(c.mhz)) << c.key;
    EXPECT_EQ(Value(*facts, key + c.key, "Identifier"), Sz("x86 Family 6 Model 85 Stepping 7"));
    EXPECT_EQ(Value(*facts, key + c.key, "ProcessorNameString"),
              Sz("Intel(R) Xeon(R) Gold 6230 CPU @ 2.10GHz"));
  }
  // Names compare without regard to case.
  EXPECT_EQ(Value(*facts, "hardware\\description\\system\\centralprocessor\\1", "~MHz"), Dword(2900));
}

TEST_F(LinuxFactsTest, ProcessorsWithoutX86DetailsStillCount) {
  testing::WriteFileText(files_.cpuinfo, kArmCpuInfo);
  std::unique_ptr<SystemFacts> facts = Facts();
  const std::string key = std::string(kProcessors) + "\\0";
  ASSERT_TRUE(facts->HasKey(kLM, key));
  std::vector<NamedValue> values = facts->Values(kLM, key);
  ASSERT_EQ(values.size(), 1u);
  EXPECT_EQ(values[0].name, "~MHz");
  EXPECT_EQ(values[0].value, Dword(0));

  files_.cpuinfo = dir_ / "missing";
  EXPECT_THAT(Facts()->SubkeyNames(kLM, kProcessors), IsEmpty());
}

TEST_F(LinuxFactsTest, EditionAndVersionFromOsRelease) {
  const struct {
    const char* etc;  // nullptr: no such file
    const char* usr;
    std::optional<std::string> product_name, version;
  } cases[] = {
      {"NAME=\"Debian GNU/Linux\"\nPRETTY_NAME=\"Debian GNU/Linux 12 (bookworm)\"\nVERSION_ID=\"12\"\n",
       nullptr, "Debian GNU/Linux 12 (bookworm)", "12"},
      {"PRETTY_NAME='Fedora Linux 40 (Workstation Edition)'\nVERSION_ID=40\n", nullptr,
       "Fedora Linux 40 (Workstation Edition)", "40"},
      {"# comment\nPRETTY_NAME=\"Say \\\"hi\\\" \\\\ \\$HOME\"\n", nullptr, "Say \"hi\" \\ $HOME",
       std::nullopt},
      {"ID=arch\n", nullptr, "Linux", std::nullopt},  // the documented default name
      {nullptr, "PRETTY_NAME=\"From usr\"\nVERSION_ID=\"1\"\n", "From usr", "1"},
      {nullptr, nullptr, std::nullopt, std::nullopt},
  };
  for (const auto& c : cases) {
    std::filesystem::remove(files_.os_release[0]);
    std::filesystem::remove(files_.os_release[1]);
    if (c.etc) testing::WriteFileText(files_.os_release[0], c.etc);
    if (c.usr) testing::WriteFileText(files_.os_release[1], c.usr);
    std::unique_ptr<SystemFacts> facts = Facts();
    const std::string where = c.etc ? c.etc : c.usr ? c.usr : "(none)";
    EXPECT_EQ(Value(*facts, kCurrentVersion, "ProductName"),
              c.product_name ? std::optional(Sz(*c.product_name)) : std::nullopt)
        << where;
    EXPECT_EQ(Value(*facts, kCurrentVersion, "CurrentVersion"),
              c.version ? std::optional(Sz(*c.version)) : std::nullopt)
        << where;
  }
}

TEST_F(LinuxFactsTest, ProductIdAndInstallDateFromTheMachineId) {
  const struct {
    const char* content;  // nullptr: no file
    time_t modified;
    std::optional<std::string> product_id;
    std::optional<uint32_t> install_date;
  } cases[] = {
      {"4c4c4544004e3510804ab4c04f564433\n", 1136468707, "4c4c4544004e3510804ab4c04f564433",
       1136468707},
      {"uninitialized\n", 1700000000, std::nullopt, 1700000000},
      {"", 1700000000, std::nullopt, 1700000000},
      {"4c4c4544\n", 4294967296 + 5, "4c4c4544", INT32_MAX},  // beyond 2038: clamped
      {nullptr, 0, std::nullopt, std::nullopt},
  };
  for (const auto& c : cases) {
    std::filesystem::remove(files_.machine_id);
    if (c.content) {
      testing::WriteFileText(files_.machine_id, c.content);
      SetModified(files_.machine_id, c.modified);
    }
    std::unique_ptr<SystemFacts> facts = Facts();
    const std::string where = c.content ? c.content : "(none)";
    EXPECT_EQ(Value(*facts, kCurrentVersion, "ProductId"),
              c.product_id ? std::optional(Sz(*c.product_id)) : std::nullopt)
        << where;
    EXPECT_EQ(Value(*facts, kCurrentVersion, "InstallDate"),
              c.install_date ? std::optional(Dword(*c.install_date)) : std::nullopt)
        << where;
  }
}

TEST_F(LinuxFactsTest, TheRootFileSystemsBirthTimeComesFirst) {
  // Where this folder's file system keeps birth times, they win over the
  // machine id; where it keeps none, the machine id is used.
  testing::WriteFileText(files_.machine_id, "id\n");
  SetModified(files_.machine_id, 1000);
  files_.root = dir_.path();
  struct statx sx {};
  ASSERT_EQ(statx(AT_FDCWD, dir_.path().c_str(), 0, STATX_BTIME, &sx), 0);
  const bool has_birth = (sx.stx_mask & STATX_BTIME) != 0 && sx.stx_btime.tv_sec > 0;
  EXPECT_EQ(Value(*Facts(), kCurrentVersion, "InstallDate"),
            Dword(has_birth ? static_cast<uint32_t>(sx.stx_btime.tv_sec) : 1000));
}

TEST_F(LinuxFactsTest, LastLoggedInUserFromWtmp) {
  std::unique_ptr<SystemFacts> facts = Facts();
  EXPECT_EQ(Value(*facts, kWinlogon, "DefaultUserName"), std::nullopt);  // no file
  EXPECT_TRUE(facts->HasKey(kLM, kWinlogon));

  testing::WriteFileText(files_.wtmp, WtmpRecords({{BOOT_TIME, "reboot"},
                                                   {USER_PROCESS, "alice"},
                                                   {USER_PROCESS, "bob"},
                                                   {DEAD_PROCESS, ""},
                                                   {RUN_LVL, "runlevel"}}) +
                                          "torn tail of a record");
  EXPECT_EQ(Value(*facts, kWinlogon, "DefaultUserName"), Sz("bob"));

  // A new login is seen on the next read.
  testing::WriteFileText(files_.wtmp, testing::ReadFileText(files_.wtmp).substr(
                                          0, 5 * sizeof(struct utmpx)) +
                                          WtmpRecords({{USER_PROCESS, "carol"}}));
  EXPECT_EQ(Value(*facts, kWinlogon, "DefaultUserName"), Sz("carol"));

  // The only login far back, behind more records than one read takes.
  std::vector<Login> logins(1000, Login{DEAD_PROCESS, ""});
  logins[3] = {USER_PROCESS, "a-user-name-of-exactly-32-chars!"};
  testing::WriteFileText(files_.wtmp, WtmpRecords(logins));
  EXPECT_EQ(Value(*facts, kWinlogon, "DefaultUserName"), Sz("a-user-name-of-exactly-32-chars!"));

  testing::WriteFileText(files_.wtmp, WtmpRecords({{BOOT_TIME, "reboot"}, {DEAD_PROCESS, ""}}));
  EXPECT_EQ(Value(*facts, kWinlogon, "DefaultUserName"), std::nullopt);
}

// Every fact key is reachable from the root through the subkey lists, and
// what the lists name exists.
TEST_F(LinuxFactsTest, TheFactKeysFormATree) {
  testing::WriteFileText(files_.cpuinfo, kArmCpuInfo);
  std::unique_ptr<SystemFacts> facts = Facts();
  std::set<std::string> seen;
  std::vector<std::string> pending = {""};
  while (!pending.empty()) {
    const std::string key = pending.back();
    pending.pop_back();
    EXPECT_TRUE(facts->HasKey(kLM, key)) << key;
    seen.insert(key);
    for (const std::string& sub : facts->SubkeyNames(kLM, key)) {
      pending.push_back(key.empty() ? sub : key + "\\" + sub);
    }
  }
  for (const char* key : {"SYSTEM\\CurrentControlSet\\Control\\ComputerName\\ComputerName",
                          kCurrentVersion, kWinlogon,
                          "HARDWARE\\DESCRIPTION\\System\\CentralProcessor\\0"}) {
    EXPECT_TRUE(seen.count(key)) << key;
  }
  EXPECT_FALSE(facts->HasKey(kLM, "SYSTEM\\CurrentControlSet\\Services\\NetBT\\Parameters"));
  EXPECT_FALSE(facts->HasKey(kLM, "SOFTWARE\\Microsoft\\Internet Explorer"));
  EXPECT_THAT(facts->Values(kLM, "SOFTWARE\\Microsoft"), IsEmpty());
}

}  // namespace
}  // namespace quarrin
