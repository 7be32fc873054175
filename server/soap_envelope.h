// The inventory service's side of its SOAP 1.1 contract (RPC style, section-5
// encoding): reading a request envelope into the operation and its data
// object, and writing the result and fault envelopes.
//
// A request is read by names and namespaces, not by prefixes or layout, so
// that any SOAP 1.1 client that follows the service description is
// understood: the agent's envelopes, with the data object as a
// multi-reference value (href="#1" pointing at an element of the Body), and
// a toolkit's, with the object inline. The operation is the Body's first
// element, in urn:QuarrinIntf-IQuarrin; its parameters are found by name
// (guid, then PCDetails, PCDetails2 or ApplicationDetails). The object's
// properties are found by name in any order; a property that is absent or
// xsi:nil keeps its empty value (empty text, 0, false, no date). An xsi:type,
// where one is written, must be the one of the contract.
//
// Property values: xsd:int a decimal 32-bit number, xsd:boolean true, false,
// 1 or 0, xsd:dateTime yyyy-mm-ddThh:mm:ss with optional fraction and zone.
// The zone is not applied: the agent sends its local time marked "Z", so the
// date-time is kept as written.
#ifndef QUARRIN_SERVER_SOAP_ENVELOPE_H_
#define QUARRIN_SERVER_SOAP_ENVELOPE_H_

#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <variant>

#include "inventory/pc_details.h"
#include "platform/time/date_time.h"
#include "report/inventory_service.h"

namespace quarrin {

// A request that cannot be served: the text is the fault string. The fault
// code is "Client" for what the caller sent, "VersionMismatch" for an
// envelope of another SOAP version.
class SoapRequestError : public std::runtime_error {
 public:
  SoapRequestError(std::string code, const std::string& text)
      : std::runtime_error(text), code_(std::move(code)) {}
  const std::string& code() const { return code_; }

 private:
  std::string code_;
};

struct SoapRequest {
  std::string operation;  // "PutPCDetails", "PutPCDetails2", "PutApplicationDetails"
  std::string guid;
  std::variant<tPCDetails, tPCDetails2, tApplicationDetails> data;
};

// Reads a request envelope. Throws SoapRequestError for a body that is not
// XML, carries a document type declaration (which SOAP forbids, and with it
// entity definitions), is not a SOAP 1.1 envelope, names no operation of
// IQuarrin, lacks a parameter, or holds a value of the wrong type.
SoapRequest ReadSoapRequest(std::string_view body);

// The reply envelope of `operation` carrying `rc`.
std::string SoapResultEnvelope(std::string_view operation, tRC rc);

// A fault envelope: faultcode SOAP-ENV:<code>, faultstring <text>.
std::string SoapFaultEnvelope(std::string_view code, std::string_view text);

// The date-time that an xsd:dateTime text writes, as written (its zone not
// applied); nullopt when it is not one or names a day that does not exist.
std::optional<DateTime> ParseSoapDateTime(std::string_view text);

}  // namespace quarrin

#endif  // QUARRIN_SERVER_SOAP_ENVELOPE_H_
