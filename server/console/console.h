// The console: server-rendered HTML pages for administrators under
// /console/, behind a login.
//
//   GET  /console/style.css          the one stylesheet (no login needed)
//   GET  /console/login              the login form; POST checks it
//   POST /console/logout             ends the session
//   any other /console/... page      registered with AddPage
//
// Every page but the three above needs a session (accounts.h): without
// one, a GET is sent to the login form and anything else gets 403. A page
// whose role the user lacks gets 403; a POST without the session's CSRF
// token in its form gets 403 too, before its handler runs. Replies carry a
// Content-Security-Policy that allows no script and no outside source.
#ifndef QUARRIN_SERVER_CONSOLE_CONSOLE_H_
#define QUARRIN_SERVER_CONSOLE_CONSOLE_H_

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "http/http_server.h"
#include "server/console/accounts.h"
#include "server/console/form.h"

namespace quarrin {

inline constexpr char kConsolePrefix[] = "/console";

// A request that passed the console's checks, as a page handler sees it.
struct PageRequest {
  const HttpServerRequest& http;
  const ConsoleSession& session;
  // POST: the body's fields (and files); GET: the query's fields.
  const FormData& form;
  // For a page registered with a path ending in "/": the rest of the path,
  // percent-decoded ("PC07" of "/console/machines/PC07").
  std::string rest;
  bool secure = false;  // the server speaks HTTPS

  const ConsoleUser& user() const { return session.user; }
  // True iff the user's role is `role` or above.
  bool Allows(Role role) const { return user().role >= role; }
  // A field of the form; empty when absent.
  std::string Param(std::string_view name) const { return form.Field(name); }
};

// A handler's way out with a status and a message for the error page.
class PageError : public std::runtime_error {
 public:
  PageError(unsigned status, const std::string& text) : std::runtime_error(text), status_(status) {}
  unsigned status() const { return status_; }

 private:
  unsigned status_;
};

using PageHandler = std::function<void(const PageRequest&, HttpServerReply&)>;

// Safe for concurrent use once its pages are added.
class Console {
 public:
  // `secure`: the server speaks HTTPS, so cookies are marked Secure.
  Console(ConsoleAccounts& accounts, bool secure) : accounts_(accounts), secure_(secure) {}

  static bool Serves(const std::string& path) {
    return path == kConsolePrefix || path.rfind(std::string(kConsolePrefix) + "/", 0) == 0;
  }

  // Adds a page for one method ("GET" also serves HEAD; "POST"). `path` is
  // the whole path ("/console/fleet"); one that ends in "/" also serves
  // every path below it. A request goes to the exact path first, then to
  // the longest prefix. Not safe while requests are served.
  void AddPage(std::string method, std::string path, Role role, PageHandler handler);

  void Handle(const HttpServerRequest& request, HttpServerReply& reply);

 private:
  struct Page {
    std::string method;
    std::string path;
    Role role;
    PageHandler handler;
  };
  const Page* Find(const std::string& method, const std::string& path, bool* other_method) const;
  void Login(const HttpServerRequest& request, HttpServerReply& reply);
  void LoginForm(HttpServerReply& reply, const std::string& next, const std::string& message,
                 unsigned status);
  void Logout(const HttpServerRequest& request, HttpServerReply& reply);
  void Serve(const HttpServerRequest& request, HttpServerReply& reply);

  ConsoleAccounts& accounts_;
  const bool secure_;
  std::vector<Page> pages_;
};

}  // namespace quarrin

#endif  // QUARRIN_SERVER_CONSOLE_CONSOLE_H_
