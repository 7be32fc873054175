// The inventory report that an info request starts, against an inventory
// service that takes the call and does not answer.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "agent/agent_wiring.h"
#include "agent/linked_drawing.h"
#include "http/raw_http_client_testing.h"
#include "platform/files/disk_space.h"
#include "platform/service/service_manager.h"
#include "service/control_queue.h"
#include "service/service_host.h"
#include "tests/reporting_fixture.h"

namespace quarrin {
namespace {

using namespace std::chrono_literals;
using testing::RawExchange;
using testing::RawResponse;
using testing::SimpleRequest;

class InfoReportTest : public testing::ReportingFixture {
 protected:
  // Holds every call until Answer, as a service that hangs would (for
  // longer than the test waits for a reply).
  void HoldCalls() {
    service_.Answer([this](const testing::SoapCall&) {
      std::unique_lock lock(mu_);
      answer_.wait_for(lock, 60s, [this] { return answering_; });
      return testing::SoapAnswer::Result("rcOK");
    });
  }
  void Answer() {
    std::lock_guard lock(mu_);
    answering_ = true;
    answer_.notify_all();
  }
  ~InfoReportTest() override { Answer(); }

  // The wait of a service loop that never runs here.
  class NoLoop final : public LoopWaiter {
   public:
    void WaitUntil(DateTime) override {}
  };

  std::mutex mu_;
  std::condition_variable answer_;
  bool answering_ = false;
};

TEST_F(InfoReportTest, NoInfoReplyWaitsForTheReportAndOnlyOneRunsAtATime) {
  HoldCalls();
  std::unique_ptr<ServiceManager> manager = MakeBuiltinServiceManager(*store_);
  std::unique_ptr<StatusReporter> status = MakeStatusReporter("TARNQuarrinSrvc");
  ControlQueue queue;
  NoLoop loop;
  ServiceHost host(events_, *status, queue, loop);
  StatvfsDiskSpace drive(dir_.path());
  LinkedDrawing drawing;
  HttpServerOptions options;
  options.loopback_only = true;
  const AgentFacilities facilities{*store_, *log_, clock_, CurlHttpClient(), *manager};
  AgentWiring wiring(facilities, drive, drawing, options);
  TTARNQuarrinSrvc agent(facilities, wiring, host);
  wiring.Attach(&agent);
  agent.state().version_text = state_.version_text;
  agent.state().deployment = state_.deployment;  // the double's address
  std::string error;
  ASSERT_TRUE(wiring.StartHttpServer(0, &error)) << error;
  auto info = [&] {
    return RawExchange(wiring.http_port(), SimpleRequest("GET /info HTTP/1.1"), 5s);
  };

  // Each reply comes while the first report still waits for the service.
  for (int i = 0; i < 4; ++i) {
    RawResponse r = info();
    EXPECT_EQ(r.status, 200);
    EXPECT_NE(r.body.find("<MachineName>"), std::string::npos);
  }
  for (int i = 0; i < 500 && service_.Calls().empty(); ++i) std::this_thread::sleep_for(10ms);
  std::this_thread::sleep_for(100ms);
  EXPECT_EQ(service_.Operations(), std::vector<std::string>{"PutPCDetails"});

  // Once the service answers, that report ends, and a request after it
  // starts the next one.
  Answer();
  const size_t one_report = 2;  // PutPCDetails, PutPCDetails2
  for (int i = 0; i < 500 && service_.Calls().size() <= one_report; ++i) {
    if (service_.Calls().size() == one_report) {
      EXPECT_EQ(info().status, 200);
    }
    std::this_thread::sleep_for(10ms);
  }
  for (int i = 0; i < 500 && service_.Calls().size() < 2 * one_report; ++i) {
    std::this_thread::sleep_for(10ms);
  }
  EXPECT_EQ(service_.Operations(),
            (std::vector<std::string>{"PutPCDetails", "PutPCDetails2", "PutPCDetails",
                                      "PutPCDetails2"}));
  EXPECT_TRUE(service_.Violations().empty());
  wiring.StopHttpServer();
}

}  // namespace
}  // namespace quarrin
