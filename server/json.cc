#include "server/json.h"

#include <cstdint>
#include <cstdio>

#include "platform/text/utf8.h"

namespace quarrin {

namespace {

class Reader {
 public:
  explicit Reader(std::string_view text) : text_(text) {}

  [[noreturn]] void Fail(const std::string& why) const {
    throw JsonError("JSON at offset " + std::to_string(at_) + ": " + why);
  }
  void SkipBlanks() {
    while (at_ < text_.size() && (text_[at_] == ' ' || text_[at_] == '\t' || text_[at_] == '\n' ||
                                  text_[at_] == '\r')) {
      ++at_;
    }
  }
  bool Take(char c) {
    SkipBlanks();
    if (at_ < text_.size() && text_[at_] == c) {
      ++at_;
      return true;
    }
    return false;
  }
  void Expect(char c) {
    if (!Take(c)) Fail(std::string("expected '") + c + "'");
  }
  bool AtEnd() {
    SkipBlanks();
    return at_ == text_.size();
  }
  bool TakeWord(std::string_view word) {
    SkipBlanks();
    if (text_.substr(at_, word.size()) != word) return false;
    at_ += word.size();
    return true;
  }

  uint32_t Hex4() {
    if (at_ + 4 > text_.size()) Fail("a \\u escape needs four hexadecimal digits");
    uint32_t code = 0;
    for (int k = 0; k < 4; ++k) {
      const char c = text_[at_++];
      code <<= 4;
      if (c >= '0' && c <= '9') code |= static_cast<uint32_t>(c - '0');
      else if (c >= 'a' && c <= 'f') code |= static_cast<uint32_t>(c - 'a' + 10);
      else if (c >= 'A' && c <= 'F') code |= static_cast<uint32_t>(c - 'A' + 10);
      else Fail("a \\u escape needs four hexadecimal digits");
    }
    return code;
  }

  std::string String() {
    Expect('"');
    std::string out;
    while (true) {
      if (at_ >= text_.size()) Fail("a string is not closed");
      const char c = text_[at_];
      if (c == '"') {
        ++at_;
        return out;
      }
      if (static_cast<unsigned char>(c) < 0x20) Fail("a control character inside a string");
      if (c != '\\') {
        const size_t length = Utf8SequenceLength(text_.substr(at_));
        if (length == 0) Fail("the text is not UTF-8");
        out.append(text_.substr(at_, length));
        at_ += length;
        continue;
      }
      if (++at_ >= text_.size()) Fail("a string is not closed");
      const char e = text_[at_++];
      switch (e) {
        case '"': out += '"'; break;
        case '\\': out += '\\'; break;
        case '/': out += '/'; break;
        case 'b': out += '\b'; break;
        case 'f': out += '\f'; break;
        case 'n': out += '\n'; break;
        case 'r': out += '\r'; break;
        case 't': out += '\t'; break;
        case 'u': {
          uint32_t code = Hex4();
          if (code >= 0xD800 && code <= 0xDBFF) {
            if (text_.substr(at_, 2) != "\\u") Fail("a lone surrogate");
            at_ += 2;
            const uint32_t low = Hex4();
            if (low < 0xDC00 || low > 0xDFFF) Fail("a lone surrogate");
            code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
          } else if (code >= 0xDC00 && code <= 0xDFFF) {
            Fail("a lone surrogate");
          }
          AppendUtf8(code, &out);
          break;
        }
        default: Fail(std::string("unknown escape \\") + e);
      }
    }
  }

 private:
  std::string_view text_;
  size_t at_ = 0;
};

}  // namespace

std::string JsonString(std::string_view text) {
  std::string out = "\"";
  for (size_t i = 0; i < text.size();) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
      ++i;
    } else if (c < 0x20) {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\u%04x", c);
      out += escape;
      ++i;
    } else {
      const size_t length = Utf8SequenceLength(text.substr(i));
      if (length == 0) {
        out += "\xEF\xBF\xBD";
        ++i;
      } else {
        out.append(text.substr(i, length));
        i += length;
      }
    }
  }
  out += '"';
  return out;
}

std::string JsonStringOrNull(const std::optional<std::string>& text) {
  return text ? JsonString(*text) : "null";
}

std::map<std::string, std::optional<std::string>> ParseFlatJsonObject(std::string_view text) {
  Reader r(text);
  std::map<std::string, std::optional<std::string>> members;
  r.Expect('{');
  if (!r.Take('}')) {
    do {
      r.SkipBlanks();
      std::string name = r.String();
      r.Expect(':');
      std::optional<std::string> value;
      if (!r.TakeWord("null")) {
        r.SkipBlanks();
        value = r.String();
      }
      if (!members.emplace(name, std::move(value)).second) r.Fail("\"" + name + "\" is given twice");
    } while (r.Take(','));
    r.Expect('}');
  }
  if (!r.AtEnd()) r.Fail("text after the object");
  return members;
}

}  // namespace quarrin
