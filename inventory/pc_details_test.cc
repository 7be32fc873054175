#include "inventory/pc_details.h"

#include <climits>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/registry.h"
#include "gtest/gtest.h"
#include "platform/system/memory.h"
#include "platform/registry/reg_file.h"
#include "platform/registry/registry_store.h"
#include "platform/registry/scratch_registry_double.h"
#include "platform/registry/system_facts.h"
#include "tests/forwarding_store.h"
#include "tests/test_support.h"

namespace quarrin {
namespace {

constexpr char kPC[] = "REGEDIT4\n\n";
constexpr char kProcessor[] = "HKEY_LOCAL_MACHINE\\HARDWARE\\DESCRIPTION\\System\\CentralProcessor\\";
constexpr char kNetBT[] = "HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\NetBT\\Parameters";
constexpr char kCurrentVersion[] = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion";

// The workstation of tests/fixtures/inventory_pc.reg, changed by the .reg
// text of each case, in a store of its own (no live facts).
class PCDetailsTest : public ::testing::Test {
 protected:
  void Load(const std::string& changes) {
    const std::string folder = dir_ / ("store" + std::to_string(++stores_));
    std::filesystem::create_directory(folder);
    store_ = OpenScratchRegistryStore(folder);
    ApplyRegChanges(*store_, ParseRegFile(testing::ReadFileText(
                                 testing::SourcePath("tests/fixtures/inventory_pc.reg"))));
    ApplyRegChanges(*store_, ParseRegFile(kPC + changes));
  }
  // Collects into a record that holds left-overs of an earlier use.
  tPCDetails Collect() {
    tPCDetails d;
    d.MachineName = d.CPUName = d.SourcePath = d.PhysicalMemory = "stale";
    d.TotCPU = d.CPUSpeed = d.NBNodeType = 99;
    d.VMWare = true;
    d.InstallDate = DateTime{1.5};
    CollectPCDetails(*store_, &d, [this] {
      ++probes_;
      return true;
    });
    return d;
  }

  testing::TempDir dir_;
  std::unique_ptr<RegistryStore> store_;
  int stores_ = 0;
  int probes_ = 0;
};

TEST_F(PCDetailsTest, AWholeWorkstation) {
  Load("");
  const tPCDetails d = Collect();
  EXPECT_EQ(d.MachineName, "KALDERN-PC07");
  EXPECT_EQ(d.LastLogin, "jdoe");
  EXPECT_EQ(d.RegisteredOwner, "J. Doe");
  EXPECT_EQ(d.RegisteredOrganisation, "TARN");
  EXPECT_EQ(d.CPUSpeed, 3000);
  EXPECT_EQ(d.CPUId, " x86 Family 15 Model 4 Stepping 1 ");  // never trimmed
  EXPECT_EQ(d.CPUName, "Intel(R) Pentium(R) 4 CPU 3.00GHz");  // fifteen blanks before
  EXPECT_EQ(d.CurrentVersion, "5.1");
  EXPECT_EQ(d.TotCPU, 4);
  EXPECT_EQ(d.ProductID, "55274-640-1234567-23456");
  EXPECT_EQ(d.ProductName, "Workstation OS");
  EXPECT_EQ(d.ServicePack, "Service Pack 2");
  EXPECT_EQ(d.SourcePath, "D:\\I386");
  EXPECT_EQ(d.IEVersion, "6.0.2900.2180");
  EXPECT_EQ(d.PhysicalMemory, MemoryText());
  EXPECT_TRUE(d.VMWare);
  EXPECT_EQ(DecodeDateTime(d.InstallDate), (CivilTime{2006, 1, 5, 13, 45, 7, 0}));
  EXPECT_EQ(d.NBNodeType, 2);
  EXPECT_EQ(probes_, 1);
}

TEST_F(PCDetailsTest, MissingTextsAreEmptyAndNeverReadFromAnotherKey) {
  // Without the browser key, its version is not taken from the key that was
  // open before it.
  Load("[-HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\ComputerName]\n"
       "[-HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Internet Explorer]\n"
       "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Winlogon]\n"
       "\"DefaultUserName\"=\"\"\n"
       "\"Version\"=\"from-winlogon\"\n"
       "[" + std::string(kCurrentVersion) + "]\n"
       "\"RegisteredOwner\"=-\n"
       "\"SourcePath\"=hex(2):25,53,59,53,25,00\n");  // expandable text stays unexpanded
  const tPCDetails d = Collect();
  EXPECT_EQ(d.MachineName, "");
  EXPECT_EQ(d.LastLogin, "");
  EXPECT_EQ(d.IEVersion, "");
  EXPECT_EQ(d.RegisteredOwner, "");
  EXPECT_EQ(d.SourcePath, "%SYS%");
  EXPECT_EQ(d.ProductName, "Workstation OS");
}

TEST_F(PCDetailsTest, ProcessorsAreCountedToTheFirstMissingKey) {
  const struct {
    std::string changes;
    int32_t tot_cpu, speed;
    std::string id, name;
  } cases[] = {
      {"", 4, 3000, " x86 Family 15 Model 4 Stepping 1 ", "Intel(R) Pentium(R) 4 CPU 3.00GHz"},
      {"[-" + std::string(kProcessor) + "1]\n", 1, 3000, " x86 Family 15 Model 4 Stepping 1 ",
       "Intel(R) Pentium(R) 4 CPU 3.00GHz"},
      {"[-" + std::string(kProcessor) + "2]\n", 2, 3000, " x86 Family 15 Model 4 Stepping 1 ",
       "Intel(R) Pentium(R) 4 CPU 3.00GHz"},
      // Key 0 missing: the block fails before the count begins.
      {"[-" + std::string(kProcessor) + "0]\n", 0, 0, "", ""},
      // Key 0 without a speed, or with a speed that is not a number.
      {"[" + std::string(kProcessor) + "0]\n\"~MHz\"=-\n", 0, 0, "", ""},
      {"[" + std::string(kProcessor) + "0]\n\"~MHz\"=\"3000\"\n", 0, 0, "", ""},
      // A name of the wrong type fails the block after the speed was read.
      {"[" + std::string(kProcessor) + "0]\n\"ProcessorNameString\"=dword:00000001\n", 0, 0, "",
       ""},
      // A blank-only name, and one padded with control characters.
      {"[" + std::string(kProcessor) + "0]\n\"ProcessorNameString\"=\"   \"\n", 4, 3000,
       " x86 Family 15 Model 4 Stepping 1 ", ""},
      {"[" + std::string(kProcessor) + "0]\n\"ProcessorNameString\"=hex(1):09,20,43,50,55,0d,0a,00\n",
       4, 3000, " x86 Family 15 Model 4 Stepping 1 ", "CPU"},
  };
  for (const auto& c : cases) {
    Load(c.changes);
    const tPCDetails d = Collect();
    EXPECT_EQ(d.TotCPU, c.tot_cpu) << c.changes;
    EXPECT_EQ(d.CPUSpeed, c.speed) << c.changes;
    EXPECT_EQ(d.CPUId, c.id) << c.changes;
    EXPECT_EQ(d.CPUName, c.name) << c.changes;
    // The collection goes on after a failed block.
    EXPECT_EQ(d.MachineName, "KALDERN-PC07") << c.changes;
    EXPECT_EQ(d.PhysicalMemory, MemoryText()) << c.changes;
    EXPECT_EQ(d.NBNodeType, 2) << c.changes;
    EXPECT_TRUE(d.VMWare) << c.changes;
  }
}

TEST_F(PCDetailsTest, NodeTypeFallsBackToTheDhcpValueThenOne) {
  const struct {
    std::string changes;
    int32_t node_type;
  } cases[] = {
      {"", 2},
      {"[" + std::string(kNetBT) + "]\n\"NodeType\"=-\n", 8},
      {"[" + std::string(kNetBT) + "]\n\"NodeType\"=\"2\"\n", 8},  // not a number
      {"[" + std::string(kNetBT) + "]\n\"NodeType\"=-\n\"DhcpNodeType\"=-\n", 1},
      {"[" + std::string(kNetBT) + "]\n\"NodeType\"=hex:02,00,00,00,00\n\"DhcpNodeType\"=-\n", 1},
      {"[-" + std::string(kNetBT) + "]\n", 0},
  };
  for (const auto& c : cases) {
    Load(c.changes);
    EXPECT_EQ(Collect().NBNodeType, c.node_type) << c.changes;
  }
}

TEST_F(PCDetailsTest, InstallDateIsSecondsSince1970WithoutZone) {
  testing::ScopedEnv zone("TZ", "Pacific/Auckland");  // must make no difference
  const struct {
    const char* dword;
    CivilTime expected;
  } cases[] = {
      {"00000000", {1970, 1, 1, 0, 0, 0, 0}},
      {"00015180", {1970, 1, 2, 0, 0, 0, 0}},
      {"ffffffff", {1969, 12, 31, 23, 59, 59, 0}},  // signed
      {"7fffffff", {2038, 1, 19, 3, 14, 7, 0}},
      {"80000000", {1901, 12, 13, 20, 45, 52, 0}},
  };
  for (const auto& c : cases) {
    Load("[" + std::string(kCurrentVersion) + "]\n\"InstallDate\"=dword:" + c.dword + "\n");
    EXPECT_EQ(DecodeDateTime(Collect().InstallDate), c.expected) << c.dword;
  }
  Load("[" + std::string(kCurrentVersion) + "]\n\"InstallDate\"=dword:00015180\n");
  EXPECT_EQ(Collect().InstallDate.days, 25570.0);
}

// A failure keeps what was read before it and leaves the rest cleared.
TEST_F(PCDetailsTest, AFailedReadEndsTheCollection) {
  const struct {
    std::string changes;
    std::string message;
    bool product_name_read;
    std::string last_login = "jdoe";
  } cases[] = {
      {"[" + std::string(kCurrentVersion) + "]\n\"InstallDate\"=-\n",
       "Failed to get data for 'InstallDate'", true},
      {"[" + std::string(kCurrentVersion) + "]\n\"InstallDate\"=\"12\"\n",
       "Invalid data type for 'InstallDate'", true},
      {"[" + std::string(kCurrentVersion) + "]\n\"InstallDate\"=hex:e3,22,bd,43,00\n",
       "Failed to get data for 'InstallDate'", true},
      // The whole key missing (Winlogon below it goes too): no text of it,
      // and no date, even where the key open before has them.
      {"[-" + std::string(kCurrentVersion) + "]\n"
       "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Internet Explorer]\n"
       "\"InstallDate\"=dword:00000000\n\"ProductName\"=\"from-ie\"\n",
       "Failed to get data for 'InstallDate'", false, ""},
      {"[" + std::string(kCurrentVersion) + "]\n\"ProductName\"=dword:00000001\n",
       "Invalid data type for 'ProductName'", false},
  };
  for (const auto& c : cases) {
    Load(c.changes);
    tPCDetails d;
    d.TotCPU = 99;
    d.PhysicalMemory = "stale";
    d.VMWare = true;
    try {
      CollectPCDetails(*store_, &d, [this] { return ++probes_ > 0; });
      ADD_FAILURE() << "no failure: " << c.changes;
    } catch (const RegistryError& e) {
      EXPECT_EQ(std::string(e.what()), c.message) << c.changes;
    }
    EXPECT_EQ(d.MachineName, "KALDERN-PC07") << c.changes;
    EXPECT_EQ(d.LastLogin, c.last_login) << c.changes;
    EXPECT_EQ(d.IEVersion, "6.0.2900.2180") << c.changes;
    EXPECT_EQ(d.ProductName, c.product_name_read ? "Workstation OS" : "") << c.changes;
    EXPECT_EQ(d.CurrentVersion, c.product_name_read ? "5.1" : "") << c.changes;
    EXPECT_EQ(d.InstallDate, DateTime{}) << c.changes;
    EXPECT_EQ(d.CPUSpeed, 0) << c.changes;
    EXPECT_EQ(d.CPUName, "") << c.changes;
    EXPECT_EQ(d.TotCPU, 0) << c.changes;
    EXPECT_EQ(d.PhysicalMemory, "") << c.changes;
    EXPECT_EQ(d.NBNodeType, 0) << c.changes;
    EXPECT_FALSE(d.VMWare) << c.changes;
  }
  EXPECT_EQ(probes_, 0);
}

// A store that fails outright is reported, not taken for a missing value.
TEST_F(PCDetailsTest, AFailingStoreIsNotAMissingValue) {
  // Fails every read of one value name, as a damaged database would.
  class Failing final : public testing::ForwardingStore {
   public:
    Failing(RegistryStore& base, std::string failing)
        : ForwardingStore(base), failing_(std::move(failing)) {}
    std::optional<RegValue> GetValue(RootKey r, std::string_view p, std::string_view n) override {
      if (n == failing_) throw StoreError("registry.db: database disk image is malformed");
      return base_.GetValue(r, p, n);
    }

   private:
    std::string failing_;
  };
  Load("");
  for (const char* name : {"~MHz", "NodeType"}) {
    Failing store(*store_, name);
    tPCDetails d;
    EXPECT_THROW(CollectPCDetails(store, &d, [] { return false; }), RegistryError) << name;
  }
}

}  // namespace
}  // namespace quarrin
