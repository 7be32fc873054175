#include "server/syslog_message.h"

#include <pugixml.hpp>

namespace quarrin {

namespace {

bool Digit(char c) { return c >= '0' && c <= '9'; }

// The agent's text is ANSI; anything that is not UTF-8 is read as Latin-1,
// so the database (UTF-8 only) takes every datagram.
std::string AsUtf8(std::string_view bytes) {
  const std::string text(bytes);
  if (pugi::as_utf8(pugi::as_wide(text)) == text && text.find('\0') == std::string::npos) {
    return text;
  }
  std::string out;
  for (unsigned char c : bytes) {
    if (c == 0) {
      out += "\xEF\xBF\xBD";
    } else if (c < 0x80) {
      out += static_cast<char>(c);
    } else {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

// The length of an RFC 3164 timestamp at the start of text ("Oct 11
// 22:14:15", day padded with a blank or a zero), or of the agent's ("Jan 05
// 2006 13:45:07"); 0 when there is none.
size_t TimestampLength(std::string_view t) {
  const auto time_at = [&](size_t i) {
    return t.size() >= i + 8 && Digit(t[i]) && Digit(t[i + 1]) && t[i + 2] == ':' &&
           Digit(t[i + 3]) && Digit(t[i + 4]) && t[i + 5] == ':' && Digit(t[i + 6]) &&
           Digit(t[i + 7]);
  };
  if (t.size() < 15 || t[3] != ' ' || !(t[4] == ' ' || Digit(t[4])) || !Digit(t[5]) || t[6] != ' ') {
    return 0;
  }
  if (time_at(7)) return 15;
  if (t.size() >= 20 && Digit(t[7]) && Digit(t[8]) && Digit(t[9]) && Digit(t[10]) &&
      t[11] == ' ' && time_at(12)) {
    return 20;
  }
  return 0;
}

}  // namespace

SyslogMessage ParseSyslogDatagram(std::string_view datagram) {
  SyslogMessage m;
  std::string_view rest = datagram;
  if (rest.size() >= 3 && rest[0] == '<') {
    const size_t close = rest.find('>');
    if (close != std::string_view::npos && close >= 2 && close <= 4) {
      int pri = 0;
      bool digits = true;
      for (size_t i = 1; i < close; ++i) {
        digits = digits && Digit(rest[i]);
        if (digits) pri = pri * 10 + (rest[i] - '0');
      }
      if (digits && pri <= 191) {
        m.facility = pri / 8;
        m.severity = pri % 8;
        rest.remove_prefix(close + 1);
      }
    }
  }
  if (const size_t stamp = TimestampLength(rest); stamp == 15 && rest.size() > 16 &&
                                                   rest[15] == ' ') {
    // RFC 3164: the host name follows the timestamp.
    const std::string_view after = rest.substr(16);
    const size_t end = after.find(' ');
    if (end != std::string_view::npos && end > 0 && after[end - 1] != ':') {
      m.host = AsUtf8(after.substr(0, end));
    }
  }
  const size_t quarn = rest.find("%QUARN-");
  if (quarn != std::string_view::npos) {
    const std::string_view tag = rest.substr(quarn + 7);
    if (tag.size() >= 9 && Digit(tag[0]) && tag[1] == '-' && Digit(tag[2]) && Digit(tag[3]) &&
        Digit(tag[4]) && Digit(tag[5]) && Digit(tag[6]) && tag[7] == ':') {
      m.code = std::string(tag.substr(2, 5));
    }
  }
  m.text = AsUtf8(rest);
  return m;
}

}  // namespace quarrin
