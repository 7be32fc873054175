#include "platform/regional/regional_settings.h"

#include <gtest/gtest.h>

#include <limits>

#include "platform/registry/scratch_registry_double.h"
#include "tests/test_support.h"

namespace quarrin {
namespace {

constexpr std::string_view kInternational = ".DEFAULT\\Control Panel\\International";

RegValue Text(std::string_view bytes) { return {ValueType::kString, std::string(bytes)}; }

class RegionalSettingsStoreTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(store_->CreateKey(RootKey::kUsers, kInternational)); }
  void Set(std::string_view name, const RegValue& value) {
    ASSERT_TRUE(store_->SetValue(RootKey::kUsers, kInternational, name, value));
  }

  testing::TempDir dir_;
  std::unique_ptr<RegistryStore> store_ = OpenScratchRegistryStore(dir_.path());
};

TEST_F(RegionalSettingsStoreTest, DefaultsWhenNothingIsStored) {
  ASSERT_TRUE(store_->DeleteKey(RootKey::kUsers, kInternational));
  EXPECT_EQ(ReadRegionalSettings(*store_), RegionalSettings{});
  EXPECT_EQ(RegionalSettings{}, (RegionalSettings{"dd/MM/yyyy", "HH:mm:ss", "/", ":", ",", "."}));
}

TEST_F(RegionalSettingsStoreTest, StoredTextsReplaceTheDefaults) {
  Set("sShortDate", Text(std::string_view("d.M.yyyy\0garbage", 16)));  // ends at the zero
  Set("STIMEFORMAT", Text("h:mm:ss tt"));  // names compare without case
  Set("sDate", Text(std::string_view(".\0", 2)));
  Set("sTime", {ValueType::kExpandString, std::string("%T%")});  // REG_EXPAND_SZ is text too
  Set("sThousand", {ValueType::kDword, std::string("\x2e\0\0\0", 4)});
  Set("sDecimal", Text(std::string_view("\0,", 2)));
  // Not text, or empty: the defaults of the thousands and decimal separators.
  EXPECT_EQ(ReadRegionalSettings(*store_),
            (RegionalSettings{"d.M.yyyy", "h:mm:ss tt", ".", "%T%", ",", "."}));
}

TEST(RegionalSettingsTest, FormatDateTimePattern) {
  RegionalSettings dashes;
  dashes.date_separator = "-";
  dashes.time_separator = ".";
  const DateTime afternoon = EncodeDateTime({2006, 1, 5, 13, 45, 7, 123});  // a Thursday
  const DateTime morning = EncodeDateTime({2009, 11, 25, 9, 5, 3, 4});      // a Wednesday
  const DateTime midnight = EncodeDateTime({2026, 12, 10});
  struct {
    std::string_view pattern;
    DateTime t;
    std::string_view expected;
  } cases[] = {
      {"dd/MM/yyyy", afternoon, "05-01-2006"},
      {"d/M/yy", afternoon, "5-1-06"},
      {"y yy yyyy", morning, "9 09 2009"},
      {"ddd dddd MMM MMMM", afternoon, "Thu Thursday Jan January"},
      {"ddd MMMM", morning, "Wed November"},
      {"HH:mm:ss", afternoon, "13.45.07"},
      {"H:m:s", morning, "9.5.3"},
      {"h:mm tt", afternoon, "1.45 PM"},
      {"hh t", morning, "09 A"},
      {"h tt", midnight, "12 AM"},
      {"zzz z", afternoon, "123 123"},
      {"zzz z", morning, "004 4"},
      {"'at' HH\"h\" 'd/M'", afternoon, "at 13h d/M"},
      {"HH 'open", afternoon, "13 open"},
      {"yyyy-MM-ddTHH", afternoon, "2006-01-05T13"},
      {"", afternoon, ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(FormatDateTimePattern(c.pattern, c.t, dashes), c.expected) << c.pattern;
  }
}

TEST(RegionalSettingsTest, SplitDateTimePattern) {
  std::string pieces;
  for (const PatternPiece& p : SplitDateTimePattern("dd/MMM 'at' HH\"h\"x:mm 'open")) {
    pieces += "[" + std::string(1, p.letter ? p.letter : '_') + std::to_string(p.count) + ":" +
              std::string(p.text) + "]";
  }
  EXPECT_EQ(pieces,
            "[d2:dd][/1:/][M3:MMM][_1: ][_0:at][_1: ][H2:HH][_0:h][_1:x][:1::][m2:mm][_1: ][_0:open]");
}

TEST(RegionalSettingsTest, DefaultDateTimeTextLeavesOutMidnight) {
  const RegionalSettings s;
  struct {
    CivilTime civil;
    std::string_view expected;
  } cases[] = {
      {{2026, 12, 10}, "10/12/2026"},
      {{2026, 12, 10, 0, 0, 0, 40}, "10/12/2026"},  // milliseconds do not count
      {{2026, 12, 10, 0, 0, 1, 0}, "10/12/2026 00:00:01"},
      {{2026, 12, 10, 4, 35, 7, 0}, "10/12/2026 04:35:07"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(DefaultDateTimeText(EncodeDateTime(c.civil), s), c.expected) << c.expected;
  }
  // Rounded up to midnight: the next day alone.
  const DateTime almost = DateTime{EncodeDateTime({2026, 12, 10}).days - 0.4 / kMsPerDay};
  EXPECT_EQ(DefaultDateTimeText(almost, s), "10/12/2026");
}

TEST(RegionalSettingsTest, ParseShortDate) {
  const DateTime reference = EncodeDateTime({2026, 6, 1});
  struct {
    std::string_view format, separator, text;
    CivilTime expected;  // year 0: not a date
  } cases[] = {
      {"dd/MM/yyyy", "/", "05/01/2006", {2006, 1, 5}},
      {"dd/MM/yyyy", "/", "5/1/2006", {2006, 1, 5}},
      {"dd/MM/yyyy", "/", " 05/01/2006 ", {2006, 1, 5}},
      {"dd/MM/yyyy", "/", "5/1/06", {2006, 1, 5}},
      {"dd/MM/yyyy", "/", "5/1/76", {1976, 1, 5}},
      {"dd/MM/yyyy", "/", "5/1/75", {2075, 1, 5}},
      {"MM/dd/yyyy", "/", "01/05/2006", {2006, 1, 5}},
      {"yyyy-MM-dd", "-", "2006-01-05", {2006, 1, 5}},
      {"d. MMMM yyyy", ". ", "5. 1. 2006", {2006, 1, 5}},
      {"'day' dd/MM/yyyy", "/", "05/01/2006", {2006, 1, 5}},  // quoted text names nothing
      {"dd/MM/yyyy", "/", "29/02/2000", {2000, 2, 29}},
      {"dd/MM/yyyy", "/", "29/02/1900", {0}},
      {"dd/MM/yyyy", "/", "31/04/2006", {0}},
      {"dd/MM/yyyy", "/", "05/13/2006", {0}},
      {"dd/MM/yyyy", "/", "00/01/2006", {0}},
      {"dd/MM/yyyy", "/", "05/01/206", {0}},
      {"dd/MM/yyyy", "/", "05/01/20061", {0}},
      {"dd/MM/yyyy", "/", "005/01/2006", {0}},
      {"dd/MM/yyyy", "/", "05/01/0000", {0}},
      {"dd/MM/yyyy", "/", "5-1-2006", {0}},
      {"dd/MM/yyyy", "/", "05/01", {0}},
      {"dd/MM/yyyy", "/", "05/01/2006 10:00", {0}},
      {"dd/MM/yyyy", "/", "05/01/2006/", {0}},
      {"dd/MM/yyyy", "/", "a/b/c", {0}},
      {"dd/MM/yyyy", "/", "", {0}},
  };
  for (const auto& c : cases) {
    RegionalSettings s;
    s.short_date_format = std::string(c.format);
    s.date_separator = std::string(c.separator);
    DateTime out{-1.0};
    const bool ok = ParseShortDate(c.text, s, reference, &out);
    if (c.expected.year == 0) {
      EXPECT_FALSE(ok) << c.text;
      EXPECT_EQ(out.days, -1.0) << c.text;
    } else {
      ASSERT_TRUE(ok) << c.text;
      EXPECT_EQ(out, EncodeDateTime(c.expected)) << c.text;
    }
  }
}

TEST(RegionalSettingsTest, SizeText) {
  RegionalSettings comma;
  RegionalSettings blank;
  blank.thousand_separator = "\xc2\xa0";  // a no-break space, two bytes
  struct {
    int64_t n;
    const RegionalSettings& s;
    std::string_view expected;
  } cases[] = {
      {0, comma, "0"},
      {999, comma, "999"},
      {1000, comma, "1,000"},
      {1234567, comma, "1,234,567"},
      {-1, comma, "-1"},
      {-999, comma, "-999"},
      {-1000, comma, "-1,000"},
      {std::numeric_limits<int64_t>::max(), comma, "9,223,372,036,854,775,807"},
      {std::numeric_limits<int64_t>::min(), comma, "-9,223,372,036,854,775,808"},
      {1234567, blank, "1\xc2\xa0" "234\xc2\xa0" "567"},
  };
  for (const auto& c : cases) EXPECT_EQ(SizeText(c.n, c.s), c.expected) << c.n;
}

TEST(RegionalSettingsTest, ShortMonthName) {
  EXPECT_EQ(ShortMonthName(1), "Jan");
  EXPECT_EQ(ShortMonthName(9), "Sep");
  EXPECT_EQ(ShortMonthName(12), "Dec");
  EXPECT_EQ(ShortMonthName(0), "");
  EXPECT_EQ(ShortMonthName(13), "");
}

}  // namespace
}  // namespace quarrin
