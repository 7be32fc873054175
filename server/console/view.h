// Small pieces the console's pages share: times as SQL writes them for
// people, table rows, and the meaning of an agent's syslog code.
#ifndef QUARRIN_SERVER_CONSOLE_VIEW_H_
#define QUARRIN_SERVER_CONSOLE_VIEW_H_

#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>

namespace quarrin {

// SQL that writes a timestamptz column as "yyyy-mm-dd hh:mm" in UTC.
std::string UtcMinutes(std::string_view column);
// SQL that writes a timestamp or date column as "yyyy-mm-dd".
std::string DayText(std::string_view column);

// "<tr><td>..</td>...</tr>" of cells that are HTML already.
std::string Row(std::initializer_list<std::string> cells);
// "<tr><th>..</th>...</tr>" of plain-text headings.
std::string HeadRow(std::initializer_list<std::string_view> headings);
// A cell of a number, right-aligned.
std::string NumberCell(std::string_view number);

// The link to a list's next page; `href` is a console path.
std::string NextPageLink(const std::string& href, std::string_view label = "Next page");

// The meaning of an agent's message code ("50090"); empty for another code.
std::string_view CodeMeaning(std::string_view code);

// A severity's name (0 "emergency" .. 7 "debug"); the number for others.
std::string SeverityName(const std::optional<std::string>& severity);

}  // namespace quarrin

#endif  // QUARRIN_SERVER_CONSOLE_VIEW_H_
