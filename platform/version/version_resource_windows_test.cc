// Version resources of Windows executables.
#include "platform/version/version_resource.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "platform/files/paths.h"
#include "tests/test_support.h"

namespace quarrin {
namespace {

using ::testing::ElementsAre;
using ::testing::Pair;

TEST(WindowsVersionResourceTest, TheStampedResource) {
  const auto resource = ReadVersionResource(testing::BuiltExecutable("stamped_fixture"));
  ASSERT_TRUE(resource.has_value());
  EXPECT_THAT(resource->file_version, ElementsAre(1, 2, 3, 4));
  EXPECT_THAT(resource->product_version, ElementsAre(1, 2, 3, 4));
  EXPECT_EQ(resource->language, 0x0409);
  EXPECT_EQ(resource->code_page, 1200);
  EXPECT_THAT(resource->strings,
              ElementsAre(Pair("CompanyName", "TARN"), Pair("FileDescription", "stamped_fixture"),
                          Pair("FileVersion", "1.2.3.4"), Pair("ProductName", "stamped_fixture"),
                          Pair("ProductVersion", "1.2.3.4")));
}

TEST(WindowsVersionResourceTest, TheRunningProgramsOwn) {
  const auto own = ReadOwnVersionResource();
  ASSERT_TRUE(own.has_value());
  EXPECT_THAT(own->file_version, ElementsAre(5, 6, 7, 8));
  EXPECT_EQ(ReadVersionResource(ExecutablePath())->file_version[3], 8);
}

// A bare name is a file in the current directory, never one on the system's
// search path (kernel32.dll has a resource).
TEST(WindowsVersionResourceTest, NoneForFilesWithoutOne) {
  testing::TempDir dir;
  testing::WriteFileText(dir / "text.exe", "MZ not really a program");
  for (const std::string& path :
       {dir / "text.exe", dir / "missing.exe", dir.path(), std::string("kernel32.dll"),
        std::string(""), std::string("\xff.exe")}) {
    EXPECT_EQ(ReadVersionResource(path), std::nullopt) << path;
  }
}

}  // namespace
}  // namespace quarrin
