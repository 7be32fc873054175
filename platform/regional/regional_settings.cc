#include "platform/regional/regional_settings.h"

#include <array>
#include <cstdint>

#include "platform/text/ascii.h"

namespace quarrin {

namespace {

constexpr std::string_view kInternationalKey = ".DEFAULT\\Control Panel\\International";

constexpr std::array<std::string_view, 12> kShortMonths = {
    "Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
constexpr std::array<std::string_view, 12> kLongMonths = {
    "January", "February", "March",     "April",   "May",      "June",
    "July",    "August",   "September", "October", "November", "December"};
constexpr std::array<std::string_view, 7> kShortDays = {"Sun", "Mon", "Tue", "Wed",
                                                        "Thu", "Fri", "Sat"};
constexpr std::array<std::string_view, 7> kLongDays = {
    "Sunday", "Monday", "Tuesday", "Wednesday", "Thursday", "Friday", "Saturday"};

// The stored text of the value called `name` when it is one, up to its
// first zero byte.
void ReadText(const std::vector<NamedValue>& values, std::string_view name,
              std::string* setting) {
  for (const NamedValue& value : values) {
    if (!EqualsIgnoringAsciiCase(value.name, name)) continue;
    const RegValue& v = value.value;
    if (v.type != ValueType::kString && v.type != ValueType::kExpandString) return;
    std::string text = v.data.substr(0, v.data.find('\0'));
    if (!text.empty()) *setting = std::move(text);
    return;
  }
}

void AppendNumber(std::string* out, int value, int min_digits) {
  std::string digits = std::to_string(value);
  if (digits.size() < static_cast<size_t>(min_digits)) {
    out->append(static_cast<size_t>(min_digits) - digits.size(), '0');
  }
  *out += digits;
}

}  // namespace

RegionalSettings ReadRegionalSettings(RegistryStore& store) {
  // One snapshot of the key: every setting from the same moment, and one
  // read of the store instead of six.
  const std::vector<NamedValue> values = store.Values(RootKey::kUsers, kInternationalKey);
  RegionalSettings s;
  ReadText(values, "sShortDate", &s.short_date_format);
  ReadText(values, "sTimeFormat", &s.long_time_format);
  ReadText(values, "sDate", &s.date_separator);
  ReadText(values, "sTime", &s.time_separator);
  ReadText(values, "sThousand", &s.thousand_separator);
  ReadText(values, "sDecimal", &s.decimal_separator);
  return s;
}

std::vector<PatternPiece> SplitDateTimePattern(std::string_view pattern) {
  constexpr std::string_view kLetters = "dMyhHmszt/:";
  std::vector<PatternPiece> pieces;
  size_t i = 0;
  while (i < pattern.size()) {
    const char ch = pattern[i];
    if (ch == '\'' || ch == '"') {
      // An unclosed quote runs to the end.
      size_t close = pattern.find(ch, i + 1);
      if (close == std::string_view::npos) close = pattern.size();
      pieces.push_back({0, 0, pattern.substr(i + 1, close - i - 1)});
      i = close + 1;
      continue;
    }
    size_t run = 1;
    while (i + run < pattern.size() && pattern[i + run] == ch) ++run;
    const bool letter = kLetters.find(ch) != std::string_view::npos;
    pieces.push_back({letter ? ch : '\0', static_cast<int>(run), pattern.substr(i, run)});
    i += run;
  }
  return pieces;
}

std::string FormatDateTimePattern(std::string_view pattern, DateTime t,
                                  const RegionalSettings& settings) {
  const CivilTime c = DecodeDateTime(t);
  std::string out;
  for (const PatternPiece& piece : SplitDateTimePattern(pattern)) {
    const int n = piece.count;
    switch (piece.letter) {
      case 'd':
        if (n <= 2) {
          AppendNumber(&out, c.day, n);
        } else {
          out += (n == 3 ? kShortDays : kLongDays)[static_cast<size_t>(DayOfWeek(t))];
        }
        break;
      case 'M':
        if (n <= 2) {
          AppendNumber(&out, c.month, n);
        } else {
          out += (n == 3 ? kShortMonths : kLongMonths)[static_cast<size_t>(c.month - 1)];
        }
        break;
      case 'y':
        AppendNumber(&out, n <= 2 ? c.year % 100 : c.year, n <= 2 ? n : 4);
        break;
      case 'h':
      case 'H':
      case 'm':
      case 's': {
        const int value = piece.letter == 'h'   ? (c.hour + 11) % 12 + 1
                          : piece.letter == 'H' ? c.hour
                          : piece.letter == 'm' ? c.minute
                                                : c.second;
        AppendNumber(&out, value, n >= 2 ? 2 : 1);
        break;
      }
      case 'z':
        AppendNumber(&out, c.millisecond, n >= 2 ? 3 : 1);
        break;
      case 't': {
        const std::string_view marker = c.hour < 12 ? "AM" : "PM";
        out += n >= 2 ? marker : marker.substr(0, 1);
        break;
      }
      case '/':
      case ':':
        for (int k = 0; k < n; ++k) {
          out += piece.letter == '/' ? settings.date_separator : settings.time_separator;
        }
        break;
      default:
        out += piece.text;
        break;
    }
  }
  return out;
}

std::string DefaultDateTimeText(DateTime t, const RegionalSettings& settings) {
  std::string text = FormatDateTimePattern(settings.short_date_format, t, settings);
  const CivilTime c = DecodeDateTime(t);
  // Milliseconds do not count: 00:00:00.040 still shows the date alone.
  if (c.hour != 0 || c.minute != 0 || c.second != 0) {
    text += ' ';
    text += FormatDateTimePattern(settings.long_time_format, t, settings);
  }
  return text;
}

bool ParseShortDate(std::string_view text, const RegionalSettings& settings, DateTime reference,
                    DateTime* out) {
  // The order of day, month and year is the order in which the format first
  // names them.
  std::string order;
  for (const PatternPiece& piece : SplitDateTimePattern(settings.short_date_format)) {
    const char ch = piece.letter;
    if ((ch == 'd' || ch == 'M' || ch == 'y') && order.find(ch) == std::string::npos) order += ch;
  }
  if (order.size() != 3) order = "dMy";

  const std::string_view sep =
      settings.date_separator.empty() ? std::string_view("/") : settings.date_separator;
  while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  while (!text.empty() && text.back() == ' ') text.remove_suffix(1);

  int day = 0, month = 0, year = 0;
  for (size_t part = 0; part < 3; ++part) {
    if (part > 0) {
      if (!text.starts_with(sep)) return false;
      text.remove_prefix(sep.size());
    }
    size_t digits = 0;
    int value = 0;
    while (digits < text.size() && digits < 5 && text[digits] >= '0' && text[digits] <= '9') {
      value = value * 10 + (text[digits] - '0');
      ++digits;
    }
    text.remove_prefix(digits);
    switch (order[part]) {
      case 'd':
        if (digits < 1 || digits > 2) return false;
        day = value;
        break;
      case 'M':
        if (digits < 1 || digits > 2) return false;
        month = value;
        break;
      default:
        if (digits == 2) {
          year = ExpandTwoDigitYear(value, DecodeDateTime(reference).year);
        } else if (digits == 4) {
          year = value;
        } else {
          return false;
        }
        break;
    }
  }
  if (!text.empty() || !IsValidDate(year, month, day)) return false;
  *out = EncodeDateTime(CivilTime{year, month, day, 0, 0, 0, 0});
  return true;
}

std::string SizeText(int64_t bytes, const RegionalSettings& settings) {
  // Work on the magnitude as unsigned so that INT64_MIN has one too.
  uint64_t magnitude = bytes < 0 ? 0 - static_cast<uint64_t>(bytes) : static_cast<uint64_t>(bytes);
  const std::string digits = std::to_string(magnitude);
  std::string out = bytes < 0 ? "-" : "";
  for (size_t i = 0; i < digits.size(); ++i) {
    if (i > 0 && (digits.size() - i) % 3 == 0) out += settings.thousand_separator;
    out += digits[i];
  }
  return out;
}

std::string ShortMonthName(int month) {
  if (month < 1 || month > 12) return "";
  return std::string(kShortMonths[static_cast<size_t>(month - 1)]);
}

}  // namespace quarrin
