#include "report/inventory_report.h"

#include <exception>
#include <memory>
#include <stdexcept>
#include <thread>

#include "inventory/pc_details.h"
#include "report/inventory_service.h"

namespace quarrin {

namespace {

std::unique_ptr<IQuarrin> Proxy(const ReportingContext& c) {
  InventoryServiceLink link;
  link.http = c.http;
  link.inventory_url = c.state->deployment.inventory_url;
  link.limits = c.inventory_limits;
  return GetIQuarrin(false, "", link);
}

}  // namespace

DateTime AcquisitionDateValue(const std::string& text, const RegionalSettings& settings,
                              DateTime today) {
  if (text.empty()) return DateTime{0.0};
  DateTime date;
  if (!ParseShortDate(text, settings, today, &date)) {
    throw std::runtime_error("'" + text + "' is not a valid date");
  }
  return date;
}

StepOutcome ReportPCDetails(const ReportingContext& c) {
  tPCDetails details;
  tPCDetails2 details2;
  std::unique_ptr<IQuarrin> proxy;
  try {
    CollectPCDetails(*c.registry, &details, c.vmware_probe);
    proxy = Proxy(c);
    const tRegAttributes attributes = c.state->attributes();
    details2.MachineName = details.MachineName;
    try {
      details2.AquisitionDate = AcquisitionDateValue(
          attributes.AquisitionDate, ReadRegionalSettings(*c.registry), c.clock->Now());
    } catch (const std::runtime_error& e) {
      // Setters store any text; one bad value must not keep the machine
      // out of the inventory.
      c.events->WriteEventLog(std::string(e.what()) + "; the details are sent without the "
                              "acquisition date",
                              EventType::kWarning, 0, kUnreadableDateEvent);
    }
    details2.Comments = attributes.Comment;
    details2.SerialNo = attributes.SerialNo;
  } catch (const std::exception& e) {
    c.events->WriteEventLog(std::string("E.Message1=") + e.what(), EventType::kError, 0, 999);
    return StepOutcome::kFailed;
  } catch (...) {
    c.events->WriteEventLog("E.Message1=unknown exception", EventType::kError, 0, 999);
    return StepOutcome::kFailed;
  }
  // The service's answers and failures are not looked at: the next run
  // reports again.
  try {
    proxy->PutPCDetails(kInventoryCallerGuid, details);
    std::this_thread::sleep_for(c.pause_between_detail_calls);
    proxy->PutPCDetails2(kInventoryCallerGuid, details2);
  } catch (...) {
    return StepOutcome::kFailed;
  }
  return StepOutcome::kOk;
}

StepOutcome ReportApplications(const ReportingContext& c) {
  tInstalledApps apps;
  CollectInstalledApps(*c.registry, &apps);
  tPCDetails details;
  CollectPCDetails(*c.registry, &details, c.vmware_probe);
  std::unique_ptr<IQuarrin> proxy = Proxy(c);
  tApplicationDetails message;
  message.MachineName = details.MachineName;
  StepOutcome outcome = StepOutcome::kOk;
  for (const ReportedApplication& reported : kReportedApplications) {
    const tAppAttributes& entry = apps.*reported.entry;
    message.Application.clear();
    if (!entry.Version.empty()) {
      message.Application = reported.name;
      message.Path = entry.Path;
      message.Version = entry.Version;
    }
    if (message.Application.empty()) continue;
    try {
      proxy->PutApplicationDetails(kInventoryCallerGuid, message);
    } catch (const HttpError& e) {
      outcome = StepOutcome::kFailed;
      if (e.kind() == HttpError::Kind::kTimeout || e.kind() == HttpError::Kind::kCancelled) {
        return outcome;
      }
    } catch (...) {
      outcome = StepOutcome::kFailed;
    }
  }
  return outcome;
}

}  // namespace quarrin
