#include "server/assets.h"

#include <gtest/gtest.h>

#include <pugixml.hpp>

#include "report/workstation_lookup.h"

namespace quarrin {
namespace {

TEST(AssetCsvTest, ReadsTheRegisterFile) {
  const std::vector<AssetRecord> r = ParseAssetCsv(
      "\xEF\xBB\xBFName, Service_Tag ,ACQUISITION_DATE\r\n"
      "KALDERN-PC07,ABC1234,2004-06-15\r\n"
      "\r\n"
      "pc08.corp.example , \"TAG, with \"\"quotes\"\"\" ,\n"
      "PC09,,2024-02-29");
  ASSERT_EQ(r.size(), 3u);
  EXPECT_EQ(r[0].machine_name, "KALDERN-PC07");
  EXPECT_EQ(r[0].service_tag, "ABC1234");
  EXPECT_EQ(r[0].acquisition_date, "2004-06-15");
  EXPECT_EQ(r[1].machine_name, "pc08.corp.example");
  EXPECT_EQ(r[1].service_tag, "TAG, with \"quotes\"");
  EXPECT_EQ(r[1].acquisition_date, "");
  EXPECT_EQ(r[2].service_tag, "");
  EXPECT_EQ(r[2].acquisition_date, "2024-02-29");
}

TEST(AssetCsvTest, ABadRowIsAnErrorNamingItsLine) {
  const std::string header = "name,service_tag,acquisition_date\n";
  struct Case {
    std::string text;
    std::string message;
  } cases[] = {
      {"", "line 1: the file is empty: no header line"},
      {"machine,tag,date\nPC,T,2004-01-01\n", "line 1: the header must be name,service_tag,acquisition_date"},
      {header + "PC1,T,2004-01-01\nPC2,T\n", "line 3: 2 fields, not 3"},
      {header + "PC1,T,2004-01-01,extra\n", "line 2: 4 fields, not 3"},
      {header + ",T,2004-01-01\n", "line 2: no machine name"},
      {header + ".corp,T,2004-01-01\n", "line 2: no machine name"},
      {header + "PC1,T,15/06/2004\n", "line 2: acquisition date '15/06/2004' is not a day written yyyy-mm-dd"},
      {header + "PC1,T,2023-02-29\n", "line 2: acquisition date '2023-02-29' is not a day"},
      {header + "PC1,\"T,2004-01-01\n", "line 2: a quoted field is not closed"},
      {header + "PC1,\"T\"x,2004-01-01\n", "line 2: text after a quoted field"},
      {header + "PC1,T,\n\npc1.corp.example,U,\n", "line 4: machine PC1 is already on line 2"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    try {
      ParseAssetCsv(c.text);
      ADD_FAILURE() << "read";
    } catch (const AssetCsvError& e) {
      EXPECT_EQ(std::string(e.what()).rfind(c.message, 0), 0u) << e.what();
    }
  }
}

// The document as the agent's lookup reads it, in a zone far west and far
// east of UTC: the same day either way.
TEST(WorkstationsDocumentTest, TheAgentReadsTheRegistersDayInAnyZone) {
  const std::string doc = WorkstationsDocument(AssetRecord{"PC1", "ABC<1234>", "2004-06-15"});
  pugi::xml_document parsed;
  ASSERT_TRUE(parsed.load_string(doc.c_str()));
  EXPECT_EQ(WorkstationElementText(parsed, "SERVICETAG"), "ABC<1234>");
  const std::optional<std::string> ms = WorkstationElementText(parsed, "ACQUISITIONDATE");
  ASSERT_TRUE(ms.has_value());
  EXPECT_EQ(*ms, "1087293600000");  // 2004-06-15 10:00 UTC
  const double value = ParseMilliseconds(*ms, ".");
  for (const char* zone : {"UTC0", "HST10", "TOT-13", "EST5EDT,M3.2.0,M11.1.0"}) {
    SCOPED_TRACE(zone);
    setenv("TZ", zone, 1);
    tzset();
    const CivilTime day = DecodeDateTime(MillisecondsToLocalDateTime(value));
    EXPECT_EQ(day.year, 2004);
    EXPECT_EQ(day.month, 6);
    EXPECT_EQ(day.day, 15);
  }
  unsetenv("TZ");
  tzset();
}

TEST(WorkstationsDocumentTest, LeavesOutWhatTheRegisterDoesNotKnow) {
  EXPECT_EQ(WorkstationsDocument(std::nullopt),
            "<?xml version=\"1.0\" encoding=\"utf-8\"?><WORKSTATIONS></WORKSTATIONS>");
  EXPECT_EQ(WorkstationsDocument(AssetRecord{"PC1", "", ""}),
            "<?xml version=\"1.0\" encoding=\"utf-8\"?><WORKSTATIONS><WORKSTATION></WORKSTATION>"
            "</WORKSTATIONS>");
}

}  // namespace
}  // namespace quarrin
