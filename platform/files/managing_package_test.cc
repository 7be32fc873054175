#include "platform/files/managing_package.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "platform/text/utf8.h"
#include "tests/test_support.h"

namespace quarrin {
namespace {

TEST(ManagingPackageTest, TheMarkerBesideTheExecutableNamesThePackage) {
  testing::TempDir dir;
  // A folder name beyond ASCII, in UTF-8 as the agent keeps paths.
  const std::string folder = dir / "Programme-\xc3\xa4";
  const std::string exe = folder + "/QuarrinSrvc.exe";
  std::filesystem::create_directory(PathFromUtf8(folder));
  EXPECT_EQ(ManagingPackage(exe), std::nullopt);

  const struct {
    const char* marker;
    const char* package;
  } cases[] = {
      {"quarrin-agent (dpkg)\n", "quarrin-agent (dpkg)"},
      {"quarrin-agent (msi) \r\nmore\n", "quarrin-agent (msi)"},
      {"", "a package manager"},
  };
  for (const auto& c : cases) {
    std::ofstream(PathFromUtf8(folder + "/" + kPackageMarkerName), std::ios::binary) << c.marker;
    EXPECT_EQ(ManagingPackage(exe), c.package) << c.marker;
  }
}

}  // namespace
}  // namespace quarrin
