// What the inventory reports and the service-desk lookup work with.
#ifndef QUARRIN_REPORT_REPORTING_CONTEXT_H_
#define QUARRIN_REPORT_REPORTING_CONTEXT_H_

#include <chrono>
#include <functional>
#include <string>

#include "core/agent_state.h"
#include "core/event_writer.h"
#include "inventory/bios_serial.h"
#include "platform/time/clock.h"
#include "platform/net/http_client.h"
#include "platform/registry/registry_store.h"
#include "report/call_limits.h"

namespace quarrin {

// The pause between the two calls of the PC details report.
inline constexpr std::chrono::milliseconds kPauseBetweenDetailCalls{100};

// Every pointer must be set and outlive the calls. All the pointed-to
// objects are safe for concurrent use, so one context serves the service
// thread and the HTTP threads at once.
struct ReportingContext {
  RegistryStore* registry = nullptr;  // the machine's details, regional settings, attributes
  const EventWriter* events = nullptr;
  HttpClient* http = nullptr;  // the inventory service and the service desk
  Clock* clock = nullptr;      // today, for two-digit years in dates
  // The attributes in memory, the deployment settings (the inventory
  // service's and the service desk's hosts) and the version text.
  AgentState* state = nullptr;

  // The VMware probe of the details collection; empty: the real one.
  std::function<bool()> vmware_probe;
  std::chrono::milliseconds pause_between_detail_calls = kPauseBetweenDetailCalls;
  CallLimits inventory_limits = kInventoryServiceLimits;
  CallLimits service_desk_limits = kServiceDeskLimits;
  // Where the BIOS serial number is read from.
  std::string bios_serial_path = kBiosSerialPath;
  // The reachability test (host, timeout ms, payload size); empty: PingHost.
  std::function<bool(const std::string&, int, int)> ping;
};

}  // namespace quarrin

#endif  // QUARRIN_REPORT_REPORTING_CONTEXT_H_
