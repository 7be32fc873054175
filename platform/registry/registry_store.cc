#include "platform/text/ascii.h"
#include "platform/registry/registry_store.h"

#include <algorithm>

#include "platform/text/utf8.h"

namespace quarrin {

std::string_view RootKeyName(RootKey root) {
  switch (root) {
    case RootKey::kClassesRoot:
      return "HKEY_CLASSES_ROOT";
    case RootKey::kLocalMachine:
      return "HKEY_LOCAL_MACHINE";
    case RootKey::kUsers:
      return "HKEY_USERS";
  }
  return "HKEY_LOCAL_MACHINE";
}

std::string FoldName(std::string_view name) { return LowerAscii(name); }

bool SameName(std::string_view a, std::string_view b) { return EqualsIgnoringAsciiCase(a, b); }

namespace {

// The name as an error shows it: a long one cut short.
std::string Shown(std::string_view name) {
  constexpr size_t kShown = 40;
  if (name.size() <= kShown) return "'" + std::string(name) + "'";
  size_t cut = kShown;  // not inside a character
  while (cut > 0 && (static_cast<unsigned char>(name[cut]) & 0xC0) == 0x80) --cut;
  return "'" + std::string(name.substr(0, cut)) + "...'";
}

std::optional<std::string> NameProblem(std::string_view name, const char* what, size_t max_chars) {
  if (name.find('\0') != std::string_view::npos) {
    return std::string(what) + " " + Shown(name.substr(0, name.find('\0'))) +
           " holds a zero byte";
  }
  if (Utf8CharCount(name) > max_chars) {
    return std::string(what) + " " + Shown(name) + " is longer than " +
           std::to_string(max_chars) + " characters";
  }
  return std::nullopt;
}

}  // namespace

std::optional<std::string> KeyPathProblem(std::string_view path) {
  if (path.empty()) return std::nullopt;  // the root itself
  size_t depth = 0;
  for (size_t start = 0;;) {
    const size_t end = path.find('\\', start);
    std::string_view name = path.substr(start, end == std::string_view::npos ? end : end - start);
    if (name.empty()) return "empty key name in " + Shown(path);
    if (auto problem = NameProblem(name, "key name", kMaxKeyNameChars)) return problem;
    if (++depth > kMaxKeyDepth) {
      return "key " + Shown(path) + " is more than " + std::to_string(kMaxKeyDepth) +
             " levels deep";
    }
    if (end == std::string_view::npos) return std::nullopt;
    start = end + 1;
  }
}

std::optional<std::string> ValueNameProblem(std::string_view name) {
  return NameProblem(name, "value name", kMaxValueNameChars);
}

}  // namespace quarrin
