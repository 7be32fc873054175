// UTF-8, the one encoding of text in the agent's stores, and the
// Windows-1252 bytes that older clients still send.
#ifndef QUARRIN_PLATFORM_TEXT_UTF8_H_
#define QUARRIN_PLATFORM_TEXT_UTF8_H_

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

namespace quarrin {

// Appends the code point `cp` (at most 0x10FFFF) as UTF-8.
void AppendUtf8(uint32_t cp, std::string* out);

// The length of the well-formed UTF-8 sequence at the front of `text` (no
// overlong forms, surrogates or code points past 0x10FFFF), or 0 when the
// first byte does not begin one. REQUIRES: !text.empty().
size_t Utf8SequenceLength(std::string_view text);

// True iff the whole of `text` is well-formed UTF-8.
bool IsUtf8(std::string_view text);

// The characters of `text`: well-formed sequences count once, every other
// byte once on its own.
size_t Utf8CharCount(std::string_view text);

// `text` when it is well-formed UTF-8; otherwise its bytes read as
// Windows-1252 and written as UTF-8 ("caf\xe9" gives "café"). The five
// bytes that code page leaves unassigned become the C1 controls of the same
// number, as Windows converts them.
std::string TextAsUtf8(std::string_view text);

// The file-system path named by UTF-8 text, and back, on every system (a
// path made of a std::string is read in the system's code page on Windows).
std::filesystem::path PathFromUtf8(std::string_view text);
std::string Utf8FromPath(const std::filesystem::path& path);

}  // namespace quarrin

#endif  // QUARRIN_PLATFORM_TEXT_UTF8_H_
