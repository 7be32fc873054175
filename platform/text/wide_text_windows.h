// Text at the boundary to Windows: the agent keeps UTF-8, the W functions
// take UTF-16.
#ifndef QUARRIN_PLATFORM_TEXT_WIDE_TEXT_WINDOWS_H_
#define QUARRIN_PLATFORM_TEXT_WIDE_TEXT_WINDOWS_H_

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace quarrin {

// UTF-16 of UTF-8 text, zero characters included; nullopt when the text is
// not valid UTF-8.
std::optional<std::wstring> WideFromUtf8(std::string_view text);
// The same, with every invalid sequence as U+FFFD: for data, which must be
// stored whatever it holds.
std::wstring WideFromUtf8Lenient(std::string_view text);
// UTF-8 of UTF-16 text; an unpaired surrogate becomes U+FFFD.
std::string Utf8FromWide(std::wstring_view text);

// The system's text for an error code (GetLastError, a registry call's
// result), without its line end; "error <code>" when it has none.
std::string SystemErrorText(uint32_t code);

}  // namespace quarrin

#endif  // QUARRIN_PLATFORM_TEXT_WIDE_TEXT_WINDOWS_H_
