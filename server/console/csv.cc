#include "server/console/csv.h"

namespace quarrin {

std::string CsvLine(std::initializer_list<std::string> fields) {
  std::string out;
  bool first = true;
  for (std::string field : fields) {
    if (!first) out += ',';
    first = false;
    if (!field.empty() && std::string_view("=+-@\t").find(field.front()) != std::string_view::npos) {
      field.insert(0, 1, '\'');
    }
    if (field.find_first_of(",\"\r\n") == std::string::npos) {
      out += field;
      continue;
    }
    out += '"';
    for (char c : field) {
      if (c == '"') out += '"';
      out += c;
    }
    out += '"';
  }
  return out + "\r\n";
}

}  // namespace quarrin
