// The XML documents of the HTTP interface. Each is one line of text with no
// whitespace between elements:
//   <?xml version="1.0" ?><Quarrin> ... </Quarrin>
// every element written as an opening tag, the value and a closing tag, even
// when the value is empty.
//
// Escaping: every inserted value passes through XmlText, so a document is
// well-formed whatever the value holds, and a value without "&", "<", ">",
// control characters or broken UTF-8 comes out byte for byte. The four
// request-echo elements RawHTTPCommand, UnparsedParams, FormParams and
// QueryParams take XmlEscape first (which writes entities of its own) and
// then only lose what XML cannot carry.
#ifndef QUARRIN_HTTP_XML_REPLIES_H_
#define QUARRIN_HTTP_XML_REPLIES_H_

#include <cstdint>
#include <string>
#include <string_view>

#include "inventory/installed_apps.h"
#include "inventory/pc_details.h"

namespace quarrin {

// The ten replacements of the request echo, each over the whole text before
// the next: bytes 0x93 and 0x94 (curly double quotes in Windows-1252) become
// '"', byte 0x96 (en dash) "-", byte 0xA0 (no-break space) a blank; then
// "&" -> "&amp;", "'" -> "&apos;", '"' -> "&quot;", "<" -> "&lt;",
// ">" -> "&gt;"; last, byte 0x92 (right single quote) -> "&#44;". Every other
// byte passes through unchanged.
std::string XmlEscape(std::string_view text);

// A value ready for element content or HTML text: "&", "<" and ">" become
// entities; characters that XML 1.0 cannot carry at all (C0 controls other
// than tab, LF and CR) and bytes that are not part of well-formed UTF-8
// become U+FFFD. Anything else passes through unchanged.
std::string XmlText(std::string_view text);
// Only the U+FFFD replacements of XmlText; for text already escaped.
std::string XmlSafeChars(std::string_view text);

// The values of the info document that do not come from tPCDetails.
struct InfoValues {
  std::string version;
  std::string date_time;
  std::string bde_version;
  std::string genesis_size;  // size text, "0" without the file
  std::string install_date;  // date-time text of tPCDetails::InstallDate
  std::string disk_size;     // size text
  int64_t disk_used = 0;     // percent
  std::string remote_ip;
  std::string syslog_host;
  std::string tick_count;
  // The request echo, written only when echo is set.
  bool echo = false;
  std::string from, command, raw_http_command, unparsed_params, form_params, query_params, accept;
};

std::string InfoDocument(const tPCDetails& details, const InfoValues& values);
// The thirteen applications of the apps document, in order (no SQLNS).
std::string AppsDocument(const tInstalledApps& apps);
std::string MessageReply(std::string_view date_time);
std::string SyslogReply(std::string_view date_time, std::string_view syslog_host,
                        std::string_view version);
// Field is always empty; Data repeats the value the request set.
std::string AttributeReply(std::string_view date_time, std::string_view value,
                           std::string_view version);
std::string ErrorReply(std::string_view date_time, std::string_view message,
                       std::string_view class_name);
std::string OdxFailReply(std::string_view version, std::string_view path);
std::string OdxErrorReply(std::string_view version, std::string_view message);
std::string UpdateReply(bool update_available, std::string_view update_version,
                        std::string_view current_version, std::string_view date_time);

}  // namespace quarrin

#endif  // QUARRIN_HTTP_XML_REPLIES_H_
