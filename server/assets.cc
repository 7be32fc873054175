#include "server/assets.h"

#include <map>

#include "platform/text/ascii.h"
#include "platform/time/date_time.h"
#include "server/machine_identity.h"

namespace quarrin {

namespace {

[[noreturn]] void Bad(size_t line, const std::string& why) {
  throw AssetCsvError("line " + std::to_string(line) + ": " + why);
}

// The fields of one line; throws for an unclosed quote. A quoted field
// cannot span lines.
std::vector<std::string> Fields(std::string_view line, size_t number) {
  const auto skip_blanks = [&](size_t i) {
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
    return i;
  };
  std::vector<std::string> fields;
  size_t i = 0;
  while (true) {
    i = skip_blanks(i);
    std::string value;
    if (i < line.size() && line[i] == '"') {
      ++i;
      while (true) {
        if (i >= line.size()) Bad(number, "a quoted field is not closed");
        if (line[i] == '"') {
          if (i + 1 < line.size() && line[i + 1] == '"') {
            value += '"';
            i += 2;
            continue;
          }
          ++i;
          break;
        }
        value += line[i++];
      }
      i = skip_blanks(i);
      if (i < line.size() && line[i] != ',') Bad(number, "text after a quoted field");
    } else {
      size_t comma = line.find(',', i);
      if (comma == std::string_view::npos) comma = line.size();
      value = std::string(TrimBlanks(line.substr(i, comma - i)));
      i = comma;
    }
    fields.push_back(std::move(value));
    if (i >= line.size()) return fields;
    ++i;  // the comma
  }
}

}  // namespace

bool IsIsoDate(std::string_view text) {
  if (text.size() != 10 || text[4] != '-' || text[7] != '-') return false;
  int parts[3] = {0, 0, 0};
  const size_t starts[3] = {0, 5, 8}, lengths[3] = {4, 2, 2};
  for (int p = 0; p < 3; ++p) {
    for (size_t k = starts[p]; k < starts[p] + lengths[p]; ++k) {
      if (text[k] < '0' || text[k] > '9') return false;
      parts[p] = parts[p] * 10 + (text[k] - '0');
    }
  }
  return IsValidDate(parts[0], parts[1], parts[2]);
}

std::vector<AssetRecord> ParseAssetCsv(std::string_view text) {
  if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
  std::vector<AssetRecord> records;
  std::map<std::string, size_t> line_of_key;
  bool header_seen = false;
  size_t number = 0;
  while (!text.empty()) {
    ++number;
    const size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (TrimBlanks(line).empty()) continue;
    const std::vector<std::string> fields = Fields(line, number);
    if (!header_seen) {
      if (fields.size() != 3 || LowerAscii(fields[0]) != "name" ||
          LowerAscii(fields[1]) != "service_tag" || LowerAscii(fields[2]) != "acquisition_date") {
        Bad(number, "the header must be name,service_tag,acquisition_date");
      }
      header_seen = true;
      continue;
    }
    if (fields.size() != 3) {
      Bad(number, std::to_string(fields.size()) + " fields, not 3 (name,service_tag,acquisition_date)");
    }
    AssetRecord r{fields[0], fields[1], fields[2]};
    const std::string key = MachineKey(r.machine_name);
    if (key.empty()) Bad(number, "no machine name");
    if (!r.acquisition_date.empty() && !IsIsoDate(r.acquisition_date)) {
      Bad(number, "acquisition date '" + r.acquisition_date + "' is not a day written yyyy-mm-dd");
    }
    const auto [it, inserted] = line_of_key.emplace(key, number);
    if (!inserted) {
      Bad(number, "machine " + key + " is already on line " + std::to_string(it->second));
    }
    records.push_back(std::move(r));
  }
  if (!header_seen) throw AssetCsvError("line 1: the file is empty: no header line");
  return records;
}

std::string WorkstationsDocument(const std::optional<AssetRecord>& record) {
  std::string out = "<?xml version=\"1.0\" encoding=\"utf-8\"?><WORKSTATIONS>";
  if (record) {
    out += "<WORKSTATION>";
    if (!record->service_tag.empty()) {
      std::string tag;
      for (char c : record->service_tag) {
        switch (c) {
          case '&': tag += "&amp;"; break;
          case '<': tag += "&lt;"; break;
          case '>': tag += "&gt;"; break;
          default: tag += c;
        }
      }
      out += "<SERVICETAG>" + tag + "</SERVICETAG>";
    }
    if (IsIsoDate(record->acquisition_date)) {
      const std::string& d = record->acquisition_date;
      const CivilTime morning{std::stoi(d.substr(0, 4)), std::stoi(d.substr(5, 2)),
                           std::stoi(d.substr(8, 2)), 10, 0, 0, 0};
      const int64_t ms = MillisecondsBetween(DateTime{kUnixEpochDays}, EncodeDateTime(morning));
      out += "<ACQUISITIONDATE>" + std::to_string(ms) + "</ACQUISITIONDATE>";
    }
    out += "</WORKSTATION>";
  }
  out += "</WORKSTATIONS>";
  return out;
}

}  // namespace quarrin
