#include "inventory/installed_apps.h"

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "core/registry.h"
#include "gtest/gtest.h"
#include "platform/registry/reg_file.h"
#include "platform/registry/registry_store.h"
#include "platform/registry/scratch_registry_double.h"
#include "tests/test_support.h"

namespace quarrin {
namespace {

TEST(CommandLineToPathTest, CutsBeforeTheFirstSwitchThenTrimsAndUnquotes) {
  const struct {
    std::string command, path;
  } cases[] = {
      {"/opt/app/bin/winword /automation", "/opt/app/bin/winword"},
      {"\"/usr/lib/jvm/java-17/bin/javaw\" -jar \"%1\"", "/usr/lib/jvm/java-17/bin/javaw"},
      {"\"/usr/lib/jvm/java-17/bin/javaw\" -jar \"%1\" %*", "/usr/lib/jvm/java-17/bin/javaw"},
      {"\"/opt/Quarrin Tools/pellam\"", "/opt/Quarrin Tools/pellam"},
      {"/opt/a/b/c", "/opt/a/b/c"},                            // a path's own "/"
      {"/opt/dispense-server -Embedding", "/opt/dispense-server"},  // "-" inside a name
      {"\"/opt/x /y -z\" /automation", "/opt/x /y -z"},        // switches inside quotes
      {"\"/opt/x /y", "/opt/x /y"},                            // an unclosed quote
      {"/opt/x\t/automation", "/opt/x"},                       // a tab before the switch
      {"  /opt/x \r\n", "/opt/x"},
      {"/opt/x //", "/opt/x"},
      {"/opt/x -", "/opt/x"},
      {"-jar x", "-jar x"},  // nothing before it: no switch
      {"%ProgramFiles%/vpn/cvpnd.exe /s", "%ProgramFiles%/vpn/cvpnd.exe"},  // used unchanged
      {"C:\\PROGRA~1\\MICROS~2\\OFFICE11\\WINWORD.EXE /automation",
       "C:\\PROGRA~1\\MICROS~2\\OFFICE11\\WINWORD.EXE"},
      {"\"\"", ""},
      {"", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(CommandLineToPath(c.command), c.path) << c.command;
}

// The 14 entries with their names, for comparing whole records.
std::vector<std::pair<std::string, tAppAttributes>> Entries(const tInstalledApps& a) {
  return {{"Access", a.Access},         {"CiscoVPN", a.CiscoVPN},
          {"Dispense", a.Dispense},     {"EtherPeek", a.EtherPeek},
          {"Excel", a.Excel},           {"InternetExplorer", a.InternetExplorer},
          {"Java", a.Java},             {"iTunes", a.iTunes},
          {"Outlook", a.Outlook},       {"PowerPoint", a.PowerPoint},
          {"QuarrinSrvc", a.QuarrinSrvc}, {"MSProject", a.MSProject},
          {"SQLNS", a.SQLNS},           {"Word", a.Word}};
}

void ExpectApps(const tInstalledApps& actual, const tInstalledApps& expected) {
  const auto a = Entries(actual), e = Entries(expected);
  for (size_t i = 0; i < a.size(); ++i) {
    EXPECT_EQ(a[i].second.Path, e[i].second.Path) << a[i].first;
    EXPECT_EQ(a[i].second.Version, e[i].second.Version) << a[i].first;
  }
}

class InstalledAppsTest : public ::testing::Test {
 protected:
  void Load(const std::string& reg_text) {
    std::string text = reg_text;
    for (const auto& [mark, path] : {std::pair{std::string("@STAMPED@"), stamped_},
                                     std::pair{std::string("@MISSING@"), missing_}}) {
      for (size_t at; (at = text.find(mark)) != std::string::npos;) text.replace(at, mark.size(), path);
    }
    ApplyRegChanges(*store_, ParseRegFile(text));
  }
  void LoadFixture() {
    Load(testing::ReadFileText(testing::SourcePath("tests/fixtures/inventory_apps.reg")));
  }
  tInstalledApps Collect() {
    tInstalledApps apps;
    CollectInstalledApps(*store_, &apps);
    return apps;
  }

  testing::TempDir dir_;
  std::unique_ptr<RegistryStore> store_ = OpenScratchRegistryStore(dir_.path());
  const std::string stamped_ = testing::BuiltExecutable("stamped_fixture");  // 1.2.3.4
  const std::string missing_ = dir_ / "no such dir/java-17/bin/javaw";
};

TEST_F(InstalledAppsTest, AMachineWithNoneOfThemHasFourteenEmptyEntries) {
  Load("REGEDIT4\n\n[HKEY_CLASSES_ROOT\\CLSID]\n[HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Services]\n");
  ExpectApps(Collect(), tInstalledApps{});
}

TEST_F(InstalledAppsTest, EachProbeFindsItsRegistration) {
  LoadFixture();
  tInstalledApps expected;
  expected.Word = {stamped_, "1.2.3.4"};
  expected.Excel = {missing_, "0.0.0.0"};  // found, though its file is gone
  expected.Dispense = {stamped_, "1.2.3.4"};
  expected.SQLNS = {stamped_, "1.2.3.4"};  // the in-process server, not the decoy
  expected.Java = {missing_, "0.0.0.0"};   // from the jar-file command
  expected.QuarrinSrvc = {stamped_, "1.2.3.4"};
  // A service key without an image path names no file: never this program's
  // own version.
  expected.CiscoVPN = {"", "0.0.0.0"};
  ExpectApps(Collect(), expected);
}

TEST_F(InstalledAppsTest, JavaPrefersTheJavawCommandOverTheJarFileOne) {
  LoadFixture();
  Load("REGEDIT4\n\n[HKEY_CLASSES_ROOT\\Applications\\javaw.exe\\shell\\open\\command]\n"
       "@=\"\\\"@STAMPED@\\\" -jar \\\"%1\\\" %*\"\n");
  const tInstalledApps apps = Collect();
  EXPECT_EQ(apps.Java, (tAppAttributes{stamped_, "1.2.3.4"}));
}

TEST_F(InstalledAppsTest, AValueThatIsNotTextFailsAndKeepsWhatWasFound) {
  LoadFixture();
  Load("REGEDIT4\n\n"
       "[HKEY_CLASSES_ROOT\\CLSID\\{00024500-0000-0000-C000-000000000046}\\LocalServer32]\n"
       "@=dword:00000001\n");
  tInstalledApps apps;
  try {
    CollectInstalledApps(*store_, &apps);
    ADD_FAILURE() << "no failure";
  } catch (const RegistryError& e) {
    EXPECT_STREQ(e.what(), "Invalid data type for ''");
  }
  EXPECT_EQ(apps.Word, (tAppAttributes{stamped_, "1.2.3.4"}));  // probed before Excel
  EXPECT_EQ(apps.Excel, tAppAttributes{});
  EXPECT_EQ(apps.QuarrinSrvc, tAppAttributes{});  // probed after
}

}  // namespace
}  // namespace quarrin
