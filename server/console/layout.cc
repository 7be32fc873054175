#include "server/console/layout.h"

#include "server/console/html.h"

namespace quarrin {

namespace {

struct Section {
  const char* path;
  const char* label;
};

constexpr Section kSections[] = {
    {"/console/fleet", "Fleet"},     {"/console/applications", "Applications"},
    {"/console/updates", "Updates"}, {"/console/events", "Events"},
    {"/console/audit", "Audit"},
};

std::string Head(std::string_view title) {
  return "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">"
         "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">"
         "<title>" + Html(title) + " - Quarrin console</title>"
         "<link rel=\"stylesheet\" href=\"/console/style.css\"></head>\n";
}

}  // namespace

std::string CsrfField(const PageRequest& request) {
  return std::string("<input type=\"hidden\" name=\"") + kCsrfField + "\" value=\"" +
         Html(request.session.csrf) + "\">";
}

std::string PostForm(const PageRequest& request, std::string_view action, bool multipart,
                     std::string_view css_class) {
  std::string out = "<form method=\"post\" action=\"" + Html(action) + "\"";
  if (multipart) out += " enctype=\"multipart/form-data\"";
  if (!css_class.empty()) out += " class=\"" + Html(css_class) + "\"";
  return out + ">" + CsrfField(request);
}

std::string RenderPage(const PageRequest& request, std::string_view title, std::string_view body) {
  std::string out = Head(title);
  out += "<body><header><a class=\"brand\" href=\"/console/fleet\">Quarrin</a><nav>";
  const std::string& path = request.http.Path;
  for (const Section& s : kSections) {
    const bool here = path.rfind(s.path, 0) == 0;
    out += std::string("<a href=\"") + s.path + "\"" + (here ? " class=\"here\"" : "") + ">" +
           s.label + "</a>";
  }
  out += "</nav><div class=\"who\">" + Html(request.user().name) + " <span class=\"role\">" +
         std::string(RoleName(request.user().role)) + "</span>" +
         PostForm(request, "/console/logout", false, "logout") +
         "<button type=\"submit\">Log out</button></form></div></header>\n<main>";
  out += "<h1>" + Html(title) + "</h1>\n";
  out += body;
  return out + "</main></body></html>\n";
}

void AddConsoleHeaders(HttpServerReply& reply) {
  reply.headers.emplace_back("Content-Security-Policy",
                             "default-src 'none'; style-src 'self'; img-src 'self' data:; "
                             "form-action 'self'; frame-ancestors 'none'; base-uri 'none'");
  reply.headers.emplace_back("X-Content-Type-Options", "nosniff");
  reply.headers.emplace_back("Referrer-Policy", "same-origin");
  reply.headers.emplace_back("Cache-Control", "no-store");
}

void ReplyPage(HttpServerReply& reply, const PageRequest& request, std::string_view title,
               std::string_view body) {
  reply.content_type = "text/html; charset=utf-8";
  reply.body = RenderPage(request, title, body);
}

void Redirect(HttpServerReply& reply, std::string_view location) {
  reply.status = 303;
  reply.content_type = "text/plain; charset=utf-8";
  reply.body = "See " + std::string(location) + "\r\n";
  reply.headers.emplace_back("Location", std::string(location));
}

void ReplyError(HttpServerReply& reply, const PageRequest* request, unsigned status,
                std::string_view text) {
  const std::string title = status == 403   ? "Not allowed"
                            : status == 404 ? "Not found"
                            : status == 429 ? "Too many attempts"
                            : status == 503 ? "Busy"
                            : status >= 500 ? "Failure"
                                            : "Not understood";
  const std::string body = "<p class=\"error\">" + Html(text) + "</p>";
  reply.status = status;
  reply.content_type = "text/html; charset=utf-8";
  if (request != nullptr) {
    reply.body = RenderPage(*request, title, body);
  } else {
    reply.body = Head(title) + "<body><main class=\"narrow\"><h1>" + Html(title) + "</h1>" + body +
                 "<p><a href=\"/console/login\">Log in</a></p></main></body></html>\n";
  }
}

}  // namespace quarrin
