// The HTML pages of the HTTP interface: the page frame and the menu page.
// Text is 8-bit with CR LF line ends where the page has them. Inserted
// values pass through XmlText ("&", "<", ">" as entities), so a value holding
// markup is shown, never run; a value without such characters comes out byte
// for byte.
#ifndef QUARRIN_HTTP_HTML_PAGES_H_
#define QUARRIN_HTTP_HTML_PAGES_H_

#include <string>
#include <string_view>

#include "core/attributes.h"

namespace quarrin {

// The stylesheet block: nineteen lines, each ended by CR LF.
std::string_view StylesheetBlock();

// The start of a page up to and including "</head>" CR LF:
//   doc_type 1  the HTML 4.01 Strict declaration;
//   doc_type 2  the HTML 4.01 loose declaration, closed with " />";
//   otherwise   no declaration;
// then <html>, <head>, the character-set meta tag and the title, each on a
// line of its own, and the stylesheet block when doc_type >= 0.
std::string BuildHtmlPage(std::string_view title, int doc_type);

// What the menu page shows besides its links.
struct MenuPageValues {
  std::string date_time;           // timestamp text of now
  std::string version;             // the running program's version text
  std::string local_machine_name;  // its line is left empty when empty
  tRegAttributes attributes;       // each one's line is left empty when empty
};

// The whole menu page: BuildHtmlPage("Quarrin", -1), the links of every
// command, the time, the version, the host name and the attributes.
std::string BuildMenuPage(const MenuPageValues& values);

}  // namespace quarrin

#endif  // QUARRIN_HTTP_HTML_PAGES_H_
