#include "platform/text/ascii.h"

#include <algorithm>

namespace quarrin {

namespace {

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }
char Upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

}  // namespace

std::string LowerAscii(std::string_view text) {
  std::string out(text);
  std::ranges::transform(out, out.begin(), Lower);
  return out;
}

std::string UpperAscii(std::string_view text) {
  std::string out(text);
  std::ranges::transform(out, out.begin(), Upper);
  return out;
}

bool EqualsIgnoringAsciiCase(std::string_view a, std::string_view b) {
  return std::ranges::equal(a, b, [](char x, char y) { return Lower(x) == Lower(y); });
}

std::string_view TrimBlanks(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

}  // namespace quarrin
