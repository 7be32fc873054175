#include "server/machine_identity.h"

#include <charconv>

#include "platform/text/ascii.h"

namespace quarrin {

namespace {

// Up to four numbers joined by points; *count says how many there were.
bool ReadNumbers(std::string_view text, std::array<int32_t, 4>* numbers, size_t* count) {
  text = TrimBlanks(text);
  *numbers = {0, 0, 0, 0};
  *count = 0;
  while (true) {
    if (*count == 4) return false;
    const size_t point = text.find('.');
    const std::string_view part = text.substr(0, point);
    int32_t n = 0;
    const auto [end, error] = std::from_chars(part.data(), part.data() + part.size(), n);
    if (part.empty() || part.front() == '-' || error != std::errc() ||
        end != part.data() + part.size()) {
      return false;
    }
    (*numbers)[(*count)++] = n;
    if (point == std::string_view::npos) return true;
    text.remove_prefix(point + 1);
  }
}

}  // namespace

std::string MachineKey(std::string_view name) {
  name = TrimBlanks(name);
  return UpperAscii(name.substr(0, name.find('.')));
}

std::optional<std::array<int32_t, 4>> VersionNumbers(std::string_view text) {
  std::array<int32_t, 4> numbers;
  size_t count = 0;
  if (!ReadNumbers(text, &numbers, &count) || count != 4) return std::nullopt;
  return numbers;
}

std::optional<std::array<int32_t, 4>> VersionBound(std::string_view text) {
  std::array<int32_t, 4> numbers;
  size_t count = 0;
  if (!ReadNumbers(text, &numbers, &count)) return std::nullopt;
  return numbers;
}

}  // namespace quarrin
