#include "report/inventory_report.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "core/registry.h"
#include "report/inventory_service.h"
#include "tests/reporting_fixture.h"

namespace quarrin {
namespace {

using testing::Reply;
using testing::SoapAnswer;
using testing::SoapCall;
using testing::TestReply;

constexpr char kCurrentVersionKey[] =
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion]\n";

class InventoryReportTest : public testing::ReportingFixture {
 protected:
  void ShortTimeOuts() {
    context_.inventory_limits = {std::chrono::milliseconds(300), std::chrono::milliseconds(600),
                                 1u << 20};
  }

  // Registers a few applications: Dispense, Word and Outlook with a stamped
  // file (1.2.3.4), Excel with a file that does not exist, PowerPoint
  // without a server, SQLNS (never reported) and the sibling service.
  void RegisterApplications() {
    const std::string stamped = testing::BuiltExecutable("stamped_fixture");
    auto server = [](const std::string& prog_id, const std::string& clsid, const char* kind,
                     const std::string& command) {
      return "[HKEY_CLASSES_ROOT\\" + prog_id + ".Application\\CLSID]\n@=\"" + clsid +
             "\"\n[HKEY_CLASSES_ROOT\\CLSID\\" + clsid + "\\" + kind + "]\n@=\"" + command + "\"\n";
    };
    Apply(server("Word", "{W}", "LocalServer32", stamped + " /automation") +
          server("Excel", "{E}", "LocalServer32", "/opt/office/excel /automation") +
          server("Outlook", "{O}", "LocalServer32", stamped) +
          server("PowerPoint", "{P}", "Other", stamped) +
          server("TestServer", "{T}", "LocalServer32", stamped + " -Embedding") +
          server("SQLNS.SQLNamespace", "{S}", "InprocServer32", stamped) +
          "[HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Services\\PellamSrvc]\n"
          "\"ImagePath\"=\"\\\"" +
          stamped + "\\\"\"\n");
  }

  std::vector<std::string> Applications() {
    std::vector<std::string> out;
    for (const SoapCall& c : service_.Calls()) out.push_back(c.Property("Application"));
    return out;
  }
};

TEST_F(InventoryReportTest, TheDetailsGoFirstThenTheAttributesAfterAPause) {
  SetAttributes("ABC1234", "15/06/2004", "desk 4");
  EXPECT_EQ(ReportPCDetails(context_), StepOutcome::kOk);

  ASSERT_TRUE(service_.Violations().empty()) << service_.Violations().front();
  auto calls = service_.Calls();
  ASSERT_EQ(service_.Operations(), (std::vector<std::string>{"PutPCDetails", "PutPCDetails2"}));
  EXPECT_EQ(calls[0].guid, kInventoryCallerGuid);
  EXPECT_EQ(calls[0].Property("MachineName"), "KALDERN-PC07");
  EXPECT_EQ(calls[0].Property("RegisteredOrganisation"), "TARN");
  EXPECT_EQ(calls[0].Property("CPUSpeed"), "3000");
  EXPECT_EQ(calls[0].Property("TotCPU"), "1");
  EXPECT_EQ(calls[0].Property("ServicePack"), "");
  EXPECT_EQ(calls[0].Property("NBNodeType"), "8");
  EXPECT_EQ(calls[0].Property("InstallDate"), "2006-01-05T13:45:07.000Z");
  EXPECT_EQ(calls[1].Property("MachineName"), "KALDERN-PC07");
  EXPECT_EQ(calls[1].Property("AquisitionDate"), "2004-06-15T00:00:00.000Z");
  EXPECT_EQ(calls[1].Property("Comments"), "desk 4");
  EXPECT_EQ(calls[1].Property("SerialNo"), "ABC1234");
  EXPECT_GE(calls[1].received - calls[0].received, std::chrono::milliseconds(100));
  EXPECT_TRUE(Events().empty());
}

TEST_F(InventoryReportTest, TheAcquisitionDateIsReadInTheShortDateFormat) {
  struct Case {
    const char* format;
    const char* attribute;
    const char* sent;  // empty: sent without a date, and a warning names the text
  } cases[] = {
      {"dd/MM/yyyy", "", "1899-12-30T00:00:00.000Z"},
      {"dd/MM/yyyy", "15/06/2004", "2004-06-15T00:00:00.000Z"},
      {"dd/MM/yyyy", " 15/6/2004 ", "2004-06-15T00:00:00.000Z"},
      {"M/d/yyyy", "6/15/2004", "2004-06-15T00:00:00.000Z"},
      {"dd/MM/yy", "15/06/04", "2004-06-15T00:00:00.000Z"},
      {"dd/MM/yyyy", "31/02/2004", ""},
      {"dd/MM/yyyy", "6/15/2004", ""},
      {"dd/MM/yyyy", "2004-06-15", ""},
      {"dd/MM/yyyy", "99/99/9999", ""},
  };
  for (const Case& c : cases) {
    Apply("[HKEY_USERS\\.DEFAULT\\Control Panel\\International]\n\"sShortDate\"=\"" +
          std::string(c.format) + "\"\n");
    SetAttributes("S1", c.attribute);
    const size_t calls_before = service_.Calls().size();
    const size_t events_before = Events().size();
    ReportPCDetails(context_);
    auto calls = service_.Calls();
    auto events = Events();
    if (*c.sent != '\0') {
      ASSERT_EQ(calls.size(), calls_before + 2) << c.attribute;
      EXPECT_EQ(calls.back().Property("AquisitionDate"), c.sent) << c.attribute;
      EXPECT_EQ(events.size(), events_before) << c.attribute;
    } else {
      // The machine stays in the inventory, without the date.
      ASSERT_EQ(calls.size(), calls_before + 2) << c.attribute;
      EXPECT_EQ(calls.back().Property("AquisitionDate"), "1899-12-30T00:00:00.000Z");
      EXPECT_EQ(calls.back().Property("SerialNo"), "S1");
      ASSERT_EQ(events.size(), events_before + 1) << c.attribute;
      EXPECT_EQ(events.back(), "6 '" + std::string(c.attribute) +
                                   "' is not a valid date; the details are sent without the "
                                   "acquisition date");
    }
  }
}

TEST_F(InventoryReportTest, AFailedCollectionSendsNothingAndIsLogged) {
  Apply(std::string(kCurrentVersionKey) + "\"InstallDate\"=-\n");
  EXPECT_EQ(ReportPCDetails(context_), StepOutcome::kFailed);
  EXPECT_EQ(service_.RequestCount(), 0u);
  EXPECT_EQ(Events(),
            std::vector<std::string>{"999 E.Message1=Failed to get data for 'InstallDate'"});

  // The applications report hands it to its caller instead.
  RegisterApplications();
  EXPECT_THROW(ReportApplications(context_), RegistryError);
  EXPECT_EQ(service_.RequestCount(), 0u);
}

TEST_F(InventoryReportTest, WhatTheServiceAnswersIsNotLookedAt) {
  struct Case {
    const char* what;
    SoapAnswer first;  // the answer to PutPCDetails; PutPCDetails2 gets rcOK
    size_t calls;      // calls the service saw
  } cases[] = {
      {"a failure result", SoapAnswer::Result("rcFailedInsert"), 2},
      {"a fault", SoapAnswer::Fault("no database"), 1},
      {"a reply that is not XML", SoapAnswer::Raw(Reply(200, "<html>", "text/html")), 1},
      {"an HTTP error", SoapAnswer::Raw(Reply(503, "busy")), 1},
  };
  for (const Case& c : cases) {
    testing::InventoryServiceDouble service;
    state_.deployment.inventory_url = service.EndpointUrl();
    service.Answer([&c](const SoapCall& call) {
      return call.operation == "PutPCDetails" ? c.first : SoapAnswer{};
    });
    ReportPCDetails(context_);
    EXPECT_EQ(service.Calls().size(), c.calls) << c.what;
  }
  // The service down: both reports return quietly.
  testing::RefusingPort down;
  state_.deployment.inventory_url = down.Url("/soap");
  RegisterApplications();
  EXPECT_EQ(ReportPCDetails(context_), StepOutcome::kFailed);
  EXPECT_EQ(ReportApplications(context_), StepOutcome::kFailed);
  EXPECT_TRUE(Events().empty()) << Events().front();
}

TEST_F(InventoryReportTest, AServiceThatNeverAnswersCostsOneTimeOut) {
  ShortTimeOuts();
  TestReply silent = Reply(200, "", "text/xml");
  silent.delay = std::chrono::seconds(30);
  service_.Answer(SoapAnswer::Raw(silent));
  RegisterApplications();

  auto start = std::chrono::steady_clock::now();
  ReportPCDetails(context_);
  EXPECT_EQ(service_.Operations(), std::vector<std::string>{"PutPCDetails"});
  ReportApplications(context_);
  // The first application ran out of time; the rest were left out.
  EXPECT_EQ(service_.Calls().size(), 2u);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(4));
  EXPECT_TRUE(Events().empty());
}

TEST_F(InventoryReportTest, FoundApplicationsGoOutInTheirOrderWithTheirNames) {
  RegisterApplications();
  EXPECT_EQ(ReportApplications(context_), StepOutcome::kOk);

  ASSERT_TRUE(service_.Violations().empty()) << service_.Violations().front();
  EXPECT_EQ(Applications(),
            (std::vector<std::string>{"Dispense", "Excel", "Outlook", "Word", "QuarrinSrvc"}));
  const std::string stamped = testing::BuiltExecutable("stamped_fixture");
  for (const SoapCall& c : service_.Calls()) {
    EXPECT_EQ(c.operation, "PutApplicationDetails");
    EXPECT_EQ(c.Property("MachineName"), "KALDERN-PC07");
    if (c.Property("Application") == "Excel") {
      EXPECT_EQ(c.Property("Path"), "/opt/office/excel");
      EXPECT_EQ(c.Property("Version"), "0.0.0.0");  // the file is missing, still sent
    } else {
      EXPECT_EQ(c.Property("Path"), stamped) << c.Property("Application");
      EXPECT_EQ(c.Property("Version"), "1.2.3.4") << c.Property("Application");
    }
  }
}

TEST_F(InventoryReportTest, AFailedApplicationDoesNotStopTheNextOnes) {
  RegisterApplications();
  service_.Answer([](const SoapCall& call) {
    std::string app = call.Property("Application");
    if (app == "Dispense") return SoapAnswer::Fault("no such application");
    if (app == "Excel") return SoapAnswer::Raw(Reply(500, "oops"));
    if (app == "Outlook") return SoapAnswer::Raw(Reply(200, "not xml"));
    return SoapAnswer::Result("rcFailedInsetAlreadyExists");
  });
  ReportApplications(context_);
  EXPECT_EQ(Applications(),
            (std::vector<std::string>{"Dispense", "Excel", "Outlook", "Word", "QuarrinSrvc"}));
  EXPECT_TRUE(Events().empty());
}

}  // namespace
}  // namespace quarrin
