// The inventory reports to the central web service: the machine's details
// with its administrative attributes, and its applications. The daily run
// sends both; the info and apps replies of the HTTP interface send one each.
#ifndef QUARRIN_REPORT_INVENTORY_REPORT_H_
#define QUARRIN_REPORT_INVENTORY_REPORT_H_

#include <cstdint>
#include <string>

#include "core/agent_metrics.h"
#include "inventory/installed_apps.h"
#include "platform/time/date_time.h"
#include "platform/regional/regional_settings.h"
#include "report/reporting_context.h"

namespace quarrin {

// The applications reported, in the order and with the names sent; the
// SQLNS entry of the record is not reported.
struct ReportedApplication {
  const char* name;
  tAppAttributes tInstalledApps::*entry;
};
inline constexpr ReportedApplication kReportedApplications[] = {
    {"Access", &tInstalledApps::Access},
    {"Dispense", &tInstalledApps::Dispense},
    {"EtherPeek", &tInstalledApps::EtherPeek},
    {"Excel", &tInstalledApps::Excel},
    {"InternetExplorer", &tInstalledApps::InternetExplorer},
    {"Java", &tInstalledApps::Java},
    {"iTunes", &tInstalledApps::iTunes},
    {"Outlook", &tInstalledApps::Outlook},
    {"PowerPoint", &tInstalledApps::PowerPoint},
    {"MSProject", &tInstalledApps::MSProject},
    {"Word", &tInstalledApps::Word},
    {"CiscoVPN", &tInstalledApps::CiscoVPN},
    {"QuarrinSrvc", &tInstalledApps::QuarrinSrvc},
};

// The warning of a report sent without its acquisition date, which did not
// read as a date.
inline constexpr uint32_t kUnreadableDateEvent = 6;

// The acquisition date as it is sent: 0.0 for empty text, else the text read
// in the short date format (today's century for a two-digit year). Throws
// std::runtime_error "'<text>' is not a valid date" otherwise.
DateTime AcquisitionDateValue(const std::string& text, const RegionalSettings& settings,
                              DateTime today);

// Collects the machine's details and sends them with PutPCDetails, then,
// after context.pause_between_detail_calls, its attributes (the in-memory
// ones) with PutPCDetails2. What the service answers is not looked at and a
// failed call is dropped without a trace (a failed PutPCDetails means no
// PutPCDetails2). A failure before the first call (the details collection)
// sends nothing and is written to the event log: error, category 0, ID 999,
// "E.Message1=" + its message. An acquisition date that is not a date is
// sent as none (0.0), with a warning (kUnreadableDateEvent) naming the text.
// Never throws. Safe to run on several threads at once. Returns kOk when
// both calls went through, kFailed otherwise.
StepOutcome ReportPCDetails(const ReportingContext& context);

// Collects the applications and the machine's details, then sends one
// PutApplicationDetails per application found (its version not empty), in
// the order of kReportedApplications. A failed call is dropped without a
// trace and the next application is sent, except after a call that ran out
// of time: the rest of the run is then left out, so that an unresponsive
// service costs one time-out rather than thirteen. A failure of the
// collections is thrown to the caller, before anything is sent.
// Safe to run on several threads at once. Returns kOk when every call went
// through, kFailed otherwise.
StepOutcome ReportApplications(const ReportingContext& context);

}  // namespace quarrin

#endif  // QUARRIN_REPORT_INVENTORY_REPORT_H_
