// The parameters of a request's query text ("a=1&b=x%20y").
#ifndef QUARRIN_SERVER_QUERY_TEXT_H_
#define QUARRIN_SERVER_QUERY_TEXT_H_

#include <optional>
#include <string>
#include <string_view>

namespace quarrin {

// The text with each "%xx" made the byte it stands for and each "+" a
// blank; nullopt when a "%" is not followed by two hexadecimal digits.
std::optional<std::string> PercentDecode(std::string_view text);

// The decoded value of the first parameter of that name (compared exactly,
// after decoding); nullopt when there is none or it does not decode.
std::optional<std::string> QueryParameter(std::string_view query, std::string_view name);

}  // namespace quarrin

#endif  // QUARRIN_SERVER_QUERY_TEXT_H_
