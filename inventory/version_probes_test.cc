#include "inventory/version_probes.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>

#include "core/registry.h"
#include "platform/registry/reg_file.h"
#include "platform/registry/registry_store.h"
#include "platform/registry/scratch_registry_double.h"
#include "tests/elf_image.h"
#include "tests/test_support.h"

namespace quarrin {
namespace {

TEST(GetFileVersionTextTest, NamedTextsOfAStampedExecutable) {
  const std::string fixture = testing::BuiltExecutable("stamped_fixture");
  struct {
    std::string_view name, expected;
  } cases[] = {
      {"FileVersion", "1.2.3.4"},
      {"", "1.2.3.4"},             // the default name
      {"fileVERSION", "1.2.3.4"},  // names match without regard to case
      {"ProductName", "stamped_fixture"},
      {"CompanyName", "TARN"},
      {"FileVerison", ""},  // misspelt
      {"FileVersion ", ""},
      {"Translation", ""},
  };
  for (const auto& c : cases) {
    std::string out = "left over";
    GetFileVersionText(std::string(c.name), fixture, &out);
    EXPECT_EQ(out, c.expected) << c.name;
  }
}

TEST(GetFileVersionTextTest, EmptyWithoutAResource) {
  testing::TempDir dir;
  testing::WriteFileText(dir / "plain", "plain text");
  for (const std::string& file : {dir / "plain", dir / "missing", dir.path(),
                                  std::string("")}) {  // "": this unstamped test program
    std::string out = "left over";
    GetFileVersionText("FileVersion", file, &out);
    EXPECT_EQ(out, "") << file;
  }
}

// The engine's folder holds a stamped IDAPI32.dll (1.2.3.4); an empty one and
// a library without a stamp sit beside it.
TEST(GetBDEVersionTest, TheLibraryInTheFolderThatDLLPathNames) {
  testing::TempDir dir;
  std::filesystem::create_directories(dir / "BDE");
  std::filesystem::create_directories(dir / "Plain");
  std::filesystem::create_directories(dir / "Empty");
  std::filesystem::copy_file(testing::BuiltExecutable("stamped_fixture"), dir / "BDE/IDAPI32.dll");
  testing::WriteFileText(dir / "Plain/IDAPI32.dll", testing::BuildElfImage({}, {}));
  const struct {
    std::string value;  // the DLLPath line, or the whole key when it begins with "-"
    std::string expected;
  } cases[] = {
      {"\"DLLPath\"=\"" + dir / "BDE/\"", "1.2.3.4"},
      {"\"DLLPath\"=\"" + dir / "BDE\"", "0.0.0.0"},  // no separator is added
      {"\"DLLPath\"=\"" + dir / "Plain/\"", "0.0.0.0"},
      {"\"DLLPath\"=\"" + dir / "Empty/\"", "0.0.0.0"},
      {"\"DLLPath\"=\"\"", "0.0.0.0"},
      {"", "0.0.0.0"},  // the key without the value
      {"-", "0.0.0.0"},  // no key
  };
  int n = 0;
  for (const auto& c : cases) {
    const std::string folder = dir / ("store" + std::to_string(++n));
    std::filesystem::create_directory(folder);
    std::unique_ptr<RegistryStore> store = OpenScratchRegistryStore(folder);
    if (c.value != "-") {
      ApplyRegChanges(*store, ParseRegFile("REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Borland\\"
                                           "Database Engine]\n" + c.value + "\n"));
    }
    tFileVersion version{9, 9, 9, 9, "9.9.9.9"};
    GetBDEVersion(*store, &version);
    EXPECT_EQ(version.Text, c.expected) << c.value;
    EXPECT_EQ(VersionText(version.Major, version.Minor, version.Release, version.Build),
              c.expected) << c.value;
  }
}

TEST(GetBDEVersionTest, ADLLPathThatIsNotTextFails) {
  testing::TempDir dir;
  std::unique_ptr<RegistryStore> store = OpenScratchRegistryStore(dir.path());
  ApplyRegChanges(*store, ParseRegFile("REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Borland\\"
                                       "Database Engine]\n\"DLLPath\"=dword:00000001\n"));
  tFileVersion version;
  try {
    GetBDEVersion(*store, &version);
    ADD_FAILURE() << "no failure";
  } catch (const RegistryError& e) {
    EXPECT_STREQ(e.what(), "Invalid data type for 'DLLPath'");
  }
  EXPECT_EQ(version.Text, "0.0.0.0");
}

}  // namespace
}  // namespace quarrin
