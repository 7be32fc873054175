// The service's daily run on a fake clock with the real lookup and reports
// against the doubles of the service desk and the inventory service.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <thread>
#include <string>
#include <vector>

#include "agent/quarrin_service.h"
#include "platform/service/service_manager.h"
#include "report/inventory_report.h"
#include "report/workstation_lookup.h"
#include "service/control_queue.h"
#include "service/service_host.h"
#include "tests/http_test_server.h"
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

  StepOutcome CheckForUpdate(tFileUpdate&) override {
    Note("CheckForUpdate");
    return StepOutcome::kSkipped;
  }
  StepOutcome LookupWorkstation() override {
    const StepOutcome outcome = quarrin::LookupWorkstation(context_);
    Note("LookupWorkstation");
    return outcome;
  }
  StepOutcome ReportPCDetails() override {
    const StepOutcome outcome = quarrin::ReportPCDetails(context_);
    Note("ReportPCDetails");
    return outcome;
  }
  StepOutcome ReportApplications() override {
    const StepOutcome outcome = quarrin::ReportApplications(context_);
    Note("ReportApplications");
    return outcome;
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

// The deployment settings of a run against the given separate systems.
std::string DeploymentReg(const std::string& manifest_url, const std::string& inventory_url,
                          const std::string& lookup_web_host) {
  return "[HKEY_LOCAL_MACHINE\\SOFTWARE\\TARN\\QuarrinSrvc\\Deployment]\n"
         "\"ManifestURL\"=\"" + manifest_url + "\"\n"
         "\"InventoryURL\"=\"" + inventory_url + "\"\n"
         "\"LookupPingHost\"=\"127.0.0.1\"\n"
         "\"LookupWebHost\"=\"" + lookup_web_host + "\"\n"
         "\"LookupDomainSuffix\"=\".corp.example\"\n";
}

TEST_F(DailyRunTest, TheLookupFillsTheAttributesThatTheSameDaysReportSends) {
  testing::ScopedEnv root("QUARRIN_ROOT", dir_.path());
  testing::ScopedEnv zone("TZ", "UTC0");
  testing::RefusingPort no_manifest;
  Apply(DeploymentReg(no_manifest.Url("/downloads/QuarrinSrvc.xml"), service_.EndpointUrl(),
                      desk_.WebHost()) +
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
  // Each step's outcome, and the run's start and end.
  const AgentMetrics& metrics = agent.metrics();
  EXPECT_EQ(metrics.step_outcome(DailyStep::kUpdateCheck), StepOutcome::kSkipped);
  EXPECT_EQ(metrics.step_outcome(DailyStep::kLookup), StepOutcome::kOk);
  EXPECT_EQ(metrics.step_outcome(DailyStep::kDetailsReport), StepOutcome::kOk);
  EXPECT_EQ(metrics.step_outcome(DailyStep::kApplicationsReport), StepOutcome::kOk);
  EXPECT_NE(metrics.daily_run_started_unix_ms(), 0);
  EXPECT_GE(metrics.daily_run_completed_unix_ms(), metrics.daily_run_started_unix_ms());
}

// Moves the fake clock to every deadline until a stop is on its way.
class FollowTheClock final : public LoopWaiter {
 public:
  FollowTheClock(FakeClock& clock, ServiceHost*& host) : clock_(clock), host_(host) {}
  void WaitUntil(DateTime deadline) override {
    if (!host_->StopPending()) clock_.Set(deadline);
  }

 private:
  FakeClock& clock_;
  ServiceHost*& host_;
};

TEST_F(DailyRunTest, AStopAbandonsADailyRunWhosePeersHang) {
  testing::ScopedEnv root("QUARRIN_ROOT", dir_.path());
  testing::ScopedEnv zone("TZ", "UTC0");
  testing::RefusingPort no_manifest;
  testing::TestReply never = testing::Reply(200, "late");
  never.delay = std::chrono::seconds(60);
  testing::HttpTestServer hanging(never);
  Apply(DeploymentReg(no_manifest.Url("/downloads/QuarrinSrvc.xml"), hanging.Url("/inventory"),
                      "127.0.0.1:" + std::to_string(hanging.port())));
  context_.ping = [](const std::string&, int, int) { return true; };

  std::unique_ptr<ServiceManager> manager = MakeBuiltinServiceManager(*store_);
  std::unique_ptr<StatusReporter> status = MakeStatusReporter("TARNQuarrinSrvc");
  ControlQueue queue;
  ServiceHost* host_ref = nullptr;
  ReportingTasks tasks(context_, desk_, service_);
  FollowTheClock waiter(clock_, host_ref);
  ServiceHost host(events_, *status, queue, waiter);
  host_ref = &host;
  // Every outbound call of the run goes through the stop flag, as in the agent.
  CancellingHttpClient http(CurlHttpClient(), host.stop_flag());
  context_.http = &http;
  TTARNQuarrinSrvc agent({*store_, *log_, clock_, http, *manager}, tasks, host);
  context_.state = &agent.state();
  agent.SeedRandom(7);
  std::thread stopper([&] {
    while (hanging.RequestCount() == 0) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    host.PostControl(kControlStop);
  });
  host.RunService(agent);
  stopper.join();

  // The lookup's call was abandoned and no task after it started.
  EXPECT_EQ(tasks.notes, (std::vector<std::string>{"CheckForUpdate: 0/0",
                                                   "LookupWorkstation: 0/0"}));
  EXPECT_EQ(hanging.RequestCount(), 1u);
  EXPECT_EQ(host.state(), ServiceState::kStopped);
  // A run that did not finish: started, never complete, the steps after the
  // stop not run.
  const AgentMetrics& metrics = agent.metrics();
  EXPECT_NE(metrics.daily_run_started_unix_ms(), 0);
  EXPECT_EQ(metrics.daily_run_completed_unix_ms(), 0);
  EXPECT_EQ(metrics.step_outcome(DailyStep::kLookup), StepOutcome::kFailed);
  EXPECT_EQ(metrics.step_outcome(DailyStep::kDetailsReport), StepOutcome::kNotRun);
}

}  // namespace
}  // namespace quarrin
