#include "server/intake.h"

#include <algorithm>

#include "platform/text/ascii.h"
#include "server/server_log.h"
#include "server/soap_envelope.h"
#include "server/wsdl.h"

namespace quarrin {

namespace {

constexpr char kXmlType[] = "text/xml; charset=utf-8";
constexpr char kBusyText[] = "the inventory service is busy; try again later";

// The operation a SOAPAction header names; empty when it names none (an
// empty action leaves the intent to the envelope).
std::string ActionOperation(std::string action) {
  if (action.size() >= 2 && action.front() == '"' && action.back() == '"') {
    action = action.substr(1, action.size() - 2);
  }
  const std::string prefix = std::string(kIQuarrinNamespace) + "#";
  if (action.rfind(prefix, 0) != 0) return action.empty() ? "" : "?" + action;
  return action.substr(prefix.size());
}

}  // namespace

std::string IntakeBusyFault() { return SoapFaultEnvelope("Server", kBusyText); }

bool InventoryIntake::Serves(const std::string& path) {
  return path == kSoapEndpointPath || path == kWsdlPath;
}

bool InventoryIntake::IsCall(std::string_view request_line) {
  constexpr std::string_view kMethod = "POST ";
  if (request_line.substr(0, kMethod.size()) != kMethod) return false;
  std::string_view target = request_line.substr(kMethod.size());
  target = target.substr(0, target.find_first_of(" ?"));
  return target == kSoapEndpointPath;
}

void InventoryIntake::Fault(HttpServerReply& reply, unsigned status, const char* code,
                            const std::string& text) {
  ++faults_;
  reply.status = status;
  reply.content_type = kXmlType;
  reply.body = SoapFaultEnvelope(code, text);
}

void InventoryIntake::Handle(const HttpServerRequest& request, HttpServerReply& reply) {
  if (!options_.allowed_clients.empty() &&
      (!request.RemoteAddress || !options_.allowed_clients.Contains(*request.RemoteAddress))) {
    Fault(reply, 403, "Client", "this client may not report to the inventory service");
    return;
  }
  if (request.Path == kWsdlPath) {
    if (request.Command != "GET" && request.Command != "HEAD") {
      reply.status = 405;
      reply.content_type = "text/plain";
      reply.body = "the service description is read with GET\r\n";
      reply.headers = {{"Allow", "GET, HEAD"}};
      return;
    }
    const std::optional<std::string> endpoint =
        EndpointUrlFor(options_.https, request.Header("Host"));
    if (!endpoint) {
      reply.status = 400;
      reply.content_type = "text/plain";
      reply.body = "the Host header is missing or not a host name and port\r\n";
      return;
    }
    reply.content_type = kXmlType;
    reply.body = ServiceDescription(*endpoint);
    return;
  }
  if (request.Command != "POST") {
    Fault(reply, 405, "Client", "the SOAP endpoint takes POST requests");
    reply.headers = {{"Allow", "POST"}};
    return;
  }
  const std::string type = LowerAscii(request.Header("Content-Type"));
  if (type.rfind("text/xml", 0) != 0) {
    Fault(reply, 415, "Client",
          "the content type '" + request.Header("Content-Type") + "' is not text/xml (SOAP 1.1)");
    return;
  }
  SoapRequest call;
  try {
    call = ReadSoapRequest(request.FormParams);
  } catch (const SoapRequestError& e) {
    Fault(reply, 500, e.code().c_str(), e.what());
    return;
  }
  const std::string action = ActionOperation(request.Header("SOAPAction"));
  if (!action.empty() && action != call.operation) {
    Fault(reply, 500, "Client",
          "the SOAPAction '" + request.Header("SOAPAction") + "' does not name " + call.operation);
    return;
  }
  const auto& accepted = options_.accepted_callers;
  if (std::find(accepted.begin(), accepted.end(), call.guid) == accepted.end()) {
    reply.content_type = kXmlType;
    reply.body = SoapResultEnvelope(call.operation, tRC::rcFailedGuid);
    return;
  }
  try {
    const std::string& sender = request.RemoteIP;
    if (const auto* d = std::get_if<tPCDetails>(&call.data)) store_.PutDetails(*d, sender);
    if (const auto* a = std::get_if<tPCDetails2>(&call.data)) store_.PutAttributes(*a, sender);
    if (const auto* p = std::get_if<tApplicationDetails>(&call.data)) {
      store_.PutApplication(*p, sender);
    }
  } catch (const StoreRejected& e) {
    Fault(reply, 500, "Client", e.what());
    return;
  } catch (const PgPoolExhausted&) {
    Fault(reply, 503, "Server", kBusyText);
    reply.headers = {{"Retry-After", std::to_string(kIntakeBusyRetrySeconds)}};
    return;
  } catch (const PgError& e) {
    ServerLog(std::string("intake: ") + call.operation + " from " + request.RemoteIP +
              " not stored: " + e.what());
    Fault(reply, 500, "Server", "the inventory store failed; the report was not stored");
    return;
  }
  ++stored_;
  reply.content_type = kXmlType;
  reply.body = SoapResultEnvelope(call.operation, tRC::rcOK);
}

}  // namespace quarrin
