#include "inventory/version_probes.h"

#include <gtest/gtest.h>

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

TEST(GetFileVersionTextTest, LongAndEmptyTexts) {
  const uint16_t version[4] = {1, 0, 0, 0};
  const std::string long_text(300, 'v');
  const std::string stamp = testing::VersionStampBytes(
      {}, version, 0x0409, 0xFDE9, {{"Comments", long_text}, {"Empty", ""}});
  testing::TempDir dir;
  testing::WriteFileText(dir / "program", testing::BuildElfImage({}, {{".quarrin.version", stamp}}));
  std::string out;
  GetFileVersionText("Comments", dir / "program", &out);
  EXPECT_EQ(out, long_text.substr(0, 254));
  out = "left over";
  GetFileVersionText("Empty", dir / "program", &out);
  EXPECT_EQ(out, "");
}

}  // namespace
}  // namespace quarrin
