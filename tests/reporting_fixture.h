// The world the inventory reports and the service-desk lookup run in during
// tests: a registry holding the workstation of
// tests/fixtures/report_workstation.reg and the agent's service key, an event
// log, a fake clock, the agent's state, and the two separate systems as
// doubles on loopback. The echo goes to 127.0.0.1 for real; the fixture
// counts the echoes.
#ifndef QUARRIN_TESTS_REPORTING_FIXTURE_H_
#define QUARRIN_TESTS_REPORTING_FIXTURE_H_

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "core/attributes.h"
#include "core/registry.h"
#include "platform/eventlog/event_log.h"
#include "platform/time/fake_clock.h"
#include "platform/eventlog/memory_event_log_double.h"
#include "platform/registry/reg_file.h"
#include "platform/registry/registry_store.h"
#include "platform/registry/scratch_registry_double.h"
#include "report/ping_host.h"
#include "report/reporting_context.h"
#include "tests/inventory_service_double.h"
#include "tests/service_desk_double.h"
#include "tests/test_support.h"

namespace quarrin::testing {

class ReportingFixture : public ::testing::Test {
 protected:
  ReportingFixture()
      : store_(OpenScratchRegistryStore(dir_.path())),
        log_(std::make_unique<MemoryEventLog>()),
        clock_(EncodeDateTime({2026, 3, 10, 2, 15, 0})) {
    ApplyRegChanges(
        *store_, ParseRegFile(ReadFileText(SourcePath("tests/fixtures/report_workstation.reg"))));
    state_.version_text = "1.0.0.0";
    state_.deployment.inventory_url = service_.EndpointUrl();
    state_.deployment.lookup_ping_host = "127.0.0.1";
    state_.deployment.lookup_web_host = desk_.WebHost();
    state_.deployment.lookup_domain_suffix = ".corp.example";
    context_.registry = store_.get();
    context_.events = &events_;
    context_.http = &SystemHttpClient();
    context_.clock = &clock_;
    context_.state = &state_;
    context_.vmware_probe = [] { return false; };
    context_.bios_serial_path = dir_ / "product_serial";
    context_.ping = [this](const std::string& host, int timeout_ms, int size) {
      ++echoes_;
      return PingHost(host, timeout_ms, size);
    };
  }

  // Applies the changes of a .reg text (without its header line).
  void Apply(const std::string& changes) {
    ApplyRegChanges(*store_, ParseRegFile("REGEDIT4\n\n" + changes));
  }

  void SetAttributes(const std::string& serial, const std::string& acquired,
                     const std::string& comment = "") {
    tRegAttributes a;
    a.SerialNo = serial;
    a.AquisitionDate = acquired;
    a.Comment = comment;
    state_.set_attributes(a);
  }

  // A value of the service key; "<missing>" when it is not there.
  std::string Stored(const std::string& name) {
    Registry reg(*store_);
    reg.SetRootKey(RootKey::kLocalMachine);
    if (!reg.OpenKey(ServiceKeyPath(), false)) return "<no key>";
    return reg.ValueExists(name) ? reg.ReadString(name) : "<missing>";
  }

  // The texts of the service's event-log entries, oldest first.
  std::vector<std::string> Events() {
    std::vector<std::string> out;
    for (const EventRecord& e : log_->Read("TARNQuarrinSrvc")) {
      out.push_back(std::to_string(e.id) + " " + e.text);
    }
    return out;
  }

  TempDir dir_;
  std::unique_ptr<RegistryStore> store_;
  std::unique_ptr<EventLog> log_;
  EventWriter events_{*log_, "TARNQuarrinSrvc"};
  FakeClock clock_;
  AgentState state_;
  InventoryServiceDouble service_;
  ServiceDeskDouble desk_;
  std::atomic<int> echoes_{0};
  ReportingContext context_;
};

}  // namespace quarrin::testing

#endif  // QUARRIN_TESTS_REPORTING_FIXTURE_H_
