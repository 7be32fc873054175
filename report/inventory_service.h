// The client side of the central inventory web service: the interface
// IQuarrin with its three operations, the result enumeration tRC and the data
// classes that travel as parameters.
//
// Each operation is one HTTP POST of a SOAP 1.1 envelope, RPC style with
// section-5 encoding, to the endpoint URL:
//
//   Content-Type: text/xml; charset=utf-8
//   SOAPAction: "urn:QuarrinIntf-IQuarrin#PutPCDetails"
//
//   <SOAP-ENV:Envelope xmlns:SOAP-ENV=... xmlns:xsd=... xmlns:xsi=... xmlns:SOAP-ENC=...>
//    <SOAP-ENV:Body SOAP-ENV:encodingStyle="http://schemas.xmlsoap.org/soap/encoding/">
//     <NS1:PutPCDetails xmlns:NS1="urn:QuarrinIntf-IQuarrin">
//      <guid xsi:type="xsd:string">{...}</guid>
//      <PCDetails href="#1"/>
//     </NS1:PutPCDetails>
//     <NS2:tPCDetails id="1" xsi:type="NS2:tPCDetails" xmlns:NS2="urn:QuarrinIntf">
//      <MachineName xsi:type="xsd:string">KALDERN-PC07</MachineName>
//      ... every property in class order, each with its xsi:type ...
//     </NS2:tPCDetails>
//    </SOAP-ENV:Body>
//   </SOAP-ENV:Envelope>
//
// Strings go out as UTF-8 (a byte sequence that is not UTF-8 becomes
// U+FFFD), integers in decimal, booleans as true or false, date-times as
// "yyyy-mm-ddThh:nn:ss.zzzZ" of the local value as it stands (no zone
// conversion; the date-time 0.0 is 1899-12-30T00:00:00.000Z).
#ifndef QUARRIN_REPORT_INVENTORY_SERVICE_H_
#define QUARRIN_REPORT_INVENTORY_SERVICE_H_

#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

#include "inventory/pc_details.h"
#include "platform/time/date_time.h"
#include "platform/net/http_client.h"
#include "report/call_limits.h"

namespace quarrin {

inline constexpr char kIQuarrinNamespace[] = "urn:QuarrinIntf-IQuarrin";
inline constexpr char kQuarrinTypesNamespace[] = "urn:QuarrinIntf";
// The identification the agent passes as `guid` to every operation.
inline constexpr char kInventoryCallerGuid[] = "{7C3E5A10-4B2D-4E8F-9A61-0D5B3C2E1F48}";

// The result of every operation, carried on the wire as its name.
enum class tRC {
  rcOK,
  rcFailed,
  rcFailedGuid,
  rcFailedInsert,
  rcFailedUpdate,
  rcFailedDelete,
  rcFailedNotFound,
  rcFailedSelectUnknown,
  rcFailedInsertUnknown,
  rcFailedInsetAlreadyExists,
  rcFailedEventDoesNotExist,
  rcFailedTransactionsAttached,
  rcFailedSQLSelectError,
};

// "rcOK" and so on.
std::string_view tRCName(tRC rc);
// The value of a name, compared exactly; nullopt for any other text.
std::optional<tRC> tRCFromName(std::string_view name);

// The data classes. tPCDetails is the machine's record (inventory/pc_details.h),
// which has the properties of its class in the same order.
struct tPCDetails2 {
  std::string MachineName;
  DateTime AquisitionDate;
  std::string Comments;
  std::string SerialNo;
};

struct tApplicationDetails {
  std::string MachineName;
  std::string Application;
  std::string Path;
  std::string Version;
};

// A reply that does not carry a result: an HTTP status other than 2xx, a
// body that is not a SOAP 1.1 envelope, no result element, or a result that
// is not a tRC name. The message names the operation and what was wrong.
class SoapError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The service answered with a SOAP fault. what() is the fault string (or
// "SOAP fault <code>" when it has none).
class SoapFault : public SoapError {
 public:
  SoapFault(std::string fault_code, std::string fault_string);
  const std::string& fault_code() const { return fault_code_; }
  const std::string& fault_string() const { return fault_string_; }

 private:
  std::string fault_code_;
  std::string fault_string_;
};

// The operations. Each returns the service's tRC, whatever it is; a fault or
// a reply without a result throws SoapError (SoapFault for a fault), a call
// that got no reply throws HttpError. A proxy is used by one thread at a time.
class IQuarrin {
 public:
  virtual ~IQuarrin() = default;
  virtual tRC PutPCDetails(const std::string& guid, const tPCDetails& PCDetails) = 0;
  virtual tRC PutPCDetails2(const std::string& guid, const tPCDetails2& PCDetails2) = 0;
  virtual tRC PutApplicationDetails(const std::string& guid,
                                    const tApplicationDetails& ApplicationDetails) = 0;
};

// How a proxy reaches the service.
struct InventoryServiceLink {
  HttpClient* http = nullptr;  // the transport; stays the caller's and must outlive the proxy
  std::string inventory_url;   // the SOAP endpoint when no address is given (InventoryURL)
  CallLimits limits = kInventoryServiceLimits;
};

// A proxy of the service. With use_wsdl clear it posts to `address`, or to
// link.inventory_url when address is empty. With use_wsdl set, `address` (by
// default link.inventory_url with its last "/soap/" made "/wsdl/") is the
// service description: the first call fetches it and posts to the location
// of its service "IQuarrinservice", port "IQuarrinPort"; a description that
// cannot be fetched or has no such port fails that call with SoapError or
// HttpError, and the next call tries again.
std::unique_ptr<IQuarrin> GetIQuarrin(bool use_wsdl, const std::string& address,
                                      const InventoryServiceLink& link);

// The result of an operation from the service's reply, as every operation
// reads it; throws SoapFault, or SoapError naming the operation and url.
tRC ReadSoapReply(std::string_view operation, const std::string& url,
                  const HttpResponse& response);

// The endpoint that the service description fetched from url names for the
// port of IQuarrin; throws SoapError when there is none.
std::string EndpointFromDescription(const std::string& url, const HttpResponse& response);

// The text of a date-time as it goes on the wire: "yyyy-mm-ddThh:nn:ss.zzzZ".
std::string SoapDateTimeText(DateTime t);

}  // namespace quarrin

#endif  // QUARRIN_REPORT_INVENTORY_SERVICE_H_
