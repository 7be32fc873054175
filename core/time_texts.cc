#include "core/time_texts.h"

#include <cstdint>
#include <string>


namespace quarrin {

namespace {

void AppendTwoDigits(std::string* out, int value) {
  *out += static_cast<char>('0' + value / 10 % 10);
  *out += static_cast<char>('0' + value % 10);
}

// Reads exactly `digits` decimal digits from the front of text.
bool TakeNumber(std::string_view* text, size_t digits, int* value) {
  if (text->size() < digits) return false;
  int v = 0;
  for (size_t i = 0; i < digits; ++i) {
    const char ch = (*text)[i];
    if (ch < '0' || ch > '9') return false;
    v = v * 10 + (ch - '0');
  }
  text->remove_prefix(digits);
  *value = v;
  return true;
}

bool TakeText(std::string_view* text, std::string_view expected) {
  if (!text->starts_with(expected)) return false;
  text->remove_prefix(expected.size());
  return true;
}

}  // namespace

std::string TimestampText(DateTime t, Clock& clock, const RegionalSettings& settings) {
  if (t.days == 0.0) t = clock.Now();
  const CivilTime c = DecodeDateTime(t);
  std::string out;
  AppendTwoDigits(&out, c.day);
  out += settings.date_separator;
  AppendTwoDigits(&out, c.month);
  out += settings.date_separator;
  AppendTwoDigits(&out, c.year % 100);
  out += ' ';
  AppendTwoDigits(&out, c.hour);
  out += settings.time_separator;
  AppendTwoDigits(&out, c.minute);
  out += settings.time_separator;
  AppendTwoDigits(&out, c.second);
  out += '.';
  out += static_cast<char>('0' + c.millisecond / 100);
  AppendTwoDigits(&out, c.millisecond % 100);
  return out;
}

bool ParseTimestampText(std::string_view text, const RegionalSettings& settings,
                        DateTime reference, DateTime* out) {
  CivilTime c;
  int yy = 0;
  const std::string_view ds = settings.date_separator;
  const std::string_view ts = settings.time_separator;
  if (!TakeNumber(&text, 2, &c.day) || !TakeText(&text, ds) || !TakeNumber(&text, 2, &c.month) ||
      !TakeText(&text, ds) || !TakeNumber(&text, 2, &yy) || !TakeText(&text, " ") ||
      !TakeNumber(&text, 2, &c.hour) || !TakeText(&text, ts) ||
      !TakeNumber(&text, 2, &c.minute) || !TakeText(&text, ts) ||
      !TakeNumber(&text, 2, &c.second) || !TakeText(&text, ".") ||
      !TakeNumber(&text, 3, &c.millisecond) || !text.empty()) {
    return false;
  }
  c.year = ExpandTwoDigitYear(yy, DecodeDateTime(reference).year);
  if (!IsValidDate(c.year, c.month, c.day) || c.hour > 23 || c.minute > 59 || c.second > 59) {
    return false;
  }
  *out = EncodeDateTime(c);
  return true;
}

std::string UptimeText(std::chrono::milliseconds since_boot) {
  // 64-bit throughout: unlike a 32-bit tick counter this never starts again
  // from zero after 49.7 days.
  const uint64_t t = since_boot.count() > 0 ? static_cast<uint64_t>(since_boot.count()) : 0;
  const uint64_t weeks = t / 604800000;
  const uint64_t days = t % 604800000 / 86400000;
  const uint64_t hours = t % 86400000 / 3600000;
  const uint64_t minutes = t % 3600000 / 60000;
  const uint64_t seconds = t % 60000 / 1000;
  return std::to_string(weeks) + "w" + std::to_string(days) + "d" + std::to_string(hours) + "h" +
         std::to_string(minutes) + "m" + std::to_string(seconds) + "s";
}

std::string UptimeText(Clock& clock) { return UptimeText(clock.SinceBoot()); }

}  // namespace quarrin
