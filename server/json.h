// The little JSON the read API needs: text escaped into a JSON string, and
// the reading of a flat object of strings (the body of an asset's PUT).
#ifndef QUARRIN_SERVER_JSON_H_
#define QUARRIN_SERVER_JSON_H_

#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace quarrin {

// `text` as a JSON string, quotes included. Control characters are
// escaped; bytes that are not UTF-8 become U+FFFD, so the reply stays valid.
std::string JsonString(std::string_view text);

// A JSON string, or null when there is no value.
std::string JsonStringOrNull(const std::optional<std::string>& text);

class JsonError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Reads {"name": "text" or null, ...}: member names and string values
// decoded, null read as nullopt. Throws JsonError (with the offset) for
// anything else: other value kinds, a name given twice, trailing text.
std::map<std::string, std::optional<std::string>> ParseFlatJsonObject(std::string_view text);

}  // namespace quarrin

#endif  // QUARRIN_SERVER_JSON_H_
