// The service's daily run on a fake clock with the real lookup and reports
// against the doubles of the service desk and the inventory service.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "agent/quarrin_service.h"
#include "platform/service_manager.h"
#include "report/inventory_report.h"
#include "report/workstation_lookup.h"
#include "service/control_queue.h"
#include "service/service_host.h"
#include "tests/reporting_fixture.h"

namespace quarrin {
namespace {

// The daily tasks, each noting when it ran what the two doubles had seen
// by the time it returned.
class ReportingTasks final : public AgentTasks {
 public:
  ReportingTasks(ReportingContext& context, testing::ServiceDeskDouble& desk,
                 testing::InventoryServiceDouble& service)
      : context_(context), desk_(desk), service_(service) {}

  void CheckForUpdate(tFileUpdate&) override { Note("CheckForUpdate"); }
  void LookupWorkstation() override {
    quarrin::LookupWorkstation(context_);
    Note("LookupWorkstation");
  }
  void ReportPCDetails() override {
    quarrin::ReportPCDetails(context_);
    Note("ReportPCDetails");
  }
  void ReportApplications() override {
    quarrin::ReportApplications(context_);
    Note("ReportApplications");
  }

  // "task: lookups/inventory calls" after each task.
  std::vector<std::string> notes;

 private:
  void Note(const std::string& task) {
    notes.push_back(task + ": " + std::to_string(desk_.RequestCount()) + "/" +
                    std::to_string(service_.Calls().size()));
  }
  ReportingContext& context_;
  testing::ServiceDeskDouble& desk_;
  testing::InventoryServiceDouble& service_;
};

// Moves the fake clock to every deadline and asks for a stop once the first
// daily run is over.
class StopAfterDailyRun final : public LoopWaiter {
 public:
  StopAfterDailyRun(FakeClock& clock, ServiceHost*& host, const ReportingTasks& tasks)
      : clock_(clock), host_(host), tasks_(tasks) {}
  void WaitUntil(DateTime deadline) override {
    if (tasks_.notes.size() >= 4) {
      host_->PostControl(kControlStop);
      return;
    }
    clock_.Set(deadline);
  }

 private:
  FakeClock& clock_;
  ServiceHost*& host_;
  const ReportingTasks& tasks_;
};

class DailyRunTest : public testing::ReportingFixture {};

TEST_F(DailyRunTest, TheLookupFillsTheAttributesThatTheSameDaysReportSends) {
  testing::ScopedEnv root("QUARRIN_ROOT", dir_.path());
  testing::ScopedEnv zone("TZ", "UTC0");
  testing::RefusingPort no_manifest;
  Apply(
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\TARN\\QuarrinSrvc\\Deployment]\n"
      "\"ManifestURL\"=\"" +
      no_manifest.Url("/downloads/QuarrinSrvc.xml") +
      "\"\n"
      "\"InventoryURL\"=\"" +
      service_.EndpointUrl() +
      "\"\n"
      "\"LookupPingHost\"=\"127.0.0.1\"\n"
      "\"LookupWebHost\"=\"" +
      desk_.WebHost() +
      "\"\n"
      "\"LookupDomainSuffix\"=\".corp.example\"\n"
      "[HKEY_CLASSES_ROOT\\Word.Application\\CLSID]\n@=\"{W}\"\n"
      "[HKEY_CLASSES_ROOT\\CLSID\\{W}\\LocalServer32]\n@=\"/opt/office/winword /automation\"\n");
  desk_.AnswerRecord("ABC1234", "1087257600000");  // 2004-06-15 00:00 UTC

  std::unique_ptr<ServiceManager> manager = MakeBuiltinServiceManager(*store_);
  std::unique_ptr<StatusReporter> status = MakeStatusReporter("TARNQuarrinSrvc");
  ControlQueue queue;
  ServiceHost* host_ref = nullptr;
  ReportingTasks tasks(context_, desk_, service_);
  StopAfterDailyRun waiter(clock_, host_ref, tasks);
  ServiceHost host(events_, *status, queue, waiter);
  host_ref = &host;
  TTARNQuarrinSrvc agent({*store_, *log_, clock_, CurlHttpClient(), *manager}, tasks, host);
  context_.state = &agent.state();
  agent.SeedRandom(7);
  host.RunService(agent);

  EXPECT_EQ(tasks.notes,
            (std::vector<std::string>{"CheckForUpdate: 0/0", "LookupWorkstation: 1/0",
                                      "ReportPCDetails: 1/2", "ReportApplications: 1/3"}));
  EXPECT_TRUE(service_.Violations().empty()) << service_.Violations().front();
  EXPECT_TRUE(desk_.Violations().empty());
  auto calls = service_.Calls();
  ASSERT_EQ(calls.size(), 3u);
  EXPECT_EQ(calls[1].Property("SerialNo"), "ABC1234");
  EXPECT_EQ(calls[1].Property("AquisitionDate"), "2004-06-15T00:00:00.000Z");
  EXPECT_EQ(calls[2].Property("Application"), "Word");
  EXPECT_EQ(Stored("AquisitionDate"), "15/06/2004");
  EXPECT_EQ(Stored("SerialNo"), "ABC1234");
  for (const std::string& e : Events()) EXPECT_EQ(e.rfind("999", 0), std::string::npos) << e;
}

}  // namespace
}  // namespace quarrin
