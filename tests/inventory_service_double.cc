#include "tests/inventory_service_double.h"

#include <cctype>
#include <cstdint>
#include <map>
#include <pugixml.hpp>
#include <regex>
#include <sstream>
#include <stdexcept>

#include "platform/text/ascii.h"

namespace quarrin::testing {

namespace {

constexpr char kEnv[] = "http://schemas.xmlsoap.org/soap/envelope/";
constexpr char kEnc[] = "http://schemas.xmlsoap.org/soap/encoding/";
constexpr char kXsd[] = "http://www.w3.org/2001/XMLSchema";
constexpr char kXsi[] = "http://www.w3.org/2001/XMLSchema-instance";
constexpr char kInterface[] = "urn:QuarrinIntf-IQuarrin";
constexpr char kTypes[] = "urn:QuarrinIntf";

struct Property {
  const char* name;
  const char* type;
};

struct Operation {
  const char* name;
  const char* parameter;
  const char* type;
  std::vector<Property> properties;
};

// The contract: each operation, its parameter, its class and the class's
// properties in order.
const std::vector<Operation>& Operations() {
  static const std::vector<Operation> operations = {
      {"PutPCDetails",
       "PCDetails",
       "tPCDetails",
       {{"MachineName", "string"},
        {"LastLogin", "string"},
        {"RegisteredOwner", "string"},
        {"RegisteredOrganisation", "string"},
        {"CPUSpeed", "int"},
        {"CPUId", "string"},
        {"CPUName", "string"},
        {"CurrentVersion", "string"},
        {"TotCPU", "int"},
        {"ProductID", "string"},
        {"ProductName", "string"},
        {"ServicePack", "string"},
        {"SourcePath", "string"},
        {"IEVersion", "string"},
        {"PhysicalMemory", "string"},
        {"VMWare", "boolean"},
        {"InstallDate", "dateTime"},
        {"NBNodeType", "int"}}},
      {"PutPCDetails2",
       "PCDetails2",
       "tPCDetails2",
       {{"MachineName", "string"},
        {"AquisitionDate", "dateTime"},
        {"Comments", "string"},
        {"SerialNo", "string"}}},
      {"PutApplicationDetails",
       "ApplicationDetails",
       "tApplicationDetails",
       {{"MachineName", "string"},
        {"Application", "string"},
        {"Path", "string"},
        {"Version", "string"}}},
  };
  return operations;
}

class Violation : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

void Require(bool ok, const std::string& what) {
  if (!ok) throw Violation(what);
}

// Namespace-aware look-ups through pugixml's XPath, which resolves
// namespace-uri() from the xmlns declarations in scope.
pugi::xml_node Select(pugi::xml_node from, const std::string& xpath) {
  return from.select_node(xpath.c_str()).node();
}

std::string Xpath(std::string_view ns, std::string_view local) {
  return "*[local-name()='" + std::string(local) + "' and namespace-uri()='" + std::string(ns) +
         "']";
}

// The namespace and local name of a QName written in an attribute value.
// XPath does not show xmlns declarations as attributes, so the declarations
// in scope are gathered from the root down.
std::pair<std::string, std::string> ResolveQName(pugi::xml_node scope, std::string_view qname) {
  std::vector<pugi::xml_node> path;
  for (pugi::xml_node n = scope; n.type() == pugi::node_element; n = n.parent()) path.push_back(n);
  std::map<std::string, std::string> in_scope;
  for (auto it = path.rbegin(); it != path.rend(); ++it) {
    for (pugi::xml_attribute a : it->attributes()) {
      std::string_view name = a.name();
      if (name == "xmlns") in_scope[""] = a.value();
      if (name.rfind("xmlns:", 0) == 0) in_scope[std::string(name.substr(6))] = a.value();
    }
  }
  size_t colon = qname.find(':');
  std::string prefix(colon == std::string_view::npos ? "" : qname.substr(0, colon));
  std::string local(colon == std::string_view::npos ? qname : qname.substr(colon + 1));
  return {in_scope[prefix], local};
}

std::string XsiType(pugi::xml_node element, std::string_view expected_ns,
                    std::string_view expected_local) {
  pugi::xpath_node type = element.select_node(
      ("@*[local-name()='type' and namespace-uri()='" + std::string(kXsi) + "']").c_str());
  Require(type, std::string("<") + element.name() + "> has no xsi:type");
  auto [ns, local] = ResolveQName(element, type.attribute().value());
  Require(ns == expected_ns && local == expected_local,
          std::string("<") + element.name() + "> has xsi:type '" + type.attribute().value() +
              "' = {" + ns + "}" + local + ", not {" + std::string(expected_ns) + "}" +
              std::string(expected_local));
  return local;
}

std::vector<pugi::xml_node> ElementChildren(pugi::xml_node parent) {
  std::vector<pugi::xml_node> out;
  for (pugi::xml_node child = parent.first_child(); child; child = child.next_sibling()) {
    if (child.type() == pugi::node_element) out.push_back(child);
  }
  return out;
}

void CheckValue(const std::string& name, const std::string& type, const std::string& text) {
  static const std::regex kInt("-?[0-9]+");
  static const std::regex kDateTime(
      "[0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9]{2}:[0-9]{2}:[0-9]{2}\\.[0-9]{3}Z");
  if (type == "int") {
    Require(std::regex_match(text, kInt) && text.size() <= 11 && std::stoll(text) >= INT32_MIN &&
                std::stoll(text) <= INT32_MAX,
            name + " '" + text + "' is not an xsd:int");
  } else if (type == "boolean") {
    Require(text == "true" || text == "false", name + " '" + text + "' is not true or false");
  } else if (type == "dateTime") {
    Require(std::regex_match(text, kDateTime),
            name + " '" + text + "' is not yyyy-mm-ddThh:nn:ss.zzzZ");
  }
}

bool IsUtf8(const std::string& text) {
  // pugixml decodes leniently; text that survives the round trip unchanged
  // was well-formed UTF-8.
  return pugi::as_utf8(pugi::as_wide(text)) == text;
}

SoapCall Understand(const RecordedRequest& r) {
  Require(r.method == "POST", "method " + r.method + ", not POST");
  Require(r.path == InventoryServiceDouble::kEndpointPath, "posted to " + r.path);
  std::string content_type = LowerAscii(r.Header("Content-Type"));
  Require(content_type.rfind("text/xml", 0) == 0 &&
              content_type.find("charset=utf-8") != std::string::npos,
          "Content-Type '" + r.Header("Content-Type") + "'");
  Require(IsUtf8(r.body), "the body is not UTF-8");

  pugi::xml_document doc;
  pugi::xml_parse_result parsed =
      doc.load_buffer(r.body.data(), r.body.size(), pugi::parse_default | pugi::parse_declaration,
                      pugi::encoding_utf8);
  Require(parsed, std::string("the body is not XML: ") + parsed.description());
  pugi::xml_node declaration = doc.first_child();
  if (declaration.type() == pugi::node_declaration) {
    Require(LowerAscii(declaration.attribute("encoding").value()) == "utf-8",
            std::string("declared encoding ") + declaration.attribute("encoding").value());
  }
  pugi::xml_node envelope = Select(doc, "/" + Xpath(kEnv, "Envelope"));
  Require(envelope, "the root is not a SOAP 1.1 Envelope");
  pugi::xml_node body = Select(envelope, Xpath(kEnv, "Body"));
  Require(body, "no SOAP Body");
  std::vector<pugi::xml_node> roots = ElementChildren(body);
  Require(!roots.empty(), "an empty Body");
  pugi::xml_node call = roots.front();

  const Operation* op = nullptr;
  for (const Operation& o : Operations()) {
    if (Select(call, "self::" + Xpath(kInterface, o.name))) op = &o;
  }
  Require(op != nullptr, std::string("the operation element <") + call.name() +
                             "> is not an operation of " + kInterface);
  pugi::xpath_node style = call.select_node(
      ("(ancestor-or-self::*/@*[local-name()='encodingStyle' and namespace-uri()='" +
       std::string(kEnv) + "'])[last()]")
          .c_str());
  Require(style && std::string_view(style.attribute().value()) == kEnc,
          "the operation is not in SOAP section-5 encoding");
  std::string action = r.Header("SOAPAction");
  Require(action == "\"" + std::string(kInterface) + "#" + op->name + "\"",
          "SOAPAction '" + action + "' for " + op->name);

  std::vector<pugi::xml_node> parameters = ElementChildren(call);
  Require(parameters.size() == 2, op->name + std::string(" has ") +
                                      std::to_string(parameters.size()) + " parameters, not 2");
  Require(Select(parameters[0], "self::" + Xpath("", "guid")),
          std::string("first parameter <") + parameters[0].name() + ">, not <guid>");
  XsiType(parameters[0], kXsd, "string");
  Require(
      Select(parameters[1], "self::" + Xpath("", op->parameter)),
      std::string("second parameter <") + parameters[1].name() + ">, not <" + op->parameter + ">");
  std::string href = parameters[1].attribute("href").value();
  Require(href.size() > 1 && href[0] == '#' && !parameters[1].first_child(),
          std::string("<") + op->parameter + "> is not a bare reference (href=\"" + href + "\")");
  pugi::xpath_node_set values = body.select_nodes(("*[@id='" + href.substr(1) + "']").c_str());
  Require(values.size() == 1, "the Body holds " + std::to_string(values.size()) +
                                  " elements with id " + href.substr(1) + ", not 1");
  pugi::xml_node object = values.first().node();

  SoapCall out;
  out.operation = op->name;
  out.guid = parameters[0].text().get();
  out.type = XsiType(object, kTypes, op->type);
  std::vector<pugi::xml_node> properties = ElementChildren(object);
  Require(properties.size() == op->properties.size(),
          std::string(op->type) + " has " + std::to_string(properties.size()) +
              " properties, not " + std::to_string(op->properties.size()));
  for (size_t i = 0; i < properties.size(); ++i) {
    const Property& expected = op->properties[i];
    pugi::xml_node p = properties[i];
    Require(
        Select(p, "self::" + Xpath("", expected.name)),
        "property " + std::to_string(i + 1) + " <" + p.name() + ">, not <" + expected.name + ">");
    XsiType(p, kXsd, expected.type);
    Require(ElementChildren(p).empty(), std::string(expected.name) + " holds elements");
    std::string text = p.text().get();
    CheckValue(expected.name, expected.type, text);
    out.properties.emplace_back(expected.name, text);
  }
  return out;
}

std::string EnvelopeAround(std::string_view inside) {
  return std::string("<?xml version=\"1.0\" encoding=\"utf-8\"?>") +
         "<SOAP-ENV:Envelope xmlns:SOAP-ENV=\"" + kEnv + "\" xmlns:xsd=\"" + kXsd +
         "\" xmlns:xsi=\"" + kXsi + "\" xmlns:SOAP-ENC=\"" + kEnc + "\"><SOAP-ENV:Body" +
         " SOAP-ENV:encodingStyle=\"" + kEnc + "\">" + std::string(inside) +
         "</SOAP-ENV:Body></SOAP-ENV:Envelope>";
}

TestReply FaultReply(const std::string& fault_string) {
  pugi::xml_document escape;
  escape.append_child(pugi::node_pcdata).set_value(fault_string.c_str());
  std::ostringstream text;
  escape.save(text, "", pugi::format_raw);
  return Reply(
      500,
      EnvelopeAround("<SOAP-ENV:Fault><faultcode>SOAP-ENV:Server</faultcode><faultstring>" +
                     text.str() + "</faultstring></SOAP-ENV:Fault>"),
      "text/xml; charset=utf-8");
}

std::string Description(const std::string& endpoint) {
  return "<?xml version=\"1.0\"?>"
         "<definitions xmlns=\"http://schemas.xmlsoap.org/wsdl/\""
         " xmlns:soap=\"http://schemas.xmlsoap.org/wsdl/soap/\" name=\"IQuarrinservice\">"
         "<service name=\"IQuarrinservice\"><port name=\"IQuarrinPort\" "
         "binding=\"IQuarrinbinding\">"
         "<soap:address location=\"" +
         endpoint + "\"/></port></service></definitions>";
}

}  // namespace

std::string SoapCall::Property(std::string_view name) const {
  for (const auto& [key, value] : properties) {
    if (key == name) return value;
  }
  return "<missing>";
}

SoapAnswer SoapAnswer::Result(std::string name) {
  SoapAnswer a;
  a.result = std::move(name);
  return a;
}

SoapAnswer SoapAnswer::Fault(std::string fault_string) {
  SoapAnswer a;
  a.fault = std::move(fault_string);
  return a;
}

SoapAnswer SoapAnswer::Raw(TestReply reply) {
  SoapAnswer a;
  a.raw = std::move(reply);
  return a;
}

InventoryServiceDouble::InventoryServiceDouble()
    : responder_([](const SoapCall&) { return SoapAnswer{}; }),
      server_([this](const RecordedRequest& r) { return Handle(r); }) {}

void InventoryServiceDouble::Answer(SoapAnswer answer) {
  Answer([answer](const SoapCall&) { return answer; });
}

void InventoryServiceDouble::Answer(SoapResponder responder) {
  std::lock_guard lock(mu_);
  responder_ = std::move(responder);
}

std::vector<SoapCall> InventoryServiceDouble::Calls() const {
  std::lock_guard lock(mu_);
  return calls_;
}

std::vector<std::string> InventoryServiceDouble::Operations() const {
  std::vector<std::string> out;
  for (const SoapCall& c : Calls()) out.push_back(c.operation);
  return out;
}

std::vector<std::string> InventoryServiceDouble::Violations() const {
  std::lock_guard lock(mu_);
  return violations_;
}

std::string InventoryServiceDouble::ReplyEnvelope(std::string_view operation,
                                                  std::string_view inside) {
  return EnvelopeAround("<NS1:" + std::string(operation) + "Response xmlns:NS1=\"" + kInterface +
                        "\" xmlns:NS2=\"" + kTypes + "\">" + std::string(inside) +
                        "</NS1:" + std::string(operation) + "Response>");
}

TestReply InventoryServiceDouble::Handle(const RecordedRequest& request) {
  if (request.method == "GET" && request.path == kDescriptionPath) {
    return Reply(200, Description(EndpointUrl()), "text/xml");
  }
  SoapCall call;
  try {
    call = Understand(request);
  } catch (const Violation& v) {
    std::lock_guard lock(mu_);
    violations_.push_back(v.what());
    return FaultReply(std::string("contract: ") + v.what());
  }
  call.received = std::chrono::steady_clock::now();
  SoapResponder responder;
  {
    std::lock_guard lock(mu_);
    calls_.push_back(call);
    responder = responder_;
  }
  if (call.guid != kAcceptedGuid) {
    return Reply(
        200, ReplyEnvelope(call.operation, "<return xsi:type=\"NS2:tRC\">rcFailedGuid</return>"),
        "text/xml; charset=utf-8");
  }
  SoapAnswer answer = responder(call);
  if (answer.raw) return *answer.raw;
  if (answer.fault) return FaultReply(*answer.fault);
  return Reply(
      200,
      ReplyEnvelope(call.operation, "<return xsi:type=\"NS2:tRC\">" + answer.result + "</return>"),
      "text/xml; charset=utf-8");
}

}  // namespace quarrin::testing
