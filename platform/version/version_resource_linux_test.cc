#include "platform/version/version_resource.h"

#include <elf.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstring>
#include <random>
#include <string>

#include "tests/elf_image.h"
#include "tests/test_support.h"

namespace quarrin {
namespace {

using testing::BuildElfImage;
using testing::ElfLayout;
using testing::PutInt;
using testing::VersionStampBytes;

using Strings = std::vector<std::pair<std::string, std::string>>;

std::string FixturePath() { return testing::BuiltExecutable("stamped_fixture"); }

TEST(VersionResourceTest, ReadsTheStampOfABuiltExecutable) {
  std::optional<VersionResource> r = ReadVersionResource(FixturePath());
  ASSERT_TRUE(r.has_value());
  EXPECT_EQ(r->file_version[0], 1);
  EXPECT_EQ(r->file_version[1], 2);
  EXPECT_EQ(r->file_version[2], 3);
  EXPECT_EQ(r->file_version[3], 4);
  EXPECT_EQ(std::memcmp(r->product_version, r->file_version, sizeof r->file_version), 0);
  EXPECT_EQ(r->language, 0x0409);
  EXPECT_EQ(r->code_page, 0xFDE9);
  const Strings expected = {{"CompanyName", "TARN"},
                            {"FileDescription", "stamped_fixture"},
                            {"FileVersion", "1.2.3.4"},
                            {"ProductName", "stamped_fixture"},
                            {"ProductVersion", "1.2.3.4"}};
  EXPECT_EQ(r->strings, expected);
}

TEST(VersionResourceTest, NoResourceInFilesThatAreNotStampedExecutables) {
  testing::TempDir dir;
  testing::WriteFileText(dir / "plain.txt", "just text, long enough to look at\n");
  testing::WriteFileText(dir / "elf-magic-only", "\x7f" "ELF");
  ASSERT_EQ(mkfifo((dir / "fifo").c_str(), 0600), 0);  // must not block the reader
  for (const std::string& path :
       {dir / "plain.txt", dir / "elf-magic-only", dir / "missing", dir.path(), dir / "fifo",
        std::string("/dev/zero"), testing::BuiltExecutable("platform_tests")}) {
    EXPECT_FALSE(ReadVersionResource(path).has_value()) << path;
  }
}

// Every byte order and word size reads the same stamp back.
TEST(VersionResourceTest, ReadsAllElfClassesAndByteOrders) {
  const uint16_t version[4] = {10, 11, 31, 0};
  const Strings strings = {{"FileVersion", "10.11.31.0"}, {"Comments", ""}};
  for (ElfLayout layout : {ElfLayout{true, true}, ElfLayout{true, false}, ElfLayout{false, true},
                           ElfLayout{false, false}}) {
    SCOPED_TRACE(::testing::Message() << "64-bit " << layout.is_64bit << ", little-endian "
                                    << layout.little_endian);
    const std::string image = BuildElfImage(
        layout, {{".text", "code"},
                 {".quarrin.version", VersionStampBytes(layout, version, 0x0C09, 0x04E4, strings)}});
    std::optional<VersionResource> r = ParseVersionResource(image);
    ASSERT_TRUE(r.has_value());
    EXPECT_EQ(r->file_version[1], 11);
    EXPECT_EQ(r->file_version[2], 31);
    EXPECT_EQ(r->language, 0x0C09);
    EXPECT_EQ(r->code_page, 0x04E4);
    EXPECT_EQ(r->strings, strings);
  }
}

TEST(VersionResourceTest, SectionIsFoundByItsWholeName) {
  const uint16_t version[4] = {1, 0, 0, 0};
  const std::string stamp = VersionStampBytes({}, version, 0x0409, 0xFDE9, {});
  EXPECT_FALSE(ParseVersionResource(BuildElfImage({}, {{".quarrin.version.old", stamp}})));
  EXPECT_FALSE(ParseVersionResource(BuildElfImage({}, {{".quarrin.versio", stamp}})));
  EXPECT_TRUE(ParseVersionResource(BuildElfImage({}, {{".quarrin.version", stamp}})));
}

// The fixture's own bytes with the offsets of the fields that the corruption
// cases below change.
class CorruptFixtureTest : public ::testing::Test {
 protected:
  void SetUp() override {
    image_ = testing::ReadFileText(FixturePath());
    ASSERT_GT(image_.size(), sizeof(Elf64_Ehdr));
    if (image_[EI_CLASS] != ELFCLASS64 || image_[EI_DATA] != ELFDATA2LSB) {
      GTEST_SKIP() << "these cases are laid out for 64-bit little-endian builds";
    }
    std::memcpy(&ehdr_, image_.data(), sizeof ehdr_);
    ASSERT_LE(ehdr_.e_shoff + ehdr_.e_shnum * sizeof(Elf64_Shdr), image_.size());
    const Elf64_Shdr names = Shdr(ehdr_.e_shstrndx);
    for (int i = 0; i < ehdr_.e_shnum; ++i) {
      if (std::strcmp(image_.data() + names.sh_offset + Shdr(i).sh_name, ".quarrin.version") == 0) {
        stamp_index_ = i;
      }
    }
    ASSERT_GT(stamp_index_, 0);
    ASSERT_TRUE(ParseVersionResource(image_).has_value());
  }

  Elf64_Shdr Shdr(int i) const {
    Elf64_Shdr s;
    std::memcpy(&s, image_.data() + ehdr_.e_shoff + static_cast<size_t>(i) * sizeof s, sizeof s);
    return s;
  }
  size_t ShdrField(int i, size_t field_offset) const {
    return ehdr_.e_shoff + static_cast<size_t>(i) * sizeof(Elf64_Shdr) + field_offset;
  }
  size_t StampAt() const { return Shdr(stamp_index_).sh_offset; }

  std::string image_;
  Elf64_Ehdr ehdr_{};
  int stamp_index_ = 0;
};

TEST_F(CorruptFixtureTest, TruncatedCopiesHaveNoResource) {
  const size_t shoff = ehdr_.e_shoff;
  for (size_t length : {size_t{0}, size_t{1}, size_t{4}, size_t{16}, size_t{52}, size_t{63},
                        size_t{64}, StampAt(), StampAt() + 20, shoff - 1, shoff, shoff + 1,
                        shoff + sizeof(Elf64_Shdr) * static_cast<size_t>(stamp_index_),
                        image_.size() - 1}) {
    EXPECT_FALSE(ParseVersionResource(std::string_view(image_).substr(0, length))) << length;
  }
  // The same through a file, as GetFileVersion reads it.
  testing::TempDir dir;
  testing::WriteFileText(dir / "cut", image_.substr(0, image_.size() - 1));
  EXPECT_FALSE(ReadVersionResource(dir / "cut").has_value());
}

TEST_F(CorruptFixtureTest, CorruptHeadersHaveNoResource) {
  struct Case {
    const char* what;
    size_t offset;
    uint64_t value;
    int bytes;
  };
  const int s = stamp_index_;
  const int names = ehdr_.e_shstrndx;
  const uint64_t size = image_.size();
  const Case cases[] = {
      {"class", EI_CLASS, 7, 1},
      {"byte order", EI_DATA, 0, 1},
      {"section table far away", offsetof(Elf64_Ehdr, e_shoff), ~uint64_t{0}, 8},
      {"section table at the end", offsetof(Elf64_Ehdr, e_shoff), size - 8, 8},
      {"section table overflowing", offsetof(Elf64_Ehdr, e_shoff), ~uint64_t{0} - 10, 8},
      {"no section table", offsetof(Elf64_Ehdr, e_shoff), 0, 8},
      {"entry size 0", offsetof(Elf64_Ehdr, e_shentsize), 0, 2},
      {"entry size too small", offsetof(Elf64_Ehdr, e_shentsize), 63, 2},
      {"entry size huge", offsetof(Elf64_Ehdr, e_shentsize), 0xffff, 2},
      {"too many sections", offsetof(Elf64_Ehdr, e_shnum), 0xfeff, 2},
      {"name table index past the end", offsetof(Elf64_Ehdr, e_shstrndx), ehdr_.e_shnum, 2},
      {"name table index escaped", offsetof(Elf64_Ehdr, e_shstrndx), SHN_XINDEX, 2},
      {"name table far away", ShdrField(names, offsetof(Elf64_Shdr, sh_offset)), ~uint64_t{0}, 8},
      {"name table too long", ShdrField(names, offsetof(Elf64_Shdr, sh_size)), size, 8},
      {"name table without bytes", ShdrField(names, offsetof(Elf64_Shdr, sh_type)), SHT_NOBITS, 4},
      {"stamp name out of the table", ShdrField(s, offsetof(Elf64_Shdr, sh_name)), 0xffffffff, 4},
      {"stamp far away", ShdrField(s, offsetof(Elf64_Shdr, sh_offset)), ~uint64_t{0} - 4, 8},
      {"stamp at the end", ShdrField(s, offsetof(Elf64_Shdr, sh_offset)), size - 10, 8},
      {"stamp too short", ShdrField(s, offsetof(Elf64_Shdr, sh_size)), 39, 8},
      {"stamp huge", ShdrField(s, offsetof(Elf64_Shdr, sh_size)), ~uint64_t{0}, 8},
      {"stamp over 64 KiB", ShdrField(s, offsetof(Elf64_Shdr, sh_size)), 65537, 8},
      {"stamp without bytes", ShdrField(s, offsetof(Elf64_Shdr, sh_type)), SHT_NOBITS, 4},
      {"magic", StampAt() + 3, 'x', 1},
      {"strings size huge", StampAt() + offsetof(VersionStampHeader, strings_size), 0xffffffff, 4},
      {"strings size past the section",
       StampAt() + offsetof(VersionStampHeader, strings_size),
       Shdr(s).sh_size - sizeof(VersionStampHeader) + 1, 4},
      {"strings size cuts the end marker",
       StampAt() + offsetof(VersionStampHeader, strings_size),
       sizeof(QUARRIN_VERSION_STAMP_STRINGS("1.2.3.4", "stamped_fixture")) - 1, 4},
      {"strings size cuts a value", StampAt() + offsetof(VersionStampHeader, strings_size), 15, 4},
  };
  for (const Case& c : cases) {
    std::string image = image_;
    PutInt(&image, c.offset, c.value, c.bytes, true);
    image.resize(image_.size());
    EXPECT_FALSE(ParseVersionResource(image).has_value()) << c.what;
  }
}

// Random damage anywhere in the parts the reader looks at must never make it
// read outside the image (the sanitizer build checks this) or hang.
TEST_F(CorruptFixtureTest, RandomDamageIsSurvived) {
  std::vector<std::pair<size_t, size_t>> regions = {
      {0, sizeof(Elf64_Ehdr)},
      {ehdr_.e_shoff, ehdr_.e_shnum * sizeof(Elf64_Shdr)},
      {Shdr(ehdr_.e_shstrndx).sh_offset, Shdr(ehdr_.e_shstrndx).sh_size},
      {StampAt(), Shdr(stamp_index_).sh_size}};
  std::mt19937 random(20061);
  for (int round = 0; round < 4000; ++round) {
    std::string image = image_;
    const auto& [start, length] = regions[random() % regions.size()];
    const int flips = 1 + static_cast<int>(random() % 8);
    for (int i = 0; i < flips; ++i) {
      image[start + random() % length] = static_cast<char>(random());
    }
    (void)ParseVersionResource(image);
  }
}

TEST(ElfIdentityTest, TellsTheKindOfExecutable) {
  const ElfIdentity own = OwnElfIdentity();
  EXPECT_EQ(own.is_64bit, sizeof(void*) == 8);
  EXPECT_EQ(own.little_endian, __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__);
  EXPECT_TRUE(own.type == ET_EXEC || own.type == ET_DYN) << own.type;

  std::optional<ElfIdentity> fixture = ReadElfIdentity(FixturePath());
  ASSERT_TRUE(fixture.has_value());
  EXPECT_EQ(fixture->machine, own.machine);
  EXPECT_EQ(fixture->is_64bit, own.is_64bit);

  EXPECT_FALSE(ReadElfIdentity("/dev/null").has_value());
  const std::string image = BuildElfImage({false, false}, {});
  testing::TempDir dir;
  testing::WriteFileText(dir / "be32", image);
  std::optional<ElfIdentity> be32 = ReadElfIdentity(dir / "be32");
  ASSERT_TRUE(be32.has_value());
  EXPECT_FALSE(be32->is_64bit);
  EXPECT_FALSE(be32->little_endian);
  EXPECT_EQ(be32->type, ET_EXEC);
  EXPECT_EQ(be32->machine, EM_X86_64);
  testing::WriteFileText(dir / "short", image.substr(0, 51));
  EXPECT_FALSE(ReadElfIdentity(dir / "short").has_value());
}

}  // namespace
}  // namespace quarrin
