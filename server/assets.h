// The service desk's asset register: a machine's service tag and acquisition
// date, as the workstation lookup answers them and as administrators fill
// them from a CSV file.
#ifndef QUARRIN_SERVER_ASSETS_H_
#define QUARRIN_SERVER_ASSETS_H_

#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace quarrin {

struct AssetRecord {
  std::string machine_name;  // as written; MachineKey gives its identity
  std::string service_tag;
  std::string acquisition_date;  // "yyyy-mm-dd"; empty when unknown
};

// A CSV text that does not read; what() names the line.
class AssetCsvError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Reads a register file: a header line "name,service_tag,acquisition_date"
// (letter case and blanks around the names aside), then one machine per
// line. Fields are separated by commas; a field in double quotes may hold
// commas and doubled quotes. Blank lines are skipped, a UTF-8 byte order
// mark and CR LF line ends are accepted. The date is yyyy-mm-dd or empty.
// Throws AssetCsvError naming the first bad line: a wrong number of fields,
// an empty or dotted-only name, a date that is no day, a name given twice.
std::vector<AssetRecord> ParseAssetCsv(std::string_view text);

// True iff `text` is a day written yyyy-mm-dd.
bool IsIsoDate(std::string_view text);

// The workstation lookup's answer: WORKSTATIONS holding one WORKSTATION with
// SERVICETAG (when not empty) and ACQUISITIONDATE (when known), or nothing
// when there is no record. The acquisition date goes out as milliseconds
// since 1970-01-01 00:00 UTC of 10:00 UTC on that day, so that an agent in
// any zone from UTC-10 to UTC+13 (where nearly every office is) reads back
// the same day; the agent keeps the day alone.
std::string WorkstationsDocument(const std::optional<AssetRecord>& record);

}  // namespace quarrin

#endif  // QUARRIN_SERVER_ASSETS_H_
