#include "platform/regional/date_pattern.h"

#include <array>
#include <string>

namespace quarrin {

namespace {

// Month and day names exactly as the formatter writes them, so that the
// two can never disagree.
struct Names {
  std::array<std::string, 12> short_months, long_months;
  std::array<std::string, 7> short_days, long_days;
};

const Names& FormatterNames() {
  static const Names names = [] {
    Names n;
    const RegionalSettings settings;
    for (int m = 1; m <= 12; ++m) {
      const DateTime t = EncodeDateTime(CivilTime{2000, m, 1});
      n.short_months[static_cast<size_t>(m - 1)] = FormatDateTimePattern("MMM", t, settings);
      n.long_months[static_cast<size_t>(m - 1)] = FormatDateTimePattern("MMMM", t, settings);
    }
    // 2 January 2000 was a Sunday.
    for (int d = 0; d < 7; ++d) {
      const DateTime t = EncodeDateTime(CivilTime{2000, 1, 2 + d});
      n.short_days[static_cast<size_t>(d)] = FormatDateTimePattern("ddd", t, settings);
      n.long_days[static_cast<size_t>(d)] = FormatDateTimePattern("dddd", t, settings);
    }
    return n;
  }();
  return names;
}

class Reader {
 public:
  explicit Reader(std::string_view text) : text_(text) {}
  bool AtEnd() const { return text_.empty(); }

  // Between min_digits and max_digits decimal digits, as many as there are.
  bool Number(size_t min_digits, size_t max_digits, int* value) {
    size_t n = 0;
    int v = 0;
    while (n < max_digits && n < text_.size() && text_[n] >= '0' && text_[n] <= '9') {
      v = v * 10 + (text_[n] - '0');
      ++n;
    }
    if (n < min_digits) return false;
    text_.remove_prefix(n);
    *value = v;
    return true;
  }

  bool Literal(std::string_view expected) {
    if (!text_.starts_with(expected)) return false;
    text_.remove_prefix(expected.size());
    return true;
  }

  // The index of the longest name the text begins with.
  template <size_t N>
  bool OneOf(const std::array<std::string, N>& names, int* index) {
    size_t best = 0;
    int found = -1;
    for (size_t i = 0; i < N; ++i) {
      if (names[i].size() > best && text_.starts_with(names[i])) {
        best = names[i].size();
        found = static_cast<int>(i);
      }
    }
    if (found < 0) return false;
    text_.remove_prefix(best);
    *index = found;
    return true;
  }

 private:
  std::string_view text_;
};

// Reads one field written with the pattern letter `ch` repeated n times.
bool ReadField(Reader& in, char ch, size_t n, int reference_year, CivilTime* c, int* half_day) {
  const Names& names = FormatterNames();
  int v = 0;
  switch (ch) {
    case 'd':
      if (n >= 3) return in.OneOf(n == 3 ? names.short_days : names.long_days, &v);
      if (!in.Number(n, 2, &v)) return false;
      c->day = v;
      return true;
    case 'M':
      if (n >= 3) {
        if (!in.OneOf(n == 3 ? names.short_months : names.long_months, &v)) return false;
        c->month = v + 1;
        return true;
      }
      if (!in.Number(n, 2, &v)) return false;
      c->month = v;
      return true;
    case 'y':
      if (n >= 3) {
        if (!in.Number(4, 4, &v)) return false;
        c->year = v;
      } else {
        if (!in.Number(n, 2, &v)) return false;
        c->year = ExpandTwoDigitYear(v, reference_year);
      }
      return true;
    case 'h':
    case 'H':
    case 'm':
    case 's': {
      int* field = ch == 'm' ? &c->minute : ch == 's' ? &c->second : &c->hour;
      return in.Number(n >= 2 ? 2 : 1, 2, field);
    }
    case 'z':
      if (!in.Number(n >= 2 ? 3 : 1, 3, &v)) return false;
      c->millisecond = v;
      return true;
    case 't': {
      const bool pm = n >= 2 ? in.Literal("PM") : in.Literal("P");
      if (!pm && !(n >= 2 ? in.Literal("AM") : in.Literal("A"))) return false;
      *half_day = pm ? 2 : 1;
      return true;
    }
    default:
      return false;
  }
}

}  // namespace

bool ParseDateTimePattern(std::string_view text, std::string_view pattern,
                          const RegionalSettings& settings, int reference_year, DateTime* out) {
  CivilTime c{reference_year, 1, 1, 0, 0, 0, 0};
  int half_day = 0;  // 0: 24-hour clock, 1: AM, 2: PM
  bool twelve_hour = false;
  Reader in(text);
  for (const PatternPiece& piece : SplitDateTimePattern(pattern)) {
    switch (piece.letter) {
      case '\0':  // quoted or other text, matched as it stands
        if (!in.Literal(piece.text)) return false;
        break;
      case '/':
      case ':': {
        const std::string& sep =
            piece.letter == '/' ? settings.date_separator : settings.time_separator;
        for (int k = 0; k < piece.count; ++k) {
          if (!in.Literal(sep)) return false;
        }
        break;
      }
      default:
        if (!ReadField(in, piece.letter, static_cast<size_t>(piece.count), reference_year, &c,
                       &half_day)) {
          return false;
        }
        if (piece.letter == 'h') twelve_hour = true;
        break;
    }
  }
  if (!in.AtEnd()) return false;
  if (twelve_hour) {
    if (c.hour < 1 || c.hour > 12) return false;
    if (half_day == 2 && c.hour < 12) c.hour += 12;
    if (half_day == 1 && c.hour == 12) c.hour = 0;
  }
  if (!IsValidDate(c.year, c.month, c.day) || c.hour > 23 || c.minute > 59 || c.second > 59) {
    return false;
  }
  *out = EncodeDateTime(c);
  return true;
}

}  // namespace quarrin
