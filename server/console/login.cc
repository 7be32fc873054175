// The login form, its check and the logout: the parts of the console that
// run before, or at the end of, a session.
#include "server/console/console.h"
#include "server/console/cookies.h"
#include "server/console/html.h"
#include "server/console/layout.h"
#include "server/console/secrets.h"
#include "server/query_text.h"

namespace quarrin {

namespace {

// Before a session there is no CSRF token to carry: the login form holds a
// random value that must match this cookie's (a cookie another site's form
// cannot set).
constexpr char kLoginCookie[] = "quarrin_login";

// Where to go after the login: a console page, never somewhere else.
std::string NextPage(const std::string& next) {
  const bool local = next.rfind("/console/", 0) == 0 &&
                     next.find_first_of("\\\r\n") == std::string::npos &&
                     next.find("//") == std::string::npos;
  return local ? next : "/console/fleet";
}

}  // namespace

void Console::LoginForm(HttpServerReply& reply, const std::string& next, const std::string& message,
                        unsigned status) {
  const std::string token = RandomToken();
  reply.status = status;
  reply.content_type = "text/html; charset=utf-8";
  reply.headers.emplace_back("Set-Cookie", SetCookie(kLoginCookie, token, kConsolePrefix, secure_));
  reply.body =
      "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">"
      "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">"
      "<title>Log in - Quarrin console</title>"
      "<link rel=\"stylesheet\" href=\"/console/style.css\"></head>\n"
      "<body><main class=\"narrow\"><h1>Quarrin console</h1>" +
      (message.empty() ? "" : "<p class=\"error\">" + Html(message) + "</p>") +
      "<form method=\"post\" action=\"/console/login\" class=\"login\">"
      "<input type=\"hidden\" name=\"csrf\" value=\"" + token + "\">"
      "<input type=\"hidden\" name=\"next\" value=\"" + Html(next) + "\">"
      "<label>Name <input name=\"name\" autocomplete=\"username\" required autofocus></label>"
      "<label>Password <input name=\"password\" type=\"password\" "
      "autocomplete=\"current-password\" required></label>"
      "<button type=\"submit\">Log in</button></form></main></body></html>\n";
}

void Console::Login(const HttpServerRequest& request, HttpServerReply& reply) {
  if (request.Command == "GET" || request.Command == "HEAD") {
    return LoginForm(reply, QueryParameter(request.QueryParams, "next").value_or(""), "", 200);
  }
  if (request.Command != "POST") return ReplyError(reply, nullptr, 405, "Log in with the form.");
  FormData form;
  try {
    form = ParseFormBody(request.FormParams, request.Header("Content-Type"));
  } catch (const FormError& e) {
    return ReplyError(reply, nullptr, 400, std::string("The form does not read: ") + e.what());
  }
  const std::string next = form.Field("next");
  const std::string expected = CookieValue(request.Header("Cookie"), kLoginCookie);
  if (expected.empty() || !SameSecret(form.Field("csrf"), expected)) {
    return LoginForm(reply, next, "The login form had expired; please log in again.", 403);
  }
  const std::string& address = request.RemoteIP;
  if (const std::chrono::seconds wait = accounts_.LoginWait(address); wait.count() > 0) {
    LoginForm(reply, next,
              "Too many failed logins from your address: wait " + std::to_string(wait.count()) +
                  " seconds.",
              429);
    reply.headers.emplace_back("Retry-After", std::to_string(wait.count()));
    return;
  }
  const std::optional<ConsoleUser> user =
      accounts_.CheckPassword(form.Field("name"), form.Field("password"));
  if (!user) {
    accounts_.LoginFailed(address);
    return LoginForm(reply, next, "Wrong name or password.", 403);
  }
  accounts_.LoginSucceeded(address);
  ConsoleSession session;
  const std::string token = accounts_.StartSession(*user, address, &session);
  reply.headers.emplace_back("Set-Cookie", SetCookie(kSessionCookie, token, kConsolePrefix, secure_));
  reply.headers.emplace_back("Set-Cookie", ClearCookie(kLoginCookie, kConsolePrefix, secure_));
  Redirect(reply, NextPage(next));
}

void Console::Logout(const HttpServerRequest& request, HttpServerReply& reply) {
  if (request.Command != "POST") return ReplyError(reply, nullptr, 405, "Log out with the button.");
  const std::string token = CookieValue(request.Header("Cookie"), kSessionCookie);
  const std::optional<ConsoleSession> session = accounts_.FindSession(token);
  if (session) {
    FormData form;
    try {
      form = ParseFormBody(request.FormParams, request.Header("Content-Type"));
    } catch (const FormError&) {
    }
    if (!SameSecret(form.Field(kCsrfField), session->csrf)) {
      return ReplyError(reply, nullptr, 403, "The form has no valid token of this session.");
    }
    accounts_.EndSession(token);
  }
  reply.headers.emplace_back("Set-Cookie", ClearCookie(kSessionCookie, kConsolePrefix, secure_));
  Redirect(reply, "/console/login");
}

}  // namespace quarrin
