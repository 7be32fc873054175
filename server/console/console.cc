#include "server/console/console.h"

#include "server/console/cookies.h"
#include "server/console/html.h"
#include "server/console/layout.h"
#include "server/console/secrets.h"
#include "server/query_text.h"
#include "server/server_log.h"

namespace quarrin {

void Console::AddPage(std::string method, std::string path, Role role, PageHandler handler) {
  pages_.push_back({std::move(method), std::move(path), role, std::move(handler)});
}

const Console::Page* Console::Find(const std::string& method, const std::string& path,
                                   bool* other_method) const {
  const Page* best = nullptr;
  *other_method = false;
  for (const Page& page : pages_) {
    const bool exact = page.path == path;
    const bool below = page.path.back() == '/' && path.size() > page.path.size() &&
                       path.rfind(page.path, 0) == 0;
    if (!exact && !below) continue;
    if (page.method != method) {
      *other_method = true;
      continue;
    }
    if (exact) return &page;
    if (best == nullptr || page.path.size() > best->path.size()) best = &page;
  }
  return best;
}

void Console::Handle(const HttpServerRequest& request, HttpServerReply& reply) {
  AddConsoleHeaders(reply);
  const std::string& path = request.Path;
  try {
    if (path == kConsolePrefix || path == std::string(kConsolePrefix) + "/") {
      return Redirect(reply, "/console/fleet");
    }
    if (path == "/console/style.css") {
      reply.content_type = "text/css; charset=utf-8";
      reply.body = ConsoleStylesheet();
      return;
    }
    if (path == "/console/login") return Login(request, reply);
    if (path == "/console/logout") return Logout(request, reply);
    Serve(request, reply);
  } catch (const PgPoolExhausted&) {
    ReplyError(reply, nullptr, 503, "The database is busy; try again in a moment.");
    reply.headers.emplace_back("Retry-After", "5");
  } catch (const PgError& e) {
    ServerLog("console: " + request.Command + " " + path + ": " + e.what());
    ReplyError(reply, nullptr, 500, "The database failed; the server's log says why.");
  }
}

void Console::Serve(const HttpServerRequest& request, HttpServerReply& reply) {
  const std::string& path = request.Path;
  const bool get = request.Command == "GET" || request.Command == "HEAD";
  const std::optional<ConsoleSession> session =
      accounts_.FindSession(CookieValue(request.Header("Cookie"), kSessionCookie));
  if (!session) {
    if (get) {
      std::string next = path;
      if (!request.QueryParams.empty()) next += "?" + request.QueryParams;
      return Redirect(reply, "/console/login?next=" + UrlEncode(next));
    }
    return ReplyError(reply, nullptr, 403, "You are not logged in, or your session has ended.");
  }
  FormData form;
  PageRequest page_request{request, *session, form, "", secure_};
  bool other_method = false;
  const Page* page = Find(get ? "GET" : request.Command, path, &other_method);
  if (page == nullptr) {
    if (other_method) {
      return ReplyError(reply, &page_request, 405, request.Command + " is not served here.");
    }
    return ReplyError(reply, &page_request, 404, "There is no page " + path + ".");
  }
  try {
    form = get ? ParseUrlEncoded(request.QueryParams)
               : ParseFormBody(request.FormParams, request.Header("Content-Type"));
  } catch (const FormError& e) {
    return ReplyError(reply, &page_request, 400, std::string("The form does not read: ") + e.what());
  }
  if (!get && !SameSecret(form.Field(kCsrfField), session->csrf)) {
    return ReplyError(reply, &page_request, 403,
                      "The form has no valid token of this session; reload the page and try again.");
  }
  if (!page_request.Allows(page->role)) {
    return ReplyError(reply, &page_request, 403,
                      "This needs the " + std::string(RoleName(page->role)) + " role.");
  }
  if (page->path.back() == '/') {
    const std::optional<std::string> rest = PercentDecode(path.substr(page->path.size()));
    if (!rest) return ReplyError(reply, &page_request, 400, "The path is not percent-encoded text.");
    page_request.rest = *rest;
  }
  try {
    page->handler(page_request, reply);
  } catch (const PageError& e) {
    reply.headers.clear();
    AddConsoleHeaders(reply);
    ReplyError(reply, &page_request, e.status(), e.what());
  }
}

}  // namespace quarrin
