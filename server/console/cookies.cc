#include "server/console/cookies.h"

#include "platform/text/ascii.h"

namespace quarrin {

namespace {

std::string Attributes(std::string_view path, bool secure) {
  return std::string("; Path=") + std::string(path) + "; HttpOnly; SameSite=Strict" +
         (secure ? "; Secure" : "");
}

}  // namespace

std::string CookieValue(std::string_view header, std::string_view name) {
  while (!header.empty()) {
    const size_t semicolon = header.find(';');
    const std::string_view pair = TrimBlanks(header.substr(0, semicolon));
    header = semicolon == std::string_view::npos ? std::string_view() : header.substr(semicolon + 1);
    const size_t equals = pair.find('=');
    if (equals == std::string_view::npos || TrimBlanks(pair.substr(0, equals)) != name) continue;
    std::string_view value = TrimBlanks(pair.substr(equals + 1));
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"') {
      value = value.substr(1, value.size() - 2);
    }
    return std::string(value);
  }
  return "";
}

std::string SetCookie(std::string_view name, std::string_view value, std::string_view path,
                      bool secure) {
  return std::string(name) + "=" + std::string(value) + Attributes(path, secure);
}

std::string ClearCookie(std::string_view name, std::string_view path, bool secure) {
  return std::string(name) + "=" + Attributes(path, secure) + "; Max-Age=0";
}

}  // namespace quarrin
