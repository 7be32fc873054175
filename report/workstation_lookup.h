// The service-desk lookup: fills the serial number and acquisition date
// attributes that are still empty, from the BIOS and from the service desk's
// record of the workstation.
//
// The service desk answers
//   GET http://<LookupWebHost>/sdw.dll/WorkStations?WorkStationName=<name><LookupDomainSuffix>
// with a document of this shape (names matched exactly, the first
// WORKSTATION read, anything else ignored):
//   <WORKSTATIONS>
//     <WORKSTATION>
//       <SERVICETAG>ABC1234</SERVICETAG>
//       <ACQUISITIONDATE>1087257600000</ACQUISITIONDATE>  (ms since 1970-01-01 UTC)
//     </WORKSTATION>
//   </WORKSTATIONS>
#ifndef QUARRIN_REPORT_WORKSTATION_LOOKUP_H_
#define QUARRIN_REPORT_WORKSTATION_LOOKUP_H_

#include <ctime>
#include <optional>
#include <pugixml.hpp>
#include <string>
#include <string_view>

#include "core/agent_metrics.h"
#include "core/deployment.h"
#include "platform/time/date_time.h"
#include "report/reporting_context.h"

namespace quarrin {

// The lookup's URL for a machine: the name in lower case, not escaped.
std::string LookupUrl(const DeploymentSettings& deployment, const std::string& machine_name);

// The local date-time of the instant `ms` milliseconds after 1970-01-01
// 00:00:00 UTC, moved by the zone offset in force at `now` (by default the
// moment of the call), not the one in force at that instant. Exactly 0 gives
// the date-time 0.0.
DateTime MillisecondsToLocalDateTime(double ms, std::time_t now = std::time(nullptr));

// The text of the element `name` (SERVICETAG, ACQUISITIONDATE) of the first
// WORKSTATION below the root WORKSTATIONS, without blanks at either end;
// nullopt when any of them is missing, the element has no content, or the
// root has another name.
std::optional<std::string> WorkstationElementText(const pugi::xml_document& reply,
                                                  std::string_view name);

// The number that an ACQUISITIONDATE text holds: a decimal number with the
// regional decimal separator, a sign and an exponent allowed, blanks around
// it ignored. Throws std::runtime_error "'<text>' is not a valid floating
// point value" for anything else (infinities and NaN included).
double ParseMilliseconds(std::string_view text, const std::string& decimal_separator);

// When the serial number or the acquisition date attribute is empty and the
// service desk answers an echo (context.ping, else PingHost, to
// LookupPingHost), fetches the workstation's record and fills them: the serial
// number from the BIOS, else from SERVICETAG; the acquisition date from
// ACQUISITIONDATE in the short date format. Then stores all attributes in
// memory and in the registry (WriteAttributes). Any failure on the way (no
// reply, an HTTP error, a document that does not parse, an unreadable BIOS
// serial, a date that is not a number) ends the lookup with nothing written
// to the registry; a serial number from the BIOS or the service tag is kept
// in memory all the same, for the day's report. Never throws, never logs.
// Runs on the service thread only. Returns kSkipped when both attributes
// were set, kFailed when the lookup ended early, kOk otherwise.
StepOutcome LookupWorkstation(const ReportingContext& context);

}  // namespace quarrin

#endif  // QUARRIN_REPORT_WORKSTATION_LOOKUP_H_
