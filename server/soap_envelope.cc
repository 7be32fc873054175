#include "server/soap_envelope.h"

#include <charconv>
#include <cstdint>
#include <functional>
#include <pugixml.hpp>
#include <sstream>
#include <vector>

#include "report/xml_text.h"

namespace quarrin {

namespace {

constexpr char kEnvelopeNs[] = "http://schemas.xmlsoap.org/soap/envelope/";
constexpr char kSoap12EnvelopeNs[] = "http://www.w3.org/2003/05/soap-envelope";
constexpr char kEncodingNs[] = "http://schemas.xmlsoap.org/soap/encoding/";
constexpr char kSchemaNs[] = "http://www.w3.org/2001/XMLSchema";
constexpr char kSchemaInstanceNs[] = "http://www.w3.org/2001/XMLSchema-instance";

[[noreturn]] void Reject(const std::string& text) { throw SoapRequestError("Client", text); }

std::string_view LocalName(std::string_view qname) {
  const size_t colon = qname.find(':');
  return colon == std::string_view::npos ? qname : qname.substr(colon + 1);
}

// The namespace a prefix ("" for the default) stands for at `element`.
std::string NamespaceOfPrefix(pugi::xml_node element, std::string_view prefix) {
  const std::string declaration = prefix.empty() ? "xmlns" : "xmlns:" + std::string(prefix);
  for (pugi::xml_node n = element; n; n = n.parent()) {
    if (pugi::xml_attribute a = n.attribute(declaration.c_str())) return a.value();
  }
  return "";
}

std::string NamespaceOf(pugi::xml_node element) {
  const std::string_view name = element.name();
  const size_t colon = name.find(':');
  return NamespaceOfPrefix(element, colon == std::string_view::npos ? "" : name.substr(0, colon));
}

bool Is(pugi::xml_node element, std::string_view ns, std::string_view local) {
  return element.type() == pugi::node_element && LocalName(element.name()) == local &&
         NamespaceOf(element) == ns;
}

// The attribute of that namespace and local name.
pugi::xml_attribute AttributeIn(pugi::xml_node element, std::string_view ns,
                                std::string_view local) {
  for (pugi::xml_attribute a : element.attributes()) {
    const std::string_view name = a.name();
    const size_t colon = name.find(':');
    if (colon == std::string_view::npos || LocalName(name) != local) continue;
    const std::string_view prefix = name.substr(0, colon);
    if (prefix != "xmlns" && NamespaceOfPrefix(element, prefix) == ns) return a;
  }
  return {};
}

std::vector<pugi::xml_node> Elements(pugi::xml_node parent) {
  std::vector<pugi::xml_node> out;
  for (pugi::xml_node child : parent.children()) {
    if (child.type() == pugi::node_element) out.push_back(child);
  }
  return out;
}

// The first child element of that local name, in no namespace or any: the
// contract's accessors are unqualified, a toolkit may qualify them.
pugi::xml_node Child(pugi::xml_node parent, std::string_view local) {
  for (pugi::xml_node child : parent.children()) {
    if (child.type() == pugi::node_element && LocalName(child.name()) == local) return child;
  }
  return {};
}

// The element an accessor stands for: itself, or the multi-reference value
// that its href names.
pugi::xml_node Dereference(pugi::xml_node body, pugi::xml_node accessor, std::string_view what) {
  const std::string_view href = accessor.attribute("href").value();
  if (href.empty()) return accessor;
  if (href.front() != '#' || href.size() == 1) {
    Reject(std::string(what) + ": the reference '" + Clip(href) + "' is not local (#id)");
  }
  const std::string_view id = href.substr(1);
  for (pugi::xml_node n = body.first_child(); n; n = n.next_sibling()) {
    if (n.type() == pugi::node_element && id == n.attribute("id").value()) return n;
  }
  Reject(std::string(what) + ": no element of the Body has the id '" + Clip(id) + "'");
}

bool IsNil(pugi::xml_node element) {
  const std::string_view nil = AttributeIn(element, kSchemaInstanceNs, "nil").value();
  return nil == "true" || nil == "1";
}

// Checks an xsi:type where one is written.
void CheckType(pugi::xml_node element, std::string_view ns, std::string_view local,
               std::string_view what) {
  const pugi::xml_attribute type = AttributeIn(element, kSchemaInstanceNs, "type");
  if (!type) return;
  const std::string_view qname = type.value();
  const size_t colon = qname.find(':');
  const std::string type_ns =
      NamespaceOfPrefix(element, colon == std::string_view::npos ? "" : qname.substr(0, colon));
  if (type_ns != ns || LocalName(qname) != local) {
    Reject(std::string(what) + " has the type '" + Clip(qname) + "', not " + std::string(local));
  }
}

// The text of a simple value; an element that holds elements is no simple value.
std::string SimpleText(pugi::xml_node element, std::string_view what) {
  if (!Elements(element).empty()) Reject(std::string(what) + " holds elements, not a value");
  return XmlTextContent(element);
}

std::string_view TrimXsd(std::string_view text) {
  const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
  while (!text.empty() && blank(text.front())) text.remove_prefix(1);
  while (!text.empty() && blank(text.back())) text.remove_suffix(1);
  return text;
}

// Reads the properties of one data object.
class ObjectReader {
 public:
  ObjectReader(pugi::xml_node object, std::string_view type)
      : object_(object), type_(type) {}

  std::string String(const char* name) {
    pugi::xml_node p = Property(name, "string");
    return p ? SimpleText(p, What(name)) : std::string();
  }

  int32_t Int(const char* name) {
    pugi::xml_node p = Property(name, "int");
    if (!p) return 0;
    const std::string text(TrimXsd(SimpleText(p, What(name))));
    std::string_view digits = text;
    if (!digits.empty() && digits.front() == '+') digits.remove_prefix(1);
    int32_t n = 0;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), n);
    if (digits.empty() || error != std::errc() || end != digits.data() + digits.size()) {
      Reject(What(name) + " '" + Clip(text) + "' is not an xsd:int");
    }
    return n;
  }

  bool Boolean(const char* name) {
    pugi::xml_node p = Property(name, "boolean");
    if (!p) return false;
    const std::string text(TrimXsd(SimpleText(p, What(name))));
    if (text == "true" || text == "1") return true;
    if (text == "false" || text == "0") return false;
    Reject(What(name) + " '" + Clip(text) + "' is not an xsd:boolean");
  }

  DateTime Date(const char* name) {
    pugi::xml_node p = Property(name, "dateTime");
    if (!p) return DateTime{};
    const std::string text(TrimXsd(SimpleText(p, What(name))));
    std::optional<DateTime> t = ParseSoapDateTime(text);
    if (!t) Reject(What(name) + " '" + Clip(text) + "' is not an xsd:dateTime");
    return *t;
  }

 private:
  std::string What(const char* name) const { return type_ + "." + name; }

  // The property's element; empty when absent or nil.
  pugi::xml_node Property(const char* name, const char* xsd_type) {
    pugi::xml_node p = Child(object_, name);
    if (!p || IsNil(p)) return {};
    CheckType(p, kSchemaNs, xsd_type, What(name));
    return p;
  }

  pugi::xml_node object_;
  std::string type_;
};

tPCDetails ReadPCDetails(ObjectReader& r) {
  tPCDetails d;
  d.MachineName = r.String("MachineName");
  d.LastLogin = r.String("LastLogin");
  d.RegisteredOwner = r.String("RegisteredOwner");
  d.RegisteredOrganisation = r.String("RegisteredOrganisation");
  d.CPUSpeed = r.Int("CPUSpeed");
  d.CPUId = r.String("CPUId");
  d.CPUName = r.String("CPUName");
  d.CurrentVersion = r.String("CurrentVersion");
  d.TotCPU = r.Int("TotCPU");
  d.ProductID = r.String("ProductID");
  d.ProductName = r.String("ProductName");
  d.ServicePack = r.String("ServicePack");
  d.SourcePath = r.String("SourcePath");
  d.IEVersion = r.String("IEVersion");
  d.PhysicalMemory = r.String("PhysicalMemory");
  d.VMWare = r.Boolean("VMWare");
  d.InstallDate = r.Date("InstallDate");
  d.NBNodeType = r.Int("NBNodeType");
  return d;
}

tPCDetails2 ReadPCDetails2(ObjectReader& r) {
  tPCDetails2 d;
  d.MachineName = r.String("MachineName");
  d.AquisitionDate = r.Date("AquisitionDate");
  d.Comments = r.String("Comments");
  d.SerialNo = r.String("SerialNo");
  return d;
}

tApplicationDetails ReadApplicationDetails(ObjectReader& r) {
  tApplicationDetails d;
  d.MachineName = r.String("MachineName");
  d.Application = r.String("Application");
  d.Path = r.String("Path");
  d.Version = r.String("Version");
  return d;
}

struct OperationShape {
  const char* name;
  const char* parameter;
  const char* type;
  std::function<void(ObjectReader&, SoapRequest&)> read;
};

const std::vector<OperationShape>& Shapes() {
  static const std::vector<OperationShape> shapes = {
      {"PutPCDetails", "PCDetails", "tPCDetails",
       [](ObjectReader& r, SoapRequest& q) { q.data = ReadPCDetails(r); }},
      {"PutPCDetails2", "PCDetails2", "tPCDetails2",
       [](ObjectReader& r, SoapRequest& q) { q.data = ReadPCDetails2(r); }},
      {"PutApplicationDetails", "ApplicationDetails", "tApplicationDetails",
       [](ObjectReader& r, SoapRequest& q) { q.data = ReadApplicationDetails(r); }},
  };
  return shapes;
}

std::string Escaped(std::string_view text) {
  pugi::xml_document doc;
  doc.append_child(pugi::node_pcdata).set_value(std::string(text).c_str());
  std::ostringstream out;
  doc.save(out, "", pugi::format_raw | pugi::format_no_declaration);
  return out.str();
}

std::string EnvelopeAround(std::string_view inside) {
  return std::string("<?xml version=\"1.0\" encoding=\"utf-8\"?>") +
         "<SOAP-ENV:Envelope xmlns:SOAP-ENV=\"" + kEnvelopeNs + "\" xmlns:xsd=\"" + kSchemaNs +
         "\" xmlns:xsi=\"" + kSchemaInstanceNs + "\" xmlns:SOAP-ENC=\"" + kEncodingNs +
         "\"><SOAP-ENV:Body SOAP-ENV:encodingStyle=\"" + kEncodingNs + "\">" +
         std::string(inside) + "</SOAP-ENV:Body></SOAP-ENV:Envelope>";
}

bool Digits(std::string_view text, size_t at, size_t count, int* value) {
  if (at + count > text.size()) return false;
  int n = 0;
  for (size_t i = at; i < at + count; ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
    n = n * 10 + (text[i] - '0');
  }
  *value = n;
  return true;
}

}  // namespace

std::optional<DateTime> ParseSoapDateTime(std::string_view text) {
  CivilTime c;
  if (!Digits(text, 0, 4, &c.year) || text.size() < 19 || text[4] != '-' ||
      !Digits(text, 5, 2, &c.month) || text[7] != '-' || !Digits(text, 8, 2, &c.day) ||
      text[10] != 'T' || !Digits(text, 11, 2, &c.hour) || text[13] != ':' ||
      !Digits(text, 14, 2, &c.minute) || text[16] != ':' || !Digits(text, 17, 2, &c.second)) {
    return std::nullopt;
  }
  size_t at = 19;
  if (at < text.size() && text[at] == '.') {
    size_t digits = 0;
    int ms = 0;
    for (++at; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at, ++digits) {
      if (digits < 3) ms = ms * 10 + (text[at] - '0');
    }
    if (digits == 0) return std::nullopt;
    for (size_t d = digits; d < 3; ++d) ms *= 10;
    c.millisecond = ms;
  }
  const std::string_view zone = text.substr(at);
  int zh = 0, zm = 0;
  const bool zone_ok = zone.empty() || zone == "Z" ||
                       (zone.size() == 6 && (zone[0] == '+' || zone[0] == '-') &&
                        Digits(zone, 1, 2, &zh) && zone[3] == ':' && Digits(zone, 4, 2, &zm) &&
                        zh <= 14 && zm <= 59);
  if (!zone_ok || !IsValidDate(c.year, c.month, c.day) || c.hour > 24 || c.minute > 59 ||
      c.second > 59 || (c.hour == 24 && (c.minute != 0 || c.second != 0 || c.millisecond != 0))) {
    return std::nullopt;
  }
  return EncodeDateTime(c);
}

SoapRequest ReadSoapRequest(std::string_view body) {
  // The texts go to the database as they are; it takes UTF-8 only.
  const std::string bytes(body);
  if (pugi::as_utf8(pugi::as_wide(bytes)) != bytes) Reject("the body is not UTF-8");
  pugi::xml_document doc;
  const pugi::xml_parse_result parsed =
      doc.load_buffer(body.data(), body.size(), pugi::parse_default | pugi::parse_doctype);
  if (!parsed) {
    Reject(std::string("the body is not XML: ") + parsed.description() + " at offset " +
           std::to_string(parsed.offset));
  }
  for (pugi::xml_node n : doc.children()) {
    if (n.type() == pugi::node_doctype) {
      Reject("a SOAP message may not carry a document type declaration");
    }
  }
  const pugi::xml_node envelope = doc.document_element();
  if (Is(envelope, kSoap12EnvelopeNs, "Envelope")) {
    throw SoapRequestError("VersionMismatch", "only SOAP 1.1 envelopes are understood");
  }
  if (!Is(envelope, kEnvelopeNs, "Envelope")) Reject("the document is not a SOAP 1.1 envelope");
  pugi::xml_node body_element;
  for (pugi::xml_node child : Elements(envelope)) {
    if (Is(child, kEnvelopeNs, "Body")) body_element = child;
  }
  if (!body_element) Reject("the envelope has no Body");
  const std::vector<pugi::xml_node> roots = Elements(body_element);
  if (roots.empty()) Reject("the Body is empty");
  const pugi::xml_node call = roots.front();

  const OperationShape* shape = nullptr;
  for (const OperationShape& s : Shapes()) {
    if (Is(call, kIQuarrinNamespace, s.name)) shape = &s;
  }
  if (shape == nullptr) {
    Reject("unknown operation {" + Clip(NamespaceOf(call)) + "}" +
           Clip(LocalName(call.name())) + ": IQuarrin has PutPCDetails, PutPCDetails2 and "
           "PutApplicationDetails in " + kIQuarrinNamespace);
  }
  SoapRequest request;
  request.operation = shape->name;

  const pugi::xml_node guid = Child(call, "guid");
  if (!guid) Reject(request.operation + " has no guid parameter");
  CheckType(guid, kSchemaNs, "string", "guid");
  request.guid = SimpleText(Dereference(body_element, guid, "guid"), "guid");

  const pugi::xml_node accessor = Child(call, shape->parameter);
  if (!accessor) Reject(request.operation + " has no " + shape->parameter + " parameter");
  const pugi::xml_node object = Dereference(body_element, accessor, shape->parameter);
  CheckType(object, kQuarrinTypesNamespace, shape->type, shape->parameter);
  ObjectReader reader(object, shape->type);
  shape->read(reader, request);
  return request;
}

std::string SoapResultEnvelope(std::string_view operation, tRC rc) {
  const std::string op(operation);
  return EnvelopeAround("<NS1:" + op + "Response xmlns:NS1=\"" + kIQuarrinNamespace +
                        "\" xmlns:NS2=\"" + kQuarrinTypesNamespace +
                        "\"><return xsi:type=\"NS2:tRC\">" + std::string(tRCName(rc)) +
                        "</return></NS1:" + op + "Response>");
}

std::string SoapFaultEnvelope(std::string_view code, std::string_view text) {
  return EnvelopeAround("<SOAP-ENV:Fault><faultcode>SOAP-ENV:" + Escaped(code) +
                        "</faultcode><faultstring>" + Escaped(text) +
                        "</faultstring></SOAP-ENV:Fault>");
}

}  // namespace quarrin
