// The inventory service's endpoint: the SOAP operations of IQuarrin and the
// service description.
//
//   POST <kSoapEndpointPath>  a request envelope; 200 with the tRC result,
//                             rcFailedGuid (nothing stored) for a caller
//                             identification not accepted; a SOAP fault with
//                             500 for a request that cannot be read or stored,
//                             503 (Retry-After) when the database is busy,
//                             403 for a client outside the allowed networks
//   GET <kWsdlPath>           the description, its address the URL by which
//                             the request reached the server (Host header)
#ifndef QUARRIN_SERVER_INTAKE_H_
#define QUARRIN_SERVER_INTAKE_H_

#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "http/client_access.h"
#include "http/http_server.h"
#include "server/store.h"

namespace quarrin {

// The refusal of a call the server has no room for: 503 with Retry-After
// and this SOAP fault, from the intake when the database is busy and from
// the HTTP server's door when every place is taken.
inline constexpr int kIntakeBusyRetrySeconds = 30;
inline constexpr char kIntakeBusyType[] = "text/xml; charset=utf-8";
std::string IntakeBusyFault();

struct IntakeOptions {
  std::vector<std::string> accepted_callers;
  AddressList allowed_clients;  // empty: every client
  bool https = false;
};

// Safe for concurrent use by multiple threads.
class InventoryIntake {
 public:
  InventoryIntake(InventoryStore& store, IntakeOptions options)
      : store_(store), options_(std::move(options)) {}

  // True iff the path is one of the endpoint's.
  static bool Serves(const std::string& path);
  // True iff the request line (as sent) is a call to the endpoint.
  static bool IsCall(std::string_view request_line);
  void Handle(const HttpServerRequest& request, HttpServerReply& reply);

  // Calls answered with a result; calls refused with a fault.
  uint64_t stored() const { return stored_; }
  uint64_t faults() const { return faults_; }

 private:
  void Fault(HttpServerReply& reply, unsigned status, const char* code, const std::string& text);

  InventoryStore& store_;
  const IntakeOptions options_;
  std::atomic<uint64_t> stored_{0};
  std::atomic<uint64_t> faults_{0};
};

}  // namespace quarrin

#endif  // QUARRIN_SERVER_INTAKE_H_
