#include "disk/series_names.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/registry/registry_store.h"
#include "platform/registry/scratch_registry_double.h"
#include "tests/test_support.h"

namespace quarrin {
namespace {

DateTime At(int year, int month, int day, int hour, int minute) {
  return EncodeDateTime(CivilTime{year, month, day, hour, minute, 0, 0});
}

RegionalSettings WithShortDate(const std::string& format) {
  RegionalSettings s;
  s.short_date_format = format;
  return s;
}

TEST(NameFormatsTest, RememberedOnceForEachChangeWithTheEarliestNameTime) {
  testing::TempDir dir;
  std::unique_ptr<RegistryStore> store = OpenScratchRegistryStore(dir.path());
  EXPECT_TRUE(ReadNameFormats(*store).empty());

  const RegionalSettings day_first = WithShortDate("dd/MM/yyyy");
  RegionalSettings month_first = WithShortDate("MM/dd/yyyy");
  month_first.thousand_separator = "'";  // plays no part in names
  NoteNameFormats(*store, day_first, At(2026, 12, 10, 12, 5));
  NoteNameFormats(*store, day_first, At(2026, 12, 10, 12, 0));   // a late roll-up's slot
  NoteNameFormats(*store, day_first, At(2026, 12, 10, 12, 10));
  NoteNameFormats(*store, month_first, At(2026, 12, 10, 12, 15));
  NoteNameFormats(*store, WithShortDate("MM/dd/yyyy"), At(2026, 12, 10, 12, 20));
  NoteNameFormats(*store, day_first, At(2026, 12, 10, 12, 25));  // back again

  const std::vector<NameFormats> formats = ReadNameFormats(*store);
  ASSERT_EQ(formats.size(), 3u);
  EXPECT_EQ(formats[0].settings.short_date_format, "dd/MM/yyyy");
  EXPECT_EQ(formats[0].since, At(2026, 12, 10, 12, 0));
  EXPECT_EQ(formats[1].settings.short_date_format, "MM/dd/yyyy");
  EXPECT_EQ(formats[1].since, At(2026, 12, 10, 12, 15));
  EXPECT_EQ(formats[2].settings.short_date_format, "dd/MM/yyyy");
  EXPECT_EQ(formats[2].since, At(2026, 12, 10, 12, 25));
  EXPECT_EQ(formats[2].settings.long_time_format, "HH:mm:ss");
  EXPECT_EQ(formats[2].settings.date_separator, "/");
  EXPECT_EQ(formats[2].settings.time_separator, ":");
}

TEST(SeriesNameReaderTest, ANameIsReadWithTheFormatsInForceAtItsTime) {
  // Day first until 11:00 on 10 December, month first since; a 12-hour
  // clock is the current setting, not yet used for any name.
  RegionalSettings current = WithShortDate("MM/dd/yyyy");
  current.long_time_format = "h:mm:ss tt";
  const SeriesNameReader reader(
      current, {{WithShortDate("dd/MM/yyyy"), At(2026, 12, 9, 0, 0)},
                {WithShortDate("MM/dd/yyyy"), At(2026, 12, 10, 11, 0)}});
  const DateTime now = At(2026, 12, 10, 13, 0);
  const struct {
    const char* name;
    bool read;
    DateTime time;
  } cases[] = {
      // Both formats read these; the time ranges tell which wrote them.
      {"10/12/2026 10:00:00", true, At(2026, 12, 10, 10, 0)},
      {"12/10/2026 11:30:00", true, At(2026, 12, 10, 11, 30)},
      // Outside every range: the current settings first, then any.
      {"12/10/2026 1:00:00 PM", true, At(2026, 12, 10, 13, 0)},
      {"01/02/2020 10:00:00", true, At(2020, 1, 2, 10, 0)},
      {"25/12/2019 10:00:00", true, At(2019, 12, 25, 10, 0)},
      {"25/12/2019 10:00", false, {}},
      {"garbage", false, {}},
  };
  for (const auto& c : cases) {
    DateTime t;
    EXPECT_EQ(reader.RollUpName(c.name, now, &t), c.read) << c.name;
    if (c.read) {
      EXPECT_EQ(t, c.time) << c.name;
    }
  }

  // Day-series names depend on the separators alone.
  RegionalSettings dots;
  dots.date_separator = ".";
  const SeriesNameReader days(dots, {{RegionalSettings{}, At(2026, 12, 9, 0, 0)}});
  DateTime t;
  EXPECT_TRUE(days.DayName("10/12/26 10:05:00.001", now, &t));
  EXPECT_TRUE(days.DayName("10.12.26 10:05:00.001", now, &t));
  EXPECT_FALSE(days.DayName("10-12-26 10:05:00.001", now, &t));
}

}  // namespace
}  // namespace quarrin
