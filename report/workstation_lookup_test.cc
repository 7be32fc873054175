#include "report/workstation_lookup.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>

#include "tests/reporting_fixture.h"

namespace quarrin {
namespace {

using testing::Reply;
using testing::TestReply;

std::string Record(const std::string& inside) {
  return "<WORKSTATIONS><WORKSTATION>" + inside + "</WORKSTATION></WORKSTATIONS>";
}

class WorkstationLookupTest : public testing::ReportingFixture {
 protected:
  void SetBios(const std::optional<std::string>& serial) {
    std::remove(context_.bios_serial_path.c_str());
    if (serial) testing::WriteFileText(context_.bios_serial_path, *serial);
  }
};

TEST_F(WorkstationLookupTest, BothAttributesSetMeansNoEchoAndNoRequest) {
  SetAttributes("ABC1234", "15/06/2004");
  desk_.AnswerRecord("OTHER", "86400000");
  LookupWorkstation(context_);
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
    LookupWorkstation(context_);
    EXPECT_EQ(state_.attributes().AquisitionDate, c.stored) << c.zone;
    EXPECT_EQ(Stored("AquisitionDate"), c.stored) << c.zone;
    EXPECT_EQ(Stored("SerialNo"), "S1") << c.zone;  // the serial was set: the tag is not used
  }
  EXPECT_EQ(echoes_, 2);
  EXPECT_EQ(desk_.LookedUpNames(),
            (std::vector<std::string>{"kaldern-pc07.corp.example", "kaldern-pc07.corp.example"}));
  EXPECT_TRUE(desk_.Violations().empty());
}

TEST_F(WorkstationLookupTest, TheBiosSerialIsPreferredToTheServiceTag) {
  struct Case {
    std::optional<std::string> bios;
    const char* serial;
  } cases[] = {
      {"  BIOS-42 \n", "BIOS-42"},
      {" \t\n", "ABC1234"},       // the firmware reports a blank serial
      {std::nullopt, "ABC1234"},  // no DMI table
  };
  for (const Case& c : cases) {
    SetAttributes("", "01/01/2001");
    SetBios(c.bios);
    desk_.AnswerRecord("ABC1234", "86400000");
    LookupWorkstation(context_);
    EXPECT_EQ(state_.attributes().SerialNo, c.serial);
    EXPECT_EQ(Stored("SerialNo"), c.serial);
    EXPECT_EQ(Stored("AquisitionDate"), "01/01/2001");  // written back from memory
  }
}

TEST_F(WorkstationLookupTest, BadRepliesEndWithWholeAttributesOrNone) {
  testing::ScopedEnv zone("TZ", "UTC0");
  TestReply endless = Reply(200, Record("<SERVICETAG>T</SERVICETAG>"), "text/xml");
  endless.mode = TestReply::Mode::kEndless;
  const std::string date = "<ACQUISITIONDATE>86400000</ACQUISITIONDATE>";
  const std::string tag = "<SERVICETAG>ABC1234</SERVICETAG>";
  struct Case {
    const char* what;
    TestReply reply;
    std::optional<std::string> bios;
    const char* in_memory;  // SerialNo afterwards
    const char* serial;     // stored values afterwards
    const char* acquired;
  } cases[] = {
      {"a whole record", Reply(200, Record(tag + date)), std::nullopt, "ABC1234", "ABC1234",
       "02/01/1970"},
      {"another root", Reply(200, "<WORKSTATION>" + tag + date + "</WORKSTATION>"), std::nullopt,
       "", "<missing>", "<missing>"},
      {"no workstation", Reply(200, "<WORKSTATIONS/>"), std::nullopt, "", "<missing>", "<missing>"},
      {"an empty date", Reply(200, Record(tag + "<ACQUISITIONDATE/>")), std::nullopt, "ABC1234",
       "ABC1234", "<missing>"},
      {"a blank date", Reply(200, Record(tag + "<ACQUISITIONDATE> </ACQUISITIONDATE>")),
       std::nullopt, "ABC1234", "ABC1234", "<missing>"},
      {"a date that is not a number",
       Reply(200, Record(tag + "<ACQUISITIONDATE>2004-06-15</ACQUISITIONDATE>")), std::nullopt,
       "ABC1234", "<missing>", "<missing>"},
      {"a date beyond any calendar",
       Reply(200, Record(tag + "<ACQUISITIONDATE>1e300</ACQUISITIONDATE>")), std::nullopt,
       "ABC1234", "<missing>", "<missing>"},
      {"a date that overflows",
       Reply(200, Record(tag + "<ACQUISITIONDATE>1e400</ACQUISITIONDATE>")), std::nullopt,
       "ABC1234", "<missing>", "<missing>"},
      {"not XML", Reply(200, "<WORKSTATIONS><WORKSTATION>"), "BIOS-1", "", "<missing>",
       "<missing>"},
      {"an HTTP error", Reply(404, Record(tag + date)), "BIOS-1", "", "<missing>", "<missing>"},
      {"a huge document", endless, "BIOS-1", "", "<missing>", "<missing>"},
  };
  int n = 0;
  for (const Case& c : cases) {
    const std::string folder = dir_ / ("case" + std::to_string(++n));
    std::filesystem::create_directory(folder);
    store_ = OpenScratchRegistryStore(folder);
    context_.registry = store_.get();
    ApplyRegChanges(*store_, ParseRegFile(testing::ReadFileText(
                                 testing::SourcePath("tests/fixtures/report_workstation.reg"))));
    SetAttributes("", "");
    SetBios(c.bios);
    desk_.Answer(c.reply);
    LookupWorkstation(context_);
    EXPECT_EQ(state_.attributes().SerialNo, c.in_memory) << c.what;
    EXPECT_EQ(Stored("SerialNo"), c.serial) << c.what;
    EXPECT_EQ(Stored("AquisitionDate"), c.acquired) << c.what;
  }
}

TEST_F(WorkstationLookupTest, AnUnreadableBiosSerialWritesNothing) {
  SetAttributes("", "");
  ASSERT_TRUE(std::filesystem::create_directory(context_.bios_serial_path));  // reading it fails
  desk_.AnswerRecord("ABC1234", "86400000");
  LookupWorkstation(context_);
  EXPECT_EQ(desk_.RequestCount(), 1u);
  EXPECT_EQ(state_.attributes().SerialNo, "");
  EXPECT_EQ(Stored("SerialNo"), "<missing>");
  EXPECT_EQ(Stored("AquisitionDate"), "<missing>");
}

TEST_F(WorkstationLookupTest, AnUnreachableServiceDeskIsNotAsked) {
  SetAttributes("", "");
  state_.deployment.lookup_ping_host = "servicedesk.quarrin.invalid";
  desk_.AnswerRecord("ABC1234", "86400000");
  LookupWorkstation(context_);
  EXPECT_EQ(echoes_, 1);
  EXPECT_EQ(desk_.RequestCount(), 0u);
  EXPECT_EQ(Stored("SerialNo"), "<missing>");
}

TEST_F(WorkstationLookupTest, AServiceDeskThatNeverAnswersCostsTheTimeOut) {
  SetAttributes("", "");
  context_.service_desk_limits = {std::chrono::milliseconds(300), std::chrono::milliseconds(600),
                                  1u << 20};
  TestReply silent = Reply(200, Record("<SERVICETAG>ABC1234</SERVICETAG>"), "text/xml");
  silent.delay = std::chrono::seconds(30);
  desk_.Answer(silent);
  auto start = std::chrono::steady_clock::now();
  LookupWorkstation(context_);
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
