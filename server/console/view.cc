#include "server/console/view.h"

#include "diag/syslog_catalogue.h"
#include "server/console/html.h"

namespace quarrin {

std::string UtcMinutes(std::string_view column) {
  return "to_char(" + std::string(column) + " AT TIME ZONE 'UTC', 'YYYY-MM-DD HH24:MI')";
}

std::string DayText(std::string_view column) {
  return "to_char(" + std::string(column) + ", 'YYYY-MM-DD')";
}

std::string Row(std::initializer_list<std::string> cells) {
  std::string out = "<tr>";
  for (const std::string& c : cells) {
    out += c.rfind("<td", 0) == 0 ? c : "<td>" + c + "</td>";
  }
  return out + "</tr>\n";
}

std::string HeadRow(std::initializer_list<std::string_view> headings) {
  std::string out = "<tr>";
  for (std::string_view h : headings) out += "<th>" + std::string(h) + "</th>";
  return out + "</tr>\n";
}

std::string NumberCell(std::string_view number) {
  return "<td class=\"n\">" + std::string(number) + "</td>";
}

std::string NextPageLink(const std::string& href, std::string_view label) {
  return "<a href=\"" + Html(href) + "\" rel=\"next\">" + std::string(label) + "</a>";
}

std::string_view CodeMeaning(std::string_view code) {
  const SyslogCatalogueEntry* entry = FindCatalogueEntry(code);
  return entry == nullptr ? std::string_view() : entry->meaning;
}

std::string SeverityName(const std::optional<std::string>& severity) {
  static constexpr const char* kNames[] = {"emergency", "alert",  "critical", "error",
                                           "warning",   "notice", "info",     "debug"};
  if (!severity) return "";
  if (severity->size() == 1 && (*severity)[0] >= '0' && (*severity)[0] <= '7') {
    return kNames[(*severity)[0] - '0'];
  }
  return *severity;
}

}  // namespace quarrin
