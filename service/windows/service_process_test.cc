// The service host and its dispatcher under the service control manager
// (Wine's or Windows'): a test service that runs the real host.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "platform/registry/registry_open.h"
#include "platform/service/service_manager.h"
#include "platform/service/scm_test_support_windows.h"

namespace quarrin {
namespace {

constexpr char kName[] = "QuarrinHostTestService";

class ServiceProcessTest : public ::testing::Test {
 protected:
  void SetUp() override {
    manager_ = MakeServiceManager(registry_.store());
    RemoveTestService();
    std::remove(calls_.c_str());
  }
  void TearDown() override { RemoveTestService(); }

  // Bounded: a service that never gets there fails the test.
  bool WaitForState(ServiceState wanted) {
    return testing::WaitForServiceState(*manager_, kName, wanted);
  }
  void RemoveTestService() { testing::RemoveServiceIfThere(*manager_, kName); }

  std::string Calls() const {
    std::ifstream in(calls_);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
  }

  OpenedRegistry registry_ = OpenDefaultRegistry();
  std::unique_ptr<ServiceManager> manager_;
  const std::string calls_ = testing::BesideRunner("host_test_service.calls");
};

TEST_F(ServiceProcessTest, TheManagerStartsPausesContinuesAndStopsTheHostedService) {
  manager_->Register(
      {kName, "Quarrin Host Test Service", testing::BesideRunner("host_test_service.exe")});
  manager_->Start(kName);
  ASSERT_TRUE(WaitForState(ServiceState::kRunning));
  manager_->Control(kName, kControlPause);
  EXPECT_TRUE(WaitForState(ServiceState::kPaused));
  manager_->Control(kName, kControlContinue);
  EXPECT_TRUE(WaitForState(ServiceState::kRunning));
  manager_->Control(kName, kControlInterrogate);
  manager_->Control(kName, 130);  // custom: accepted, changes nothing
  EXPECT_EQ(manager_->Query(kName), ServiceState::kRunning);
  // The loop waits an hour for its next run; the stop wakes it.
  manager_->Control(kName, kControlStop);
  EXPECT_TRUE(WaitForState(ServiceState::kStopped));
  EXPECT_EQ(Calls(), "start\nexecute\nstop\n");
}

TEST_F(ServiceProcessTest, StartedByHandTheProcessCannotConnectAndEnds) {
  const std::string command = "\"" + testing::BesideRunner("host_test_service.exe") + "\" >NUL 2>&1";
  EXPECT_EQ(std::system(command.c_str()), 1);
  EXPECT_EQ(Calls(), "");
}

}  // namespace
}  // namespace quarrin
