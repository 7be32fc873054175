// Time and size limits of the agent's calls to the separate systems of the
// organisation. Every such call sets them explicitly, so that a host that
// drops packets instead of refusing the connection costs a bounded wait and
// never holds a thread for minutes.
//
//   call                         connect   in all   reply at most
//   inventory web service (SOAP)   5 s      15 s       1 MiB    each operation
//   service-desk lookup (GET)      5 s      15 s       1 MiB
//   service-desk echo (ICMP)        -        2 s         -      name lookup not included
//   update manifest (GET)          see kManifest* in update/manifest.h
//
// A time-out ends the call as a transport failure (HttpError of kind
// kTimeout); a longer reply ends it as kBodyTooLarge. The report of the
// applications stops sending after a call that timed out: the service that
// let one call run out of time would make every other one of the same run
// wait as long (see ReportApplications).
#ifndef QUARRIN_REPORT_CALL_LIMITS_H_
#define QUARRIN_REPORT_CALL_LIMITS_H_

#include <chrono>
#include <cstddef>

namespace quarrin {

struct CallLimits {
  std::chrono::milliseconds connect_timeout;  // name lookup and connection set-up
  std::chrono::milliseconds total_timeout;    // the whole exchange, connecting included
  size_t max_reply_bytes;                     // a longer reply body fails the call
};

inline constexpr CallLimits kInventoryServiceLimits{std::chrono::seconds(5),
                                                    std::chrono::seconds(15), 1u << 20};
inline constexpr CallLimits kServiceDeskLimits{std::chrono::seconds(5), std::chrono::seconds(15),
                                               1u << 20};
// The reachability test of the service desk before its lookup.
inline constexpr int kServiceDeskEchoTimeoutMs = 2000;
inline constexpr int kServiceDeskEchoSize = 40;

}  // namespace quarrin

#endif  // QUARRIN_REPORT_CALL_LIMITS_H_
