// A stand-in for the central inventory web service, on loopback. It checks
// every request against the service's contract (POST to the SOAP endpoint,
// the content type, the SOAPAction header, a SOAP 1.1 envelope with section-5
// encoding, the operation element in urn:QuarrinIntf-IQuarrin, the guid and
// the data object as a multi-reference value whose properties come in class
// order with their xsi types and well-formed values), records the calls that
// meet it and answers them with a tRC, a fault or a reply of the test's own.
// A request that breaks the contract is recorded in Violations() and answered
// with a fault. It also serves the service description.
#ifndef QUARRIN_TESTS_INVENTORY_SERVICE_DOUBLE_H_
#define QUARRIN_TESTS_INVENTORY_SERVICE_DOUBLE_H_

#include <chrono>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "tests/http_test_server.h"

namespace quarrin::testing {

// A call that met the contract.
struct SoapCall {
  std::string operation;  // "PutPCDetails", "PutPCDetails2", "PutApplicationDetails"
  std::string guid;
  std::string type;  // the data object's class: "tPCDetails", ...
  // The data object's properties: name and text, in the order received.
  std::vector<std::pair<std::string, std::string>> properties;
  std::chrono::steady_clock::time_point received;

  // The text of the property; "<missing>" when the object has none.
  std::string Property(std::string_view name) const;
};

// How the double answers a call that met the contract.
struct SoapAnswer {
  std::string result = "rcOK";       // the tRC name sent as the result
  std::optional<std::string> fault;  // a SOAP fault with this fault string instead
  std::optional<TestReply> raw;      // exactly this reply instead

  static SoapAnswer Result(std::string name);
  static SoapAnswer Fault(std::string fault_string);
  static SoapAnswer Raw(TestReply reply);
};

using SoapResponder = std::function<SoapAnswer(const SoapCall&)>;

class InventoryServiceDouble {
 public:
  static constexpr char kEndpointPath[] = "/quarrin/quarrinws.dll/soap/IQuarrin";
  static constexpr char kDescriptionPath[] = "/quarrin/quarrinws.dll/wsdl/IQuarrin";
  // The caller identification the service accepts; any other gets rcFailedGuid.
  static constexpr char kAcceptedGuid[] = "{7C3E5A10-4B2D-4E8F-9A61-0D5B3C2E1F48}";

  // Answers every call with rcOK until told otherwise.
  InventoryServiceDouble();

  std::string EndpointUrl() const { return server_.Url(kEndpointPath); }
  std::string DescriptionUrl() const { return server_.Url(kDescriptionPath); }

  void Answer(SoapAnswer answer);
  void Answer(SoapResponder responder);

  std::vector<SoapCall> Calls() const;
  // The operation of each call, in order.
  std::vector<std::string> Operations() const;
  // How each request that broke the contract broke it.
  std::vector<std::string> Violations() const;
  // Every request received, the service description's included.
  size_t RequestCount() const { return server_.RequestCount(); }

  // A reply envelope of `operation` whose response element holds `inside`
  // as written (for replies the service would not send).
  static std::string ReplyEnvelope(std::string_view operation, std::string_view inside);

 private:
  TestReply Handle(const RecordedRequest& request);

  mutable std::mutex mu_;
  SoapResponder responder_;
  std::vector<SoapCall> calls_;
  std::vector<std::string> violations_;
  HttpTestServer server_;  // last: stops its threads before the rest goes
};

}  // namespace quarrin::testing

#endif  // QUARRIN_TESTS_INVENTORY_SERVICE_DOUBLE_H_
