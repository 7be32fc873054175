// The console's cookies: reading one from a request's Cookie header, and
// the Set-Cookie values of the session and login cookies. Every cookie the
// console sets is HttpOnly and SameSite=Strict, bound to the console's
// path, and Secure when the server speaks HTTPS; none has an expiry of its
// own (the session ends on the server's side).
#ifndef QUARRIN_SERVER_CONSOLE_COOKIES_H_
#define QUARRIN_SERVER_CONSOLE_COOKIES_H_

#include <string>
#include <string_view>

namespace quarrin {

// The session's cookie.
inline constexpr char kSessionCookie[] = "quarrin_session";

// The value of the first cookie of that name in a Cookie header
// ("a=1; b=2"); empty when there is none.
std::string CookieValue(std::string_view header, std::string_view name);

// A Set-Cookie value that sets the cookie.
std::string SetCookie(std::string_view name, std::string_view value, std::string_view path,
                      bool secure);

// A Set-Cookie value that makes the browser forget the cookie.
std::string ClearCookie(std::string_view name, std::string_view path, bool secure);

}  // namespace quarrin

#endif  // QUARRIN_SERVER_CONSOLE_COOKIES_H_
