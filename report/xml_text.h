// Small readings of parsed XML shared by the inventory service's client and
// the service-desk lookup.
#ifndef QUARRIN_REPORT_XML_TEXT_H_
#define QUARRIN_REPORT_XML_TEXT_H_

#include <pugixml.hpp>
#include <string>
#include <string_view>

namespace quarrin {

// The text of every text and CDATA node below `node`, in document order,
// joined; empty for an empty handle.
std::string XmlTextContent(pugi::xml_node node);

// `text` without blanks and control characters (code 32 or less) at either end.
std::string_view TrimControls(std::string_view text);

// At most `limit` bytes of `text`, "..." added when it was cut: for quoting
// what a peer sent in a message without copying a whole document into it.
std::string Clip(std::string_view text, size_t limit = 64);

}  // namespace quarrin

#endif  // QUARRIN_REPORT_XML_TEXT_H_
