// A small browser for the console's tests: keeps the cookies the server
// sets, logs in through the form, and sends forms with the session's CSRF
// token, over raw HTTP on loopback.
#ifndef QUARRIN_SERVER_CONSOLE_CONSOLE_TESTING_H_
#define QUARRIN_SERVER_CONSOLE_CONSOLE_TESTING_H_

#include <map>
#include <string>
#include <utility>
#include <vector>

#include "http/raw_http_client_testing.h"
#include "server/console/html.h"

namespace quarrin::testing {

class ConsoleBrowser {
 public:
  // `from`: the loopback address the browser connects from.
  explicit ConsoleBrowser(uint16_t port, const char* from = "127.0.0.1") : port_(port), from_(from) {}

  RawResponse Get(const std::string& target) { return Send("GET", target, "", ""); }

  // A URL-encoded form; with_csrf adds the token of the last page read.
  RawResponse Post(const std::string& target, std::vector<std::pair<std::string, std::string>> fields,
                   bool with_csrf = true) {
    if (with_csrf) fields.emplace_back("csrf", csrf_);
    std::string body;
    for (const auto& [name, value] : fields) {
      body += (body.empty() ? "" : "&") + UrlEncode(name) + "=" + UrlEncode(value);
    }
    return Send("POST", target, body, "application/x-www-form-urlencoded");
  }

  RawResponse PostRaw(const std::string& target, const std::string& body,
                      const std::string& content_type) {
    return Send("POST", target, body, content_type);
  }

  // Opens the login form and posts it; the reply to the post.
  RawResponse Login(const std::string& name, const std::string& password) {
    Get("/console/login");
    return Post("/console/login", {{"name", name}, {"password", password}});
  }

  const std::string& csrf() const { return csrf_; }
  std::string Cookie(const std::string& name) const {
    const auto it = cookies_.find(name);
    return it == cookies_.end() ? "" : it->second;
  }
  void SetCookie(const std::string& name, const std::string& value) { cookies_[name] = value; }
  // The Set-Cookie headers of the last reply.
  const std::vector<std::string>& set_cookies() const { return set_cookies_; }

 private:
  RawResponse Send(const std::string& method, const std::string& target, const std::string& body,
                   const std::string& content_type) {
    std::string request = method + " " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\n";
    std::string cookie;
    for (const auto& [name, value] : cookies_) {
      cookie += (cookie.empty() ? "" : "; ") + name + "=" + value;
    }
    if (!cookie.empty()) request += "Cookie: " + cookie + "\r\n";
    if (!content_type.empty()) request += "Content-Type: " + content_type + "\r\n";
    request += "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
    RawResponse r = RawExchange(port_, request, std::chrono::seconds(30), from_);
    set_cookies_.clear();
    for (const auto& [key, value] : r.headers) {
      if (!EqualsIgnoringAsciiCase(key, "Set-Cookie")) continue;
      set_cookies_.push_back(value);
      const size_t equals = value.find('=');
      const std::string name = value.substr(0, equals);
      const std::string v = value.substr(equals + 1, value.find(';') - equals - 1);
      if (value.find("Max-Age=0") != std::string::npos) {
        cookies_.erase(name);
      } else {
        cookies_[name] = v;
      }
    }
    // The token of the page's forms.
    const std::string marker = "name=\"csrf\" value=\"";
    if (const size_t at = r.body.find(marker); at != std::string::npos) {
      const size_t start = at + marker.size();
      csrf_ = r.body.substr(start, r.body.find('"', start) - start);
    }
    return r;
  }

  uint16_t port_;
  const char* from_;
  std::map<std::string, std::string> cookies_;
  std::vector<std::string> set_cookies_;
  std::string csrf_;
};

}  // namespace quarrin::testing

#endif  // QUARRIN_SERVER_CONSOLE_CONSOLE_TESTING_H_
