#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "inventory/version_probes.h"
#include "tests/elf_image.h"
#include "tests/test_support.h"

// Version texts of an executable stamped the Linux way, in an ELF section.
namespace quarrin {
namespace {

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
