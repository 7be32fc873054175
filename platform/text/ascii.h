// Case of ASCII letters. Every byte that is not an ASCII letter stays as it
// is, so UTF-8 text passes through unchanged.
#ifndef QUARRIN_PLATFORM_TEXT_ASCII_H_
#define QUARRIN_PLATFORM_TEXT_ASCII_H_

#include <string>
#include <string_view>

namespace quarrin {

std::string LowerAscii(std::string_view text);
std::string UpperAscii(std::string_view text);
// True iff the texts are equal without regard to the case of ASCII letters.
bool EqualsIgnoringAsciiCase(std::string_view a, std::string_view b);
// The text without the blanks and tabs at its ends.
std::string_view TrimBlanks(std::string_view text);

}  // namespace quarrin

#endif  // QUARRIN_PLATFORM_TEXT_ASCII_H_
