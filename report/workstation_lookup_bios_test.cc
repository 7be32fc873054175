// The lookup with the BIOS serial number read from a file of the test's
// own, which only the Linux source reads (Windows asks WMI).
#include "report/workstation_lookup.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>

#include "tests/reporting_fixture.h"

namespace quarrin {
namespace {

using testing::Reply;
using testing::TestReply;
using testing::WorkstationRecord;

class WorkstationLookupBiosTest : public testing::ReportingFixture {
 protected:
  void SetBios(const std::optional<std::string>& serial) {
    std::remove(context_.bios_serial_path.c_str());
    if (serial) testing::WriteFileText(context_.bios_serial_path, *serial);
  }
};

TEST_F(WorkstationLookupBiosTest, TheBiosSerialIsPreferredToTheServiceTag) {
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

TEST_F(WorkstationLookupBiosTest, BadRepliesEndWithWholeAttributesOrNone) {
  testing::ScopedEnv zone("TZ", "UTC0");
  TestReply endless = Reply(200, WorkstationRecord("<SERVICETAG>T</SERVICETAG>"), "text/xml");
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
      {"a whole record", Reply(200, WorkstationRecord(tag + date)), std::nullopt, "ABC1234", "ABC1234",
       "02/01/1970"},
      {"another root", Reply(200, "<WORKSTATION>" + tag + date + "</WORKSTATION>"), std::nullopt,
       "", "<missing>", "<missing>"},
      {"no workstation", Reply(200, "<WORKSTATIONS/>"), std::nullopt, "", "<missing>", "<missing>"},
      {"an empty date", Reply(200, WorkstationRecord(tag + "<ACQUISITIONDATE/>")), std::nullopt, "ABC1234",
       "ABC1234", "<missing>"},
      {"a blank date", Reply(200, WorkstationRecord(tag + "<ACQUISITIONDATE> </ACQUISITIONDATE>")),
       std::nullopt, "ABC1234", "ABC1234", "<missing>"},
      {"a date that is not a number",
       Reply(200, WorkstationRecord(tag + "<ACQUISITIONDATE>2004-06-15</ACQUISITIONDATE>")), std::nullopt,
       "ABC1234", "<missing>", "<missing>"},
      {"a date beyond any calendar",
       Reply(200, WorkstationRecord(tag + "<ACQUISITIONDATE>1e300</ACQUISITIONDATE>")), std::nullopt,
       "ABC1234", "<missing>", "<missing>"},
      {"a date that overflows",
       Reply(200, WorkstationRecord(tag + "<ACQUISITIONDATE>1e400</ACQUISITIONDATE>")), std::nullopt,
       "ABC1234", "<missing>", "<missing>"},
      {"not XML", Reply(200, "<WORKSTATIONS><WORKSTATION>"), "BIOS-1", "", "<missing>",
       "<missing>"},
      {"an HTTP error", Reply(404, WorkstationRecord(tag + date)), "BIOS-1", "", "<missing>", "<missing>"},
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

TEST_F(WorkstationLookupBiosTest, AnUnreadableBiosSerialWritesNothing) {
  SetAttributes("", "");
  ASSERT_TRUE(std::filesystem::create_directory(context_.bios_serial_path));  // reading it fails
  desk_.AnswerRecord("ABC1234", "86400000");
  LookupWorkstation(context_);
  EXPECT_EQ(desk_.RequestCount(), 1u);
  EXPECT_EQ(state_.attributes().SerialNo, "");
  EXPECT_EQ(Stored("SerialNo"), "<missing>");
  EXPECT_EQ(Stored("AquisitionDate"), "<missing>");
}

}  // namespace
}  // namespace quarrin
