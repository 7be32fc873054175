#include "http/xml_replies.h"

#include <utility>

#include "platform/text/utf8.h"

namespace quarrin {

namespace {

constexpr std::string_view kDocumentStart = "<?xml version=\"1.0\" ?><Quarrin>";
constexpr std::string_view kDocumentEnd = "</Quarrin>";
constexpr std::string_view kReplacement = "\xEF\xBF\xBD";  // U+FFFD

void ReplaceAll(std::string* text, std::string_view from, std::string_view to) {
  std::string out;
  out.reserve(text->size());
  size_t start = 0;
  for (size_t at = text->find(from); at != std::string::npos; at = text->find(from, start)) {
    out.append(*text, start, at - start);
    out += to;
    start = at + from.size();
  }
  out.append(*text, start);
  *text = std::move(out);
}

// The length of the well-formed UTF-8 sequence at the front of text that
// XML may carry, or 0 when the first byte does not begin one.
size_t XmlCharLength(std::string_view text) {
  const auto c = static_cast<unsigned char>(text[0]);
  if (c < 0x80) return c >= 0x20 || c == '\t' || c == '\n' || c == '\r' ? 1 : 0;
  // U+FFFE and U+FFFF are not characters to XML.
  if (text.starts_with("\xEF\xBF\xBE") || text.starts_with("\xEF\xBF\xBF")) return 0;
  return Utf8SequenceLength(text);
}

// Replaces what XML cannot carry with U+FFFD and, with escape_markup,
// writes "&", "<" and ">" as entities.
std::string Sanitised(std::string_view text, bool escape_markup) {
  std::string out;
  out.reserve(text.size());
  while (!text.empty()) {
    size_t length = XmlCharLength(text);
    if (length == 0) {
      out += kReplacement;
      length = 1;
    } else if (escape_markup && text[0] == '&') {
      out += "&amp;";
    } else if (escape_markup && text[0] == '<') {
      out += "&lt;";
    } else if (escape_markup && text[0] == '>') {
      out += "&gt;";
    } else {
      out.append(text.substr(0, length));
    }
    text.remove_prefix(length);
  }
  return out;
}

// Appends <name>value</name>; the value is inserted as it is.
void Raw(std::string* out, std::string_view name, std::string_view value) {
  *out += '<';
  *out += name;
  *out += '>';
  *out += value;
  *out += "</";
  *out += name;
  *out += '>';
}

// Appends <name>value</name> with the value made safe.
void Element(std::string* out, std::string_view name, std::string_view value) {
  Raw(out, name, XmlText(value));
}

std::string Document(std::string_view inner) {
  std::string out;
  out.reserve(kDocumentStart.size() + inner.size() + kDocumentEnd.size());
  out += kDocumentStart;
  out += inner;
  out += kDocumentEnd;
  return out;
}

}  // namespace

std::string XmlEscape(std::string_view text) {
  std::string out(text);
  ReplaceAll(&out, "\x93", "\"");
  ReplaceAll(&out, "\x94", "\"");
  ReplaceAll(&out, "\x96", "-");
  ReplaceAll(&out, "\xA0", " ");
  ReplaceAll(&out, "&", "&amp;");
  ReplaceAll(&out, "'", "&apos;");
  ReplaceAll(&out, "\"", "&quot;");
  ReplaceAll(&out, "<", "&lt;");
  ReplaceAll(&out, ">", "&gt;");
  ReplaceAll(&out, "\x92", "&#44;");
  return out;
}

std::string XmlSafeChars(std::string_view text) { return Sanitised(text, false); }

std::string XmlText(std::string_view text) { return Sanitised(text, true); }

std::string InfoDocument(const tPCDetails& d, const InfoValues& v) {
  std::string s;
  s.reserve(2048);
  Element(&s, "Version", v.version);
  Element(&s, "DateTime", v.date_time);
  Element(&s, "MachineName", d.MachineName);
  Element(&s, "RegisteredOwner", d.RegisteredOwner);
  Element(&s, "RegisteredOrganisation", d.RegisteredOrganisation);
  Element(&s, "CPUId", d.CPUId);
  Element(&s, "CPUSpeed", std::to_string(d.CPUSpeed));
  Element(&s, "TotCPU", std::to_string(d.TotCPU));
  Element(&s, "NBNodeType", std::to_string(d.NBNodeType));
  Element(&s, "CPUName", d.CPUName);
  Element(&s, "CurrentVersion", d.CurrentVersion);
  Element(&s, "ProductID", d.ProductID);
  Element(&s, "ProductName", d.ProductName);
  Element(&s, "ServicePack", d.ServicePack);
  Element(&s, "SourcePath", d.SourcePath);
  Element(&s, "IEVersion", d.IEVersion);
  Element(&s, "BDEVersion", v.bde_version);
  Element(&s, "GenesisSize", v.genesis_size);
  Element(&s, "PhysicalMemory", d.PhysicalMemory);
  Element(&s, "VMWare", d.VMWare ? "Yes" : "No");
  Element(&s, "InstallDate", v.install_date);
  Element(&s, "DiskSize", v.disk_size);
  Element(&s, "DiskUsed", std::to_string(v.disk_used) + "%");
  Element(&s, "RemoteIP", v.remote_ip);
  Element(&s, "Syslog", v.syslog_host);
  if (v.echo) {
    Element(&s, "From", v.from);
    Element(&s, "Command", v.command);
    Raw(&s, "RawHTTPCommand", XmlSafeChars(XmlEscape(v.raw_http_command)));
    Raw(&s, "UnparsedParams", XmlSafeChars(XmlEscape(v.unparsed_params)));
    Raw(&s, "FormParams", XmlSafeChars(XmlEscape(v.form_params)));
    Raw(&s, "QueryParams", XmlSafeChars(XmlEscape(v.query_params)));
    Element(&s, "Accept", v.accept);
  }
  Element(&s, "TickCount", v.tick_count);
  return Document(s);
}

std::string AppsDocument(const tInstalledApps& apps) {
  const std::pair<std::string_view, const tAppAttributes*> listed[] = {
      {"Access", &apps.Access},
      {"CiscoVPN", &apps.CiscoVPN},
      {"Dispense", &apps.Dispense},
      {"EtherPeek", &apps.EtherPeek},
      {"Excel", &apps.Excel},
      {"InternetExplorer", &apps.InternetExplorer},
      {"iTunes", &apps.iTunes},
      {"Java", &apps.Java},
      {"OutLook", &apps.Outlook},
      {"PowerPoint", &apps.PowerPoint},
      {"MSProject", &apps.MSProject},
      {"QuarrinSrvc", &apps.QuarrinSrvc},
      {"Word", &apps.Word},
  };
  std::string s;
  s.reserve(1536);
  for (const auto& [label, app] : listed) {
    s += "<Attributes>";
    Element(&s, "App", label);
    Element(&s, "Path", app->Path);
    Element(&s, "Version", app->Version);
    s += "</Attributes>";
  }
  return Document(s);
}

std::string MessageReply(std::string_view date_time) {
  std::string s;
  Element(&s, "DateTime", date_time);
  s += "<Result>OK</Result>";
  return Document(s);
}

std::string SyslogReply(std::string_view date_time, std::string_view syslog_host,
                        std::string_view version) {
  std::string s;
  Element(&s, "DateTime", date_time);
  Raw(&s, "Result", "OK");
  Element(&s, "Syslog", syslog_host);
  Element(&s, "Msg", "A test NOTIFY level Syslog message was sent to " + std::string(syslog_host));
  Element(&s, "Version", version);
  return Document(s);
}

std::string AttributeReply(std::string_view date_time, std::string_view value,
                           std::string_view version) {
  std::string s;
  Element(&s, "DateTime", date_time);
  Raw(&s, "Field", "");
  Element(&s, "Data", value);
  Raw(&s, "Result", "OK");
  Element(&s, "Version", version);
  return Document(s);
}

std::string ErrorReply(std::string_view date_time, std::string_view message,
                       std::string_view class_name) {
  std::string s;
  Element(&s, "DateTime", date_time);
  Element(&s, "Error", message);
  Element(&s, "ClassName", class_name);
  return Document(s);
}

std::string OdxFailReply(std::string_view version, std::string_view path) {
  std::string s;
  Raw(&s, "RC", "Fail");
  Element(&s, "Version", version);
  Element(&s, "Result", path);
  return Document(s);
}

std::string OdxErrorReply(std::string_view version, std::string_view message) {
  std::string s;
  Raw(&s, "RC", "ERROR");
  Element(&s, "Version", version);
  Element(&s, "Error", message);
  return Document(s);
}

std::string UpdateReply(bool update_available, std::string_view update_version,
                        std::string_view current_version, std::string_view date_time) {
  std::string s;
  Raw(&s, "RC", update_available ? "1" : "0");
  Element(&s, "UpdateVersion", update_version);
  Element(&s, "CurrentVersion", current_version);
  Element(&s, "DateTime", date_time);
  return Document(s);
}

}  // namespace quarrin
