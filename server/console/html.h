// Values put into the console's HTML: text escaped for element content and
// quoted attribute values, and values percent-encoded for a link's query.
#ifndef QUARRIN_SERVER_CONSOLE_HTML_H_
#define QUARRIN_SERVER_CONSOLE_HTML_H_

#include <string>
#include <string_view>

namespace quarrin {

// `text` safe inside an element and inside a double- or single-quoted
// attribute: "&", "<", ">", '"' and "'" become entities, and what XML
// cannot carry (control characters, broken UTF-8) becomes U+FFFD.
std::string Html(std::string_view text);

// `text` as a query value: every byte but letters, digits and "-._~"
// becomes "%XX".
std::string UrlEncode(std::string_view text);

}  // namespace quarrin

#endif  // QUARRIN_SERVER_CONSOLE_HTML_H_
