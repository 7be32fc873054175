// The frame of every console page and the pieces pages build from: the
// header with its navigation, the user's name and role and the logout
// button; forms that carry the session's CSRF token; redirects; the error
// page; the stylesheet.
#ifndef QUARRIN_SERVER_CONSOLE_LAYOUT_H_
#define QUARRIN_SERVER_CONSOLE_LAYOUT_H_

#include <string>
#include <string_view>

#include "http/http_server.h"
#include "server/console/console.h"

namespace quarrin {

// The field name of the CSRF token in every form.
inline constexpr char kCsrfField[] = "csrf";

// A whole page: `body` (HTML) below the header. The navigation marks the
// section whose path begins the request's.
std::string RenderPage(const PageRequest& request, std::string_view title, std::string_view body);

// Fills the reply with RenderPage (status 200 unless set), as HTML that is
// not cached and may not be framed.
void ReplyPage(HttpServerReply& reply, const PageRequest& request, std::string_view title,
               std::string_view body);

// The hidden field that carries the session's CSRF token.
std::string CsrfField(const PageRequest& request);

// "<form method="post" action=...>" and the CSRF field; the caller closes
// it with "</form>". `multipart` for a form with files.
std::string PostForm(const PageRequest& request, std::string_view action, bool multipart = false,
                     std::string_view css_class = "");

// 303 to a path of the server's own.
void Redirect(HttpServerReply& reply, std::string_view location);

// The headers every console reply carries: no script, no outside source,
// no framing, no caching.
void AddConsoleHeaders(HttpServerReply& reply);

// A page that says what went wrong, with the status; with a session, inside
// the frame (`request` non-null), else on its own.
void ReplyError(HttpServerReply& reply, const PageRequest* request, unsigned status,
                std::string_view text);

// The console's stylesheet (text/css).
std::string_view ConsoleStylesheet();

}  // namespace quarrin

#endif  // QUARRIN_SERVER_CONSOLE_LAYOUT_H_
