// .reg files.
//
// Reading: both headers are accepted, with CRLF or LF line ends, and a file
// saved as UTF-16LE (with its byte-order mark) is read as UTF-8. The store
// keeps text as 8-bit bytes (UTF-8 on this system), so in a "Version 5.00"
// file, whose hex(1), hex(2) and hex(7) data are UTF-16LE characters, that
// data is stored as UTF-8 with one zero byte per zero character; in a
// REGEDIT4 file it is stored byte for byte.
//
// Writing: REGEDIT4 as regedit writes it, CRLF line ends, hex data wrapped
// with ",\" once a line reaches 77 characters and continued after two
// spaces. A value that the plain forms would not give back byte for byte (a
// REG_SZ without its final zero byte, with a zero byte or a line break
// inside, a REG_DWORD of other than 4 bytes) is written as hex(N) instead, so
// that importing an export restores every value exactly.
#include "platform/registry/reg_file.h"

#include <cstdint>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "platform/text/utf8.h"

namespace quarrin {
namespace {

constexpr std::string_view kHeader4 = "REGEDIT4";
constexpr std::string_view kHeader5 = "Windows Registry Editor Version 5.00";
constexpr size_t kHexLineLimit = 77;

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view TrimLeft(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  return s;
}

std::string_view TrimRight(std::string_view s) {
  while (!s.empty() && (IsBlank(s.back()) || s.back() == '\r')) s.remove_suffix(1);
  return s;
}

std::string_view Trim(std::string_view s) { return TrimRight(TrimLeft(s)); }

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// 1 to `max_digits` hex digits.
std::optional<uint32_t> ParseHexNumber(std::string_view s, size_t max_digits) {
  if (s.empty() || s.size() > max_digits) return std::nullopt;
  uint32_t v = 0;
  for (char c : s) {
    int d = HexDigit(c);
    if (d < 0) return std::nullopt;
    v = v << 4 | static_cast<uint32_t>(d);
  }
  return v;
}

bool StartsWithNoCase(std::string_view s, std::string_view prefix) {
  return s.size() >= prefix.size() && SameName(s.substr(0, prefix.size()), prefix);
}

// UTF-16LE bytes to UTF-8. On failure returns false and sets *bad_unit to the
// index of the offending code unit.
bool Utf16LeToUtf8(std::string_view bytes, std::string* out, size_t* bad_unit) {
  out->clear();
  const size_t units = bytes.size() / 2;
  auto unit = [&](size_t i) {
    return static_cast<uint32_t>(static_cast<unsigned char>(bytes[2 * i])) |
           static_cast<uint32_t>(static_cast<unsigned char>(bytes[2 * i + 1])) << 8;
  };
  for (size_t i = 0; i < units; ++i) {
    uint32_t u = unit(i);
    if (u >= 0xD800 && u <= 0xDBFF) {
      uint32_t low = i + 1 < units ? unit(i + 1) : 0;
      if (low < 0xDC00 || low > 0xDFFF) {
        *bad_unit = i;
        return false;
      }
      AppendUtf8(0x10000 + ((u - 0xD800) << 10) + (low - 0xDC00), out);
      ++i;
    } else if (u >= 0xDC00 && u <= 0xDFFF) {
      *bad_unit = i;
      return false;
    } else {
      AppendUtf8(u, out);
    }
  }
  if (bytes.size() % 2 != 0) {
    *bad_unit = units;
    return false;
  }
  return true;
}

struct Line {
  int number;
  std::string_view text;  // without the line end
};

std::vector<Line> SplitLines(std::string_view text) {
  std::vector<Line> lines;
  int number = 1;
  while (!text.empty()) {
    size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    lines.push_back({number++, line});
    if (end == std::string_view::npos) break;
    text.remove_prefix(end + 1);
  }
  return lines;
}

// Reads a quoted text with \\ and \" escapes starting at s[0] == '"'.
// Returns the text and leaves `s` after the closing quote.
std::string ParseQuoted(std::string_view* s, int line, const char* what) {
  std::string text;
  size_t i = 1;
  for (;; ++i) {
    if (i >= s->size()) throw RegFileError(line, std::string(what) + " has no closing quote");
    char c = (*s)[i];
    if (c == '"') break;
    if (c == '\\') {
      if (i + 1 >= s->size()) throw RegFileError(line, std::string(what) + " has no closing quote");
      char next = (*s)[++i];
      if (next != '\\' && next != '"') {
        throw RegFileError(line, std::string(what) + " has an unknown escape \\" + next +
                                     " (only \\\\ and \\\" are known)");
      }
      c = next;
    }
    text.push_back(c);
  }
  s->remove_prefix(i + 1);
  return text;
}

[[noreturn]] void NotARegistryFile() {
  throw RegFileError(
      1, "not a registry file: expected \"REGEDIT4\" or \"" + std::string(kHeader5) + "\"");
}

// "01,ab, 02" (white space allowed) to bytes.
std::string ParseHexBytes(std::string_view list, int line) {
  std::string compact;
  for (char c : list) {
    if (!IsBlank(c)) compact.push_back(c);
  }
  std::string bytes;
  if (compact.empty()) return bytes;
  if (compact.back() == ',') compact.pop_back();  // regedit tolerates a last comma
  std::string_view rest = compact;
  for (;;) {
    size_t comma = rest.find(',');
    std::string_view token = rest.substr(0, comma);
    auto byte = ParseHexNumber(token, 2);
    if (!byte) {
      throw RegFileError(line, "bad hex byte '" + std::string(token) +
                                   "' (expected two hex digits between commas)");
    }
    bytes.push_back(static_cast<char>(*byte));
    if (comma == std::string_view::npos) break;
    rest.remove_prefix(comma + 1);
  }
  return bytes;
}

class Parser {
 public:
  explicit Parser(std::string_view text) : lines_(SplitLines(text)) {}

  std::vector<RegChange> Parse() {
    if (lines_.empty()) throw RegFileError(1, "empty file: expected a REGEDIT4 header");
    std::string_view header = TrimRight(lines_[0].text);
    if (header == kHeader5) {
      unicode_ = true;
    } else if (header != kHeader4) {
      NotARegistryFile();
    }
    for (next_ = 1; next_ < lines_.size();) {
      const Line& line = lines_[next_++];
      std::string_view text = TrimLeft(line.text);
      if (TrimRight(text).empty() || text.front() == ';') continue;
      if (text.front() == '[') {
        ParseKeyLine(line.number, TrimRight(text));
      } else if (text.front() == '"' || text.front() == '@') {
        ParseValueLine(line.number, text);
      } else {
        throw RegFileError(line.number,
                           "expected [key], \"name\"=value, @=value or a ; comment, found '" +
                               std::string(TrimRight(text)) + "'");
      }
    }
    return std::move(changes_);
  }

 private:
  void ParseKeyLine(int number, std::string_view text) {
    if (text.back() != ']') throw RegFileError(number, "key line does not end with ']'");
    std::string_view name = text.substr(1, text.size() - 2);
    const bool remove = !name.empty() && name.front() == '-';
    if (remove) name.remove_prefix(1);
    RegChange change;
    change.kind = remove ? RegChange::kDeleteKey : RegChange::kCreateKey;
    if (!ParseKeyName(name, &change.root, &change.path)) {
      throw RegFileError(number, "bad key name '" + std::string(name) +
                                     "' (unknown root key or an empty name in the path)");
    }
    if (remove && change.path.empty()) {
      throw RegFileError(number, "a root key cannot be deleted");
    }
    if (auto problem = KeyPathProblem(change.path)) throw RegFileError(number, *problem);
    key_ = change;
    have_key_ = true;
    changes_.push_back(std::move(change));
  }

  void ParseValueLine(int number, std::string_view text) {
    if (!have_key_) throw RegFileError(number, "value before any [key] line");
    if (key_.kind == RegChange::kDeleteKey) {
      throw RegFileError(number, "value under a deleted key [-...]");
    }
    RegChange change;
    change.root = key_.root;
    change.path = key_.path;
    if (text.front() == '@') {
      text.remove_prefix(1);
    } else {
      change.name = ParseQuoted(&text, number, "value name");
      if (auto problem = ValueNameProblem(change.name)) throw RegFileError(number, *problem);
    }
    text = TrimLeft(text);
    if (text.empty() || text.front() != '=') {
      throw RegFileError(number, "expected '=' after the value name");
    }
    text = TrimLeft(text.substr(1));
    std::string_view data = TrimRight(text);

    if (data == "-") {
      change.kind = RegChange::kDeleteValue;
    } else if (!data.empty() && data.front() == '"') {
      change.kind = RegChange::kSetValue;
      std::string s = ParseQuoted(&data, number, "string value");
      if (!Trim(data).empty()) {
        throw RegFileError(
            number, "unexpected text after the string value: '" + std::string(Trim(data)) + "'");
      }
      s.push_back('\0');
      change.value = RegValue{ValueType::kString, std::move(s)};
    } else if (StartsWithNoCase(data, "dword:")) {
      change.kind = RegChange::kSetValue;
      auto v = ParseHexNumber(Trim(data.substr(6)), 8);
      if (!v) throw RegFileError(number, "bad dword: expected 1 to 8 hex digits");
      std::string bytes(4, '\0');
      for (int i = 0; i < 4; ++i) bytes[static_cast<size_t>(i)] = static_cast<char>(*v >> (8 * i));
      change.value = RegValue{ValueType::kDword, std::move(bytes)};
    } else if (StartsWithNoCase(data, "hex")) {
      change.kind = RegChange::kSetValue;
      change.value = ParseHex(number, data);
    } else {
      throw RegFileError(number, "unknown value data '" + std::string(data) +
                                     "' (expected \"text\", dword:, hex:, hex(N): or -)");
    }
    changes_.push_back(std::move(change));
  }

  // "hex:..." or "hex(N):...", continued on the following lines while a
  // line ends with a backslash.
  RegValue ParseHex(int number, std::string_view data) {
    uint32_t type = static_cast<uint32_t>(ValueType::kBinary);
    std::string_view rest = data.substr(3);
    if (!rest.empty() && rest.front() == '(') {
      size_t close = rest.find(')');
      auto n = close == std::string_view::npos ? std::nullopt
                                               : ParseHexNumber(rest.substr(1, close - 1), 8);
      if (!n) throw RegFileError(number, "bad hex(N): N must be a hex number");
      type = *n;
      rest.remove_prefix(close + 1);
    }
    if (rest.empty() || rest.front() != ':') throw RegFileError(number, "expected ':' after hex");
    rest.remove_prefix(1);
    std::string list;
    for (;;) {
      rest = TrimRight(rest);
      if (rest.empty() || rest.back() != '\\') {
        list += rest;
        break;
      }
      rest.remove_suffix(1);
      list += rest;
      if (next_ >= lines_.size()) {
        throw RegFileError(number, "hex data continues with '\\' past the end of the file");
      }
      rest = TrimLeft(lines_[next_++].text);
    }
    std::string bytes = ParseHexBytes(list, number);
    const bool text_type = type == 1 || type == 2 || type == 7;  // REG_SZ, EXPAND_SZ, MULTI_SZ
    if (unicode_ && text_type) {
      std::string utf8;
      size_t bad = 0;
      if (!Utf16LeToUtf8(bytes, &utf8, &bad)) {
        char kind[16];
        std::snprintf(kind, sizeof kind, "hex(%x)", type);
        throw RegFileError(number, std::string(kind) + " data is not UTF-16LE text (character " +
                                       std::to_string(bad + 1) + ")");
      }
      bytes = std::move(utf8);
    }
    return RegValue{static_cast<ValueType>(type), std::move(bytes)};
  }

  std::vector<Line> lines_;
  size_t next_ = 0;
  bool unicode_ = false;
  bool have_key_ = false;
  RegChange key_;
  std::vector<RegChange> changes_;
};

// A file saved by regedit as UTF-16LE, as UTF-8.
std::string FromUtf16File(std::string_view text) {
  std::string utf8;
  size_t bad = 0;
  if (!Utf16LeToUtf8(text, &utf8, &bad)) {
    int line = 1;
    for (size_t i = 0; i < bad && 2 * i + 1 < text.size(); ++i) {
      if (text[2 * i] == '\n' && text[2 * i + 1] == '\0') ++line;
    }
    throw RegFileError(line, "file is not valid UTF-16LE text");
  }
  return utf8;
}

std::string Escaped(std::string_view text) {
  std::string out;
  for (char c : text) {
    if (c == '\\' || c == '"') out.push_back('\\');
    out.push_back(c);
  }
  return out;
}

// True when "text" written in quotes reads back as exactly these bytes.
bool IsPlainText(std::string_view data) {
  if (data.empty() || data.back() != '\0') return false;
  data.remove_suffix(1);
  return data.find_first_of(std::string_view("\0\r\n", 3)) == std::string_view::npos;
}

void AppendHexData(std::string_view prefix, std::string_view bytes, size_t line_len,
                   std::string* out) {
  *out += prefix;
  line_len += prefix.size();
  char buf[4];
  for (size_t i = 0; i < bytes.size(); ++i) {
    std::snprintf(buf, sizeof buf, "%02x", static_cast<unsigned char>(bytes[i]));
    *out += buf;
    if (i + 1 == bytes.size()) break;
    *out += ',';
    line_len += 3;
    if (line_len >= kHexLineLimit) {
      *out += "\\\r\n  ";
      line_len = 2;
    }
  }
}

void AppendValue(const NamedValue& v, std::string* out) {
  std::string head = v.name.empty() ? "@=" : "\"" + Escaped(v.name) + "\"=";
  *out += head;
  const std::string& data = v.value.data;
  if (v.value.type == ValueType::kString && IsPlainText(data)) {
    *out += "\"" + Escaped(std::string_view(data).substr(0, data.size() - 1)) + "\"";
  } else if (v.value.type == ValueType::kDword && data.size() == 4) {
    uint32_t n = 0;
    for (int i = 3; i >= 0; --i)
      n = n << 8 | static_cast<unsigned char>(data[static_cast<size_t>(i)]);
    char buf[16];
    std::snprintf(buf, sizeof buf, "dword:%08x", n);
    *out += buf;
  } else if (v.value.type == ValueType::kBinary) {
    AppendHexData("hex:", data, head.size(), out);
  } else {
    char prefix[24];
    std::snprintf(prefix, sizeof prefix, "hex(%x):", static_cast<unsigned>(v.value.type));
    AppendHexData(prefix, data, head.size(), out);
  }
  *out += "\r\n";
}

void AppendKey(RegistryStore& store, RootKey root, const std::string& path,
               const std::string& full_name, std::string* out) {
  *out += "[" + full_name + "]\r\n";
  for (const NamedValue& v : store.Values(root, path)) AppendValue(v, out);
  *out += "\r\n";
  for (const std::string& sub : store.SubkeyNames(root, path)) {
    AppendKey(store, root, path.empty() ? sub : path + "\\" + sub, full_name + "\\" + sub, out);
  }
}

// The path with each name in the case it was created with.
std::string StoredCase(RegistryStore& store, RootKey root, std::string_view path) {
  std::string result;
  while (!path.empty()) {
    size_t end = path.find('\\');
    std::string_view name = path.substr(0, end);
    std::string stored(name);
    for (const std::string& sub : store.SubkeyNames(root, result)) {
      if (SameName(sub, name)) {
        stored = sub;
        break;
      }
    }
    if (!result.empty()) result += '\\';
    result += stored;
    path = end == std::string_view::npos ? std::string_view() : path.substr(end + 1);
  }
  return result;
}

}  // namespace

std::vector<RegChange> ParseRegFile(std::string_view text) {
  std::string converted;
  if (text.starts_with("\xFF\xFE")) {
    converted = FromUtf16File(text.substr(2));
    text = converted;
  } else if (text.starts_with("\xEF\xBB\xBF")) {
    text.remove_prefix(3);
  }
  return Parser(text).Parse();
}

void CheckRegFileHeader(std::string_view head) {
  std::string converted;
  if (head.starts_with("\xFF\xFE")) {
    head.remove_prefix(2);
    size_t bad = 0;
    // The characters before a fault, or before a unit cut off by the probe.
    Utf16LeToUtf8(head.substr(0, head.size() & ~size_t{1}), &converted, &bad);
    head = converted;
  } else if (head.starts_with("\xEF\xBB\xBF")) {
    head.remove_prefix(3);
  }
  if (!head.starts_with(kHeader4) && !head.starts_with(kHeader5)) NotARegistryFile();
}

void ApplyRegChanges(RegistryStore& store, const std::vector<RegChange>& changes) {
  store.Atomically([&](RegistryStore& s) {
    for (const RegChange& c : changes) {
      switch (c.kind) {
        case RegChange::kCreateKey:
          if (!s.CreateKey(c.root, c.path)) {
            throw StoreError("cannot create key " + std::string(RootKeyName(c.root)) + "\\" +
                             c.path);
          }
          break;
        case RegChange::kDeleteKey:
          s.DeleteKey(c.root, c.path);
          break;
        case RegChange::kSetValue:
          if (!s.SetValue(c.root, c.path, c.name, c.value) &&
              !(s.CreateKey(c.root, c.path) && s.SetValue(c.root, c.path, c.name, c.value))) {
            throw StoreError("cannot set value " + c.name + " of " +
                             std::string(RootKeyName(c.root)) + "\\" + c.path);
          }
          break;
        case RegChange::kDeleteValue:
          s.DeleteValue(c.root, c.path, c.name);
          break;
      }
    }
  });
}

std::optional<std::string> ExportRegKey(RegistryStore& store, RootKey root, std::string_view path) {
  std::optional<std::string> out;
  // One transaction, so the export is one consistent snapshot.
  store.Atomically([&](RegistryStore& s) {
    if (!s.KeyExists(root, path)) return;
    std::string stored = StoredCase(s, root, path);
    std::string full_name(RootKeyName(root));
    if (!stored.empty()) full_name += "\\" + stored;
    out.emplace(std::string(kHeader4) + "\r\n\r\n");
    AppendKey(s, root, stored, full_name, &*out);
  });
  return out;
}

bool ParseKeyName(std::string_view full, RootKey* root, std::string* path) {
  const size_t slash = full.find('\\');
  const std::string_view head = full.substr(0, slash);
  const std::string_view rest =
      slash == std::string_view::npos ? std::string_view() : full.substr(slash + 1);
  std::string prefix;
  if (SameName(head, "HKEY_LOCAL_MACHINE") || SameName(head, "HKLM")) {
    *root = RootKey::kLocalMachine;
  } else if (SameName(head, "HKEY_CLASSES_ROOT") || SameName(head, "HKCR")) {
    *root = RootKey::kClassesRoot;
  } else if (SameName(head, "HKEY_USERS") || SameName(head, "HKU")) {
    *root = RootKey::kUsers;
  } else if (SameName(head, "HKEY_CURRENT_USER") || SameName(head, "HKCU")) {
    *root = RootKey::kUsers;
    prefix = ".DEFAULT";
  } else {
    return false;
  }
  // Every name in the path must be non-empty.
  if (!rest.empty() && (rest.front() == '\\' || rest.back() == '\\' ||
                        rest.find("\\\\") != std::string_view::npos)) {
    return false;
  }
  *path = prefix;
  if (!rest.empty()) {
    if (!path->empty()) *path += '\\';
    *path += rest;
  }
  return true;
}

}  // namespace quarrin
