#include "report/workstation_lookup.h"

#include <gtest/gtest.h>

#include <chrono>
#include <optional>
#include <string>

#include "tests/reporting_fixture.h"

namespace quarrin {
namespace {

using testing::Reply;
using testing::TestReply;
using testing::WorkstationRecord;

using WorkstationLookupTest = testing::ReportingFixture;

TEST_F(WorkstationLookupTest, BothAttributesSetMeansNoEchoAndNoRequest) {
  SetAttributes("ABC1234", "15/06/2004");
  desk_.AnswerRecord("OTHER", "86400000");
  EXPECT_EQ(LookupWorkstation(context_), StepOutcome::kSkipped);
  EXPECT_EQ(echoes_, 0);
  EXPECT_EQ(desk_.RequestCount(), 0u);
  EXPECT_EQ(Stored("SerialNo"), "<missing>");
}

TEST_F(WorkstationLookupTest, TheDateIsMovedByTheOffsetInForce) {
  struct Case {
    const char* zone;
    const char* stored;
  } cases[] = {
      {"<+10>-10", "02/01/1970"},  // offset -600 minutes
      {"<-04>4", "01/01/1970"},    // offset 240 minutes
  };
  for (const Case& c : cases) {
    testing::ScopedEnv zone("TZ", c.zone);
    SetAttributes("S1", "");
    desk_.AnswerRecord("ABC1234", "86400000");  // 1970-01-02 00:00 UTC
    EXPECT_EQ(LookupWorkstation(context_), StepOutcome::kOk);
    EXPECT_EQ(state_.attributes().AquisitionDate, c.stored) << c.zone;
    EXPECT_EQ(Stored("AquisitionDate"), c.stored) << c.zone;
    EXPECT_EQ(Stored("SerialNo"), "S1") << c.zone;  // the serial was set: the tag is not used
  }
  EXPECT_EQ(echoes_, 2);
  EXPECT_EQ(desk_.LookedUpNames(),
            (std::vector<std::string>{"kaldern-pc07.corp.example", "kaldern-pc07.corp.example"}));
  EXPECT_TRUE(desk_.Violations().empty());
}

TEST_F(WorkstationLookupTest, AnUnreachableServiceDeskIsNotAsked) {
  SetAttributes("", "");
  state_.deployment.lookup_ping_host = "servicedesk.quarrin.invalid";
  desk_.AnswerRecord("ABC1234", "86400000");
  EXPECT_EQ(LookupWorkstation(context_), StepOutcome::kFailed);
  EXPECT_EQ(echoes_, 1);
  EXPECT_EQ(desk_.RequestCount(), 0u);
  EXPECT_EQ(Stored("SerialNo"), "<missing>");
}

TEST_F(WorkstationLookupTest, AServiceDeskThatNeverAnswersCostsTheTimeOut) {
  SetAttributes("", "");
  context_.service_desk_limits = {std::chrono::milliseconds(300), std::chrono::milliseconds(600),
                                  1u << 20};
  TestReply silent = Reply(200, WorkstationRecord("<SERVICETAG>ABC1234</SERVICETAG>"), "text/xml");
  silent.delay = std::chrono::seconds(30);
  desk_.Answer(silent);
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(LookupWorkstation(context_), StepOutcome::kFailed);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
  EXPECT_EQ(desk_.RequestCount(), 1u);
  EXPECT_EQ(Stored("SerialNo"), "<missing>");
}

TEST(ParseMillisecondsTest, DecimalNumbersWithTheRegionalSeparator) {
  struct Case {
    const char* text;
    const char* separator;
    std::optional<double> value;
  } cases[] = {
      {"86400000", ".", 86400000},  {" 1087257600000 ", ".", 1087257600000},
      {"-1.5", ".", -1.5},          {"+2,5", ",", 2.5},
      {"8.64e7", ".", 8.64e7},      {"1.5", ",", std::nullopt},
      {"", ".", std::nullopt},      {"0x10", ".", std::nullopt},
      {"inf", ".", std::nullopt},   {"nan", ".", std::nullopt},
      {"1e400", ".", std::nullopt}, {"1,000", ".", std::nullopt},
      {"+-1", ".", std::nullopt},   {"1e", ".", std::nullopt},
  };
  for (const Case& c : cases) {
    if (c.value) {
      EXPECT_EQ(ParseMilliseconds(c.text, c.separator), *c.value) << c.text;
    } else {
      try {
        ParseMilliseconds(c.text, c.separator);
        ADD_FAILURE() << c.text << ": no exception";
      } catch (const std::runtime_error& e) {
        EXPECT_EQ(e.what(), "'" + std::string(c.text) + "' is not a valid floating point value");
      }
    }
  }
}

}  // namespace
}  // namespace quarrin
