// The service control manager (Wine's or Windows'): a small test service
// installed, started, paused, continued, stopped and removed through it.
#include <gtest/gtest.h>

#include <filesystem>

#include "platform/registry/registry_open.h"
#include "platform/service/service_dispatch.h"
#include "platform/service/service_manager.h"
#include "platform/service/scm_test_support_windows.h"
#include "tests/test_support.h"

namespace quarrin {
namespace {

constexpr char kName[] = "QuarrinScmTestService";

class ScmServiceManagerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    manager_ = MakeServiceManager(registry_.store());
    RemoveTestService();  // a run that ended half-way
  }
  void TearDown() override { RemoveTestService(); }

  // Bounded: a service that never gets there fails the test.
  bool WaitForState(ServiceState wanted) {
    return testing::WaitForServiceState(*manager_, kName, wanted);
  }
  void RemoveTestService() { testing::RemoveServiceIfThere(*manager_, kName); }

  // The machine's own: the service keys are the manager's.
  OpenedRegistry registry_ = OpenDefaultRegistry();
  std::unique_ptr<ServiceManager> manager_;
};

TEST_F(ScmServiceManagerTest, InstallsRunsControlsAndRemovesAService) {
  ASSERT_TRUE(manager_->KeepsServiceKey());
  ServiceRegistration r;
  r.name = kName;
  r.display_name = "Quarrin SCM Test Service";
  r.image_path = testing::BesideRunner("scm_test_service.exe");
  manager_->Register(r);
  EXPECT_THROW(manager_->Register(r), ServiceManagerError);  // it exists already

  // The manager wrote the service key with the registration's values.
  RegistryStore& registry = registry_.store();
  const std::string key = "System\\CurrentControlSet\\Services\\" + std::string(kName);
  auto type = registry.GetValue(RootKey::kLocalMachine, key, "Type");
  ASSERT_TRUE(type.has_value());
  EXPECT_EQ(type->data, std::string("\x10\x01\0\0", 4));
  auto start = registry.GetValue(RootKey::kLocalMachine, key, "Start");
  ASSERT_TRUE(start.has_value());
  EXPECT_EQ(start->data, std::string("\x02\0\0\0", 4));
  auto display = registry.GetValue(RootKey::kLocalMachine, key, "DisplayName");
  ASSERT_TRUE(display.has_value());
  EXPECT_EQ(display->data.substr(0, display->data.find('\0')), r.display_name);

  EXPECT_EQ(manager_->Query(kName), ServiceState::kStopped);
  EXPECT_THROW(manager_->Control(kName, kControlStop), ServiceManagerError);  // not started

  manager_->Start(kName);
  ASSERT_TRUE(WaitForState(ServiceState::kRunning));
  EXPECT_THROW(manager_->Start(kName), ServiceManagerError);  // already running
  manager_->Control(kName, kControlPause);
  EXPECT_TRUE(WaitForState(ServiceState::kPaused));
  manager_->Control(kName, kControlContinue);
  EXPECT_TRUE(WaitForState(ServiceState::kRunning));
  manager_->Control(kName, 200);  // a custom code: accepted, nothing changes
  EXPECT_EQ(manager_->Query(kName), ServiceState::kRunning);
  manager_->Control(kName, kControlStop);
  EXPECT_TRUE(WaitForState(ServiceState::kStopped));

  manager_->Unregister(kName);
  EXPECT_EQ(manager_->Query(kName), ServiceState::kStopped);
  EXPECT_FALSE(registry.KeyExists(RootKey::kLocalMachine, key));
  EXPECT_THROW(manager_->Unregister(kName), ServiceManagerError);
  EXPECT_THROW(manager_->Start(kName), ServiceManagerError);
}

// Registered from a folder with a space in its name, the path is quoted, so
// the manager cannot take the part before the space for the program; the
// service starts from it.
TEST_F(ScmServiceManagerTest, APathWithASpaceIsRegisteredQuoted) {
  testing::TempDir dir;
  const std::string folder = dir / "Program Files";
  std::filesystem::create_directory(folder);
  const std::string program = folder + "\\scm_test_service.exe";
  std::filesystem::copy_file(testing::BesideRunner("scm_test_service.exe"), program);
  ServiceRegistration r;
  r.name = kName;
  r.display_name = "Quarrin SCM Test Service";
  r.image_path = program;
  manager_->Register(r);
  const std::string key = "System\\CurrentControlSet\\Services\\" + std::string(kName);
  auto image = registry_.store().GetValue(RootKey::kLocalMachine, key, "ImagePath");
  ASSERT_TRUE(image.has_value());
  EXPECT_EQ(image->data.substr(0, image->data.find('\0')), '"' + program + '"');
  manager_->Start(kName);
  EXPECT_TRUE(WaitForState(ServiceState::kRunning));
  manager_->Control(kName, kControlStop);
  EXPECT_TRUE(WaitForState(ServiceState::kStopped));
}

TEST_F(ScmServiceManagerTest, RequestsGoThroughTheManagerOfAnInstalledServiceOnly) {
  RegistryStore& registry = registry_.store();
  EXPECT_FALSE(RequestServiceStart(*manager_, registry, kName));
  manager_->Register(
      {kName, "Quarrin SCM Test Service", testing::BesideRunner("scm_test_service.exe")});
  EXPECT_TRUE(RequestServiceStart(*manager_, registry, kName));
  ASSERT_TRUE(WaitForState(ServiceState::kRunning));
  EXPECT_TRUE(RequestServiceStop(*manager_, registry, kName));
  EXPECT_TRUE(WaitForState(ServiceState::kStopped));
}

TEST(ServiceDispatchTest, AProcessNotStartedByTheManagerCannotConnect) {
  bool ran = false;
  auto failure = DispatchService(kName, [](uint32_t) {}, [&] { ran = true; });
  ASSERT_TRUE(failure.has_value());
  EXPECT_FALSE(failure->empty());
  EXPECT_FALSE(ran);
}

TEST(ServiceDispatchTest, InTheForegroundTheServiceRunsWithoutTheManager) {
  testing::ScopedEnv scm("QUARRIN_SCM", "quarrinscmtestservice");  // any case
  bool ran = false;
  EXPECT_EQ(DispatchService(kName, [](uint32_t) {}, [&] { ran = true; }), std::nullopt);
  EXPECT_TRUE(ran);
}

}  // namespace
}  // namespace quarrin
