// Date and time texts read back with a pattern from the regional settings:
// the input is the pattern, a NUL, then the text.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "core/time_texts.h"
#include "platform/regional/date_pattern.h"
#include "platform/regional/regional_settings.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const size_t nul = input.find('\0');
  const std::string_view pattern = nul == std::string_view::npos ? "dd/MM/yyyy" : input.substr(0, nul);
  const std::string_view text = nul == std::string_view::npos ? input : input.substr(nul + 1);

  quarrin::RegionalSettings settings;
  const quarrin::DateTime reference = quarrin::EncodeDateTime({2026, 6, 15});
  quarrin::DateTime out;
  quarrin::ParseDateTimePattern(text, pattern, settings, 2026, &out);
  quarrin::ParseTimestampText(text, settings, reference, &out);
  quarrin::ParseShortDate(text, settings, reference, &out);
  // The pattern as the short date format, with the separators from the text.
  settings.short_date_format = std::string(pattern);
  if (!text.empty()) settings.date_separator = std::string(text.substr(0, 1));
  quarrin::ParseShortDate(text, settings, reference, &out);
  quarrin::FormatDateTimePattern(pattern, reference, settings);
  return 0;
}
