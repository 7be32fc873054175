#include "report/inventory_service.h"

#include <array>
#include <cstdint>
#include <cstdio>
#include <sstream>
#include <pugixml.hpp>
#include <utility>
#include <vector>

#include "platform/text/utf8.h"
#include "report/xml_text.h"

namespace quarrin {

namespace {

constexpr char kEnvelopeNs[] = "http://schemas.xmlsoap.org/soap/envelope/";
constexpr char kEncodingNs[] = "http://schemas.xmlsoap.org/soap/encoding/";
constexpr char kSchemaNs[] = "http://www.w3.org/2001/XMLSchema";
constexpr char kSchemaInstanceNs[] = "http://www.w3.org/2001/XMLSchema-instance";
constexpr char kActionPrefix[] = "urn:QuarrinIntf-IQuarrin#";
constexpr char kWsdlService[] = "IQuarrinservice";
constexpr char kWsdlPort[] = "IQuarrinPort";

constexpr std::array<std::string_view, 13> kRcNames = {
    "rcOK",
    "rcFailed",
    "rcFailedGuid",
    "rcFailedInsert",
    "rcFailedUpdate",
    "rcFailedDelete",
    "rcFailedNotFound",
    "rcFailedSelectUnknown",
    "rcFailedInsertUnknown",
    "rcFailedInsetAlreadyExists",
    "rcFailedEventDoesNotExist",
    "rcFailedTransactionsAttached",
    "rcFailedSQLSelectError",
};

// The length of the UTF-8 sequence at text[i] when it is a well-formed one
// naming a character XML 1.0 can carry; 0 otherwise.
size_t XmlCharLength(std::string_view text, size_t i) {
  const unsigned char lead = static_cast<unsigned char>(text[i]);
  if (lead < 0x80) return lead >= 0x20 || lead == '\t' || lead == '\n' || lead == '\r' ? 1 : 0;
  const std::string_view rest = text.substr(i);
  // U+FFFE and U+FFFF are no characters of XML.
  if (rest.starts_with("\xEF\xBF\xBE") || rest.starts_with("\xEF\xBF\xBF")) return 0;
  return Utf8SequenceLength(rest);
}

// The registry's text as a wide string would carry it: what is not UTF-8,
// and the control characters that XML cannot hold, become U+FFFD.
std::string WireText(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size();) {
    size_t length = XmlCharLength(text, i);
    if (length == 0) {
      out += "\xEF\xBF\xBD";
      ++i;
    } else {
      out.append(text.substr(i, length));
      i += length;
    }
  }
  return out;
}

// One published property: its element name, xsd type and wire text.
struct SoapProperty {
  const char* name;
  const char* type;
  std::string text;
};

struct SoapObject {
  const char* type;  // the class's XML name in urn:QuarrinIntf
  std::vector<SoapProperty> properties;
};

SoapProperty String(const char* name, const std::string& value) {
  return {name, "string", WireText(value)};
}
SoapProperty Int(const char* name, int32_t value) { return {name, "int", std::to_string(value)}; }
SoapProperty Boolean(const char* name, bool value) {
  return {name, "boolean", value ? "true" : "false"};
}
SoapProperty Date(const char* name, DateTime value) {
  return {name, "dateTime", SoapDateTimeText(value)};
}

SoapObject Serialise(const tPCDetails& d) {
  return {"tPCDetails",
          {String("MachineName", d.MachineName), String("LastLogin", d.LastLogin),
           String("RegisteredOwner", d.RegisteredOwner),
           String("RegisteredOrganisation", d.RegisteredOrganisation), Int("CPUSpeed", d.CPUSpeed),
           String("CPUId", d.CPUId), String("CPUName", d.CPUName),
           String("CurrentVersion", d.CurrentVersion), Int("TotCPU", d.TotCPU),
           String("ProductID", d.ProductID), String("ProductName", d.ProductName),
           String("ServicePack", d.ServicePack), String("SourcePath", d.SourcePath),
           String("IEVersion", d.IEVersion), String("PhysicalMemory", d.PhysicalMemory),
           Boolean("VMWare", d.VMWare), Date("InstallDate", d.InstallDate),
           Int("NBNodeType", d.NBNodeType)}};
}

SoapObject Serialise(const tPCDetails2& d) {
  return {"tPCDetails2",
          {String("MachineName", d.MachineName), Date("AquisitionDate", d.AquisitionDate),
           String("Comments", d.Comments), String("SerialNo", d.SerialNo)}};
}

SoapObject Serialise(const tApplicationDetails& d) {
  return {"tApplicationDetails",
          {String("MachineName", d.MachineName), String("Application", d.Application),
           String("Path", d.Path), String("Version", d.Version)}};
}

void SetText(pugi::xml_node element, const char* type, const std::string& text) {
  element.append_attribute("xsi:type") = type;
  element.text().set(text.c_str());
}

// The request envelope: the operation with the guid and a reference to the
// data object, which follows it in the body as a multi-reference value.
std::string Envelope(std::string_view operation, const std::string& guid, const char* parameter,
                     const SoapObject& object) {
  pugi::xml_document doc;
  pugi::xml_node declaration = doc.append_child(pugi::node_declaration);
  declaration.append_attribute("version") = "1.0";
  declaration.append_attribute("encoding") = "utf-8";
  pugi::xml_node envelope = doc.append_child("SOAP-ENV:Envelope");
  envelope.append_attribute("xmlns:SOAP-ENV") = kEnvelopeNs;
  envelope.append_attribute("xmlns:xsd") = kSchemaNs;
  envelope.append_attribute("xmlns:xsi") = kSchemaInstanceNs;
  envelope.append_attribute("xmlns:SOAP-ENC") = kEncodingNs;
  pugi::xml_node body = envelope.append_child("SOAP-ENV:Body");
  body.append_attribute("SOAP-ENV:encodingStyle") = kEncodingNs;

  pugi::xml_node call = body.append_child(("NS1:" + std::string(operation)).c_str());
  call.append_attribute("xmlns:NS1") = kIQuarrinNamespace;
  SetText(call.append_child("guid"), "xsd:string", WireText(guid));
  call.append_child(parameter).append_attribute("href") = "#1";

  const std::string type = std::string("NS2:") + object.type;
  pugi::xml_node value = body.append_child(type.c_str());
  value.append_attribute("id") = "1";
  value.append_attribute("xsi:type") = type.c_str();
  value.append_attribute("xmlns:NS2") = kQuarrinTypesNamespace;
  for (const SoapProperty& p : object.properties) {
    SetText(value.append_child(p.name), (std::string("xsd:") + p.type).c_str(), p.text);
  }

  std::ostringstream text;
  doc.save(text, "", pugi::format_raw | pugi::format_no_empty_element_tags, pugi::encoding_utf8);
  return text.str();
}

// The namespace an element's name is in, from the declarations in scope.
std::string_view NamespaceOf(pugi::xml_node element) {
  std::string_view name = element.name();
  size_t colon = name.find(':');
  std::string declaration =
      colon == std::string_view::npos ? "xmlns" : "xmlns:" + std::string(name.substr(0, colon));
  for (pugi::xml_node n = element; n; n = n.parent()) {
    pugi::xml_attribute a = n.attribute(declaration.c_str());
    if (a) return a.value();
  }
  return "";
}

std::string_view LocalName(pugi::xml_node element) {
  std::string_view name = element.name();
  size_t colon = name.find(':');
  return colon == std::string_view::npos ? name : name.substr(colon + 1);
}

bool Is(pugi::xml_node element, std::string_view ns, std::string_view local) {
  return element.type() == pugi::node_element && LocalName(element) == local &&
         NamespaceOf(element) == ns;
}

pugi::xml_node FirstElement(pugi::xml_node parent) {
  for (pugi::xml_node child : parent.children()) {
    if (child.type() == pugi::node_element) return child;
  }
  return {};
}

// The child element of that local name, whatever its namespace.
pugi::xml_node ChildNamed(pugi::xml_node parent, std::string_view local) {
  for (pugi::xml_node child : parent.children()) {
    if (child.type() == pugi::node_element && LocalName(child) == local) return child;
  }
  return {};
}

// The soap Body of a parsed reply; an empty handle when the document is not
// a SOAP 1.1 envelope.
pugi::xml_node BodyOf(const pugi::xml_document& doc) {
  pugi::xml_node envelope = doc.document_element();
  if (!Is(envelope, kEnvelopeNs, "Envelope")) return {};
  for (pugi::xml_node child : envelope.children()) {
    if (Is(child, kEnvelopeNs, "Body")) return child;
  }
  return {};
}

[[noreturn]] void ThrowFault(pugi::xml_node fault) {
  throw SoapFault(std::string(TrimControls(XmlTextContent(ChildNamed(fault, "faultcode")))),
                  std::string(TrimControls(XmlTextContent(ChildNamed(fault, "faultstring")))));
}

// The element an accessor stands for: itself, or the multi-reference value
// its href names among the body's children.
pugi::xml_node Dereference(pugi::xml_node body, pugi::xml_node accessor) {
  std::string_view href = accessor.attribute("href").value();
  if (href.empty() || href.front() != '#') return accessor;
  href.remove_prefix(1);
  for (pugi::xml_node child : body.children()) {
    if (child.type() == pugi::node_element && href == child.attribute("id").value()) return child;
  }
  return {};
}

}  // namespace

tRC ReadSoapReply(std::string_view operation, const std::string& url,
                  const HttpResponse& response) {
  const std::string context = std::string(operation) + " at " + url + ": ";
  pugi::xml_document doc;
  pugi::xml_parse_result parsed = doc.load_buffer(response.body.data(), response.body.size());
  pugi::xml_node body = parsed ? BodyOf(doc) : pugi::xml_node();
  pugi::xml_node first = FirstElement(body);
  if (Is(first, kEnvelopeNs, "Fault")) ThrowFault(first);
  if (response.status < 200 || response.status > 299) {
    throw SoapError(context + "HTTP status " + std::to_string(response.status));
  }
  if (!parsed) {
    throw SoapError(context + "the reply is not XML (" + parsed.description() + " at offset " +
                    std::to_string(parsed.offset) + ")");
  }
  if (!body) throw SoapError(context + "the reply is not a SOAP 1.1 envelope");
  pugi::xml_node result = Dereference(body, FirstElement(first));
  if (!result) throw SoapError(context + "the reply has no result");
  std::string text(TrimControls(XmlTextContent(result)));
  std::optional<tRC> rc = tRCFromName(text);
  if (!rc) throw SoapError(context + "the reply's result '" + Clip(text) + "' is not a tRC value");
  return *rc;
}

std::string EndpointFromDescription(const std::string& url, const HttpResponse& response) {
  const std::string context = "service description " + url + ": ";
  if (response.status != 200) {
    throw SoapError(context + "HTTP status " + std::to_string(response.status));
  }
  pugi::xml_document doc;
  pugi::xml_parse_result parsed = doc.load_buffer(response.body.data(), response.body.size());
  if (!parsed) throw SoapError(context + "not XML (" + parsed.description() + ")");
  for (pugi::xml_node service : doc.document_element().children()) {
    if (LocalName(service) != "service" ||
        std::string_view(service.attribute("name").value()) != kWsdlService) {
      continue;
    }
    for (pugi::xml_node port : service.children()) {
      if (LocalName(port) != "port" ||
          std::string_view(port.attribute("name").value()) != kWsdlPort) {
        continue;
      }
      std::string location = ChildNamed(port, "address").attribute("location").value();
      if (!location.empty()) return location;
    }
  }
  throw SoapError(context + "no address of the port " + kWsdlPort + " of the service " +
                  kWsdlService);
}

namespace {

class SoapProxy final : public IQuarrin {
 public:
  // Posts to `endpoint`, or, when it is empty, to the endpoint that the
  // service description at `description` names.
  SoapProxy(const InventoryServiceLink& link, std::string endpoint, std::string description)
      : link_(link), endpoint_(std::move(endpoint)), description_(std::move(description)) {}

  tRC PutPCDetails(const std::string& guid, const tPCDetails& PCDetails) override {
    return Call("PutPCDetails", guid, "PCDetails", Serialise(PCDetails));
  }
  tRC PutPCDetails2(const std::string& guid, const tPCDetails2& PCDetails2) override {
    return Call("PutPCDetails2", guid, "PCDetails2", Serialise(PCDetails2));
  }
  tRC PutApplicationDetails(const std::string& guid,
                            const tApplicationDetails& ApplicationDetails) override {
    return Call("PutApplicationDetails", guid, "ApplicationDetails", Serialise(ApplicationDetails));
  }

 private:
  HttpRequest Request(const std::string& url) const {
    HttpRequest request;
    request.url = url;
    request.connect_timeout = link_.limits.connect_timeout;
    request.total_timeout = link_.limits.total_timeout;
    request.max_body_bytes = link_.limits.max_reply_bytes;
    // A redirected POST would arrive as a GET; a move of the service is an error.
    request.max_redirects = 0;
    return request;
  }

  tRC Call(std::string_view operation, const std::string& guid, const char* parameter,
           const SoapObject& object) {
    if (endpoint_.empty() && !description_.empty()) {
      endpoint_ = EndpointFromDescription(description_, link_.http->Send(Request(description_)));
    }
    HttpRequest request = Request(endpoint_);
    request.method = HttpMethod::kPost;
    request.headers = {{"Content-Type", "text/xml; charset=utf-8"},
                       {"SOAPAction", "\"" + (kActionPrefix + std::string(operation)) + "\""}};
    request.body = Envelope(operation, guid, parameter, object);
    return ReadSoapReply(operation, endpoint_, link_.http->Send(request));
  }

  InventoryServiceLink link_;
  std::string endpoint_;     // empty until the description has named it
  std::string description_;  // the service description, when bound through one
};

}  // namespace

std::string_view tRCName(tRC rc) { return kRcNames.at(static_cast<size_t>(rc)); }

std::optional<tRC> tRCFromName(std::string_view name) {
  for (size_t i = 0; i < kRcNames.size(); ++i) {
    if (kRcNames[i] == name) return static_cast<tRC>(i);
  }
  return std::nullopt;
}

SoapFault::SoapFault(std::string fault_code, std::string fault_string)
    : SoapError(fault_string.empty() ? "SOAP fault " + fault_code : fault_string),
      fault_code_(std::move(fault_code)),
      fault_string_(std::move(fault_string)) {}

std::string SoapDateTimeText(DateTime t) {
  const CivilTime c = DecodeDateTime(t);
  char text[32];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", c.year, c.month, c.day,
                c.hour, c.minute, c.second, c.millisecond);
  return text;
}

std::unique_ptr<IQuarrin> GetIQuarrin(bool use_wsdl, const std::string& address,
                                      const InventoryServiceLink& link) {
  if (link.http == nullptr) throw std::invalid_argument("GetIQuarrin: no HTTP client");
  if (!use_wsdl) {
    return std::make_unique<SoapProxy>(link, address.empty() ? link.inventory_url : address, "");
  }
  std::string description = address;
  if (description.empty()) {
    description = link.inventory_url;
    size_t soap = description.rfind("/soap/");
    if (soap != std::string::npos) description.replace(soap, 6, "/wsdl/");
  }
  return std::make_unique<SoapProxy>(link, "", description);
}

}  // namespace quarrin
