// The small readers of names, versions, queries and JSON.
#include <gtest/gtest.h>

#include "server/json.h"
#include "server/machine_identity.h"
#include "server/query_text.h"

namespace quarrin {
namespace {

TEST(MachineKeyTest, FoldsCaseAndDropsTheDomain) {
  struct Case {
    const char* name;
    const char* key;
  } cases[] = {
      {"kaldern-pc07", "KALDERN-PC07"},
      {"KALDERN-PC07.corp.example", "KALDERN-PC07"},
      {"  pc1 ", "PC1"},
      {".corp.example", ""},
      {"", ""},
      {"p\xC3\xA9-1", "P\xC3\xA9-1"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(MachineKey(c.name), c.key);
  }
}

TEST(VersionTest, FourNumbersOrNone) {
  using V = std::array<int32_t, 4>;
  struct Case {
    const char* text;
    std::optional<V> version;  // VersionNumbers
    std::optional<V> bound;    // VersionBound
  } cases[] = {
      {"11.0.8173.0", V{11, 0, 8173, 0}, V{11, 0, 8173, 0}},
      {" 17.15.0.1 ", V{17, 15, 0, 1}, V{17, 15, 0, 1}},
      {"17.9", std::nullopt, V{17, 9, 0, 0}},
      {"17", std::nullopt, V{17, 0, 0, 0}},
      {"1.2.3.4.5", std::nullopt, std::nullopt},
      {"1..3.4", std::nullopt, std::nullopt},
      {"1.2.3.-4", std::nullopt, std::nullopt},
      {"1.2.3.2147483648", std::nullopt, std::nullopt},
      {"1.2.3.x", std::nullopt, std::nullopt},
      {"", std::nullopt, std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(VersionNumbers(c.text), c.version);
    EXPECT_EQ(VersionBound(c.text), c.bound);
  }
}

TEST(QueryTextTest, DecodesTheNamedParameter) {
  EXPECT_EQ(QueryParameter("WorkStationName=pc1.corp.example", "WorkStationName"),
            "pc1.corp.example");
  EXPECT_EQ(QueryParameter("a=1&name=A%20b+c&name=2", "name"), "A b c");
  EXPECT_EQ(QueryParameter("a=1", "name"), std::nullopt);
  EXPECT_EQ(QueryParameter("name", "name"), "");
  EXPECT_EQ(QueryParameter("name=%4", "name"), std::nullopt);
  EXPECT_EQ(QueryParameter("name=%zz", "name"), std::nullopt);
  EXPECT_EQ(PercentDecode("%41%62%"), std::nullopt);
}

TEST(JsonTest, WritesStringsThatStayValid) {
  EXPECT_EQ(JsonString("a\"b\\c\n\x01"), "\"a\\\"b\\\\c\\u000a\\u0001\"");
  EXPECT_EQ(JsonString("caf\xC3\xA9"), "\"caf\xC3\xA9\"");
  EXPECT_EQ(JsonString("bad\xFF"), "\"bad\xEF\xBF\xBD\"");
  EXPECT_EQ(JsonStringOrNull(std::nullopt), "null");
}

TEST(JsonTest, ReadsAFlatObjectAndRefusesTheRest) {
  const auto members =
      ParseFlatJsonObject(" {\"service_tag\": \"A\\u00e9\\\"\", \"acquisition_date\": null} ");
  ASSERT_EQ(members.size(), 2u);
  EXPECT_EQ(members.at("service_tag"), "A\xC3\xA9\"");
  EXPECT_EQ(members.at("acquisition_date"), std::nullopt);
  EXPECT_TRUE(ParseFlatJsonObject("{}").empty());
  for (const char* bad : {"", "[]", "{\"a\":1}", "{\"a\":\"x\"", "{\"a\":\"x\",}",
                          "{\"a\":\"x\",\"a\":\"y\"}", "{\"a\":\"x\"} x", "{\"a\":\"\\ud800\"}",
                          "{\"a\":\"\x01\"}", "{\"a\":\"\xFF\"}", "{\"a\":\"\\q\"}"}) {
    SCOPED_TRACE(bad);
    EXPECT_THROW(ParseFlatJsonObject(bad), JsonError);
  }
}

}  // namespace
}  // namespace quarrin
