// The console's gate on a real database over HTTP: logins, sessions and
// their end, roles, CSRF tokens and the slowing of password guessing.
#include <gtest/gtest.h>

#include <atomic>

#include "server/console/console.h"
#include "server/console/console_testing.h"
#include "server/console/cookies.h"
#include "server/console/layout.h"
#include "server/pg_testing.h"

namespace quarrin {
namespace {

constexpr char kPassword[] = "a long enough password";

class ConsoleTest : public testing::PgTest {
 protected:
  void SetUp() override {
    PgTest::SetUp();
    if (IsSkipped()) return;
    accounts_ = std::make_unique<ConsoleAccounts>(*pool_, SessionLimits{});
    console_ = std::make_unique<Console>(*accounts_, false);
    console_->AddPage("GET", "/console/fleet", Role::kViewer,
                      [](const PageRequest& r, HttpServerReply& reply) {
                        ReplyPage(reply, r, "Fleet", PostForm(r, "/console/act") + "</form>");
                      });
    console_->AddPage("POST", "/console/act", Role::kOperator,
                      [this](const PageRequest& r, HttpServerReply& reply) {
                        ++acted_;
                        ReplyPage(reply, r, "Done", Html(r.Param("what")));
                      });
    console_->AddPage("GET", "/console/machines/", Role::kViewer,
                      [](const PageRequest& r, HttpServerReply& reply) {
                        ReplyPage(reply, r, "Machine", "<p id=rest>" + Html(r.rest) + "</p>");
                      });
    server_ = std::make_unique<HttpServer>(
        [this](const HttpServerRequest& q, HttpServerReply& a) { console_->Handle(q, a); });
    HttpServerOptions options;
    options.loopback_only = true;
    std::string error;
    ASSERT_TRUE(server_->Start(options, &error)) << error;
    accounts_->AddUser("Vera", Role::kViewer, kPassword);
    accounts_->AddUser("Otto", Role::kOperator, kPassword);
  }
  void TearDown() override {
    server_.reset();
    PgTest::TearDown();
  }

  testing::ConsoleBrowser Browser(const char* from = "127.0.0.1") {
    return testing::ConsoleBrowser(server_->port(), from);
  }

  std::unique_ptr<ConsoleAccounts> accounts_;
  std::unique_ptr<Console> console_;
  std::unique_ptr<HttpServer> server_;
  std::atomic<int> acted_{0};
};

TEST_F(ConsoleTest, LoginOpensASessionInASafeCookieAndLogoutEndsIt) {
  testing::ConsoleBrowser b = Browser();
  testing::RawResponse r = b.Get("/console/machines/PC%2007?x=1");
  EXPECT_EQ(r.status, 303);
  EXPECT_EQ(r.Header("Location"), "/console/login?next=%2Fconsole%2Fmachines%2FPC%252007%3Fx%3D1");

  EXPECT_EQ(b.Login("vera", "wrong password!").status, 403);
  EXPECT_EQ(b.Cookie(kSessionCookie), "");
  b.Get("/console/login");
  r = b.Post("/console/login",
             {{"name", "VERA"}, {"password", kPassword}, {"next", "/console/machines/PC%2007"}});
  EXPECT_EQ(r.status, 303);
  EXPECT_EQ(r.Header("Location"), "/console/machines/PC%2007");
  ASSERT_EQ(b.set_cookies().size(), 2u);
  EXPECT_EQ(b.set_cookies()[0].find("quarrin_session="), 0u);
  EXPECT_NE(b.set_cookies()[0].find("; Path=/console; HttpOnly; SameSite=Strict"), std::string::npos);
  EXPECT_EQ(b.Cookie("quarrin_login"), "");  // the login form's cookie is cleared

  r = b.Get("/console/machines/PC%2007");
  EXPECT_EQ(r.status, 200);
  EXPECT_NE(r.body.find("<p id=rest>PC 07</p>"), std::string::npos);
  EXPECT_NE(r.body.find("Vera <span class=\"role\">viewer</span>"), std::string::npos);
  EXPECT_NE(r.Header("Content-Security-Policy").find("default-src 'none'"), std::string::npos);
  // The database keeps a digest of the token, not the token.
  EXPECT_EQ(Count("SELECT count(*) FROM console_sessions WHERE token_digest = '" +
                  b.Cookie(kSessionCookie) + "'"),
            0);

  const std::string token = b.Cookie(kSessionCookie);
  EXPECT_EQ(b.Post("/console/logout", {}, false).status, 403);
  EXPECT_EQ(b.Post("/console/logout", {}).status, 303);
  EXPECT_EQ(b.Cookie(kSessionCookie), "");
  b.SetCookie(kSessionCookie, token);  // a copy of the old cookie opens nothing
  EXPECT_EQ(b.Get("/console/fleet").status, 303);
}

TEST_F(ConsoleTest, OnlyALocalPageIsALoginsNextPage) {
  for (const char* next : {"https://evil.example/", "//evil.example/console/", "/console/\r\nX: y",
                           "/elsewhere", ""}) {
    testing::ConsoleBrowser b = Browser();
    b.Get("/console/login");
    const testing::RawResponse r =
        b.Post("/console/login", {{"name", "Vera"}, {"password", kPassword}, {"next", next}});
    EXPECT_EQ(r.Header("Location"), "/console/fleet") << next;
  }
}

TEST_F(ConsoleTest, ALoginFormWithoutItsCookieTokenIsRefused) {
  testing::ConsoleBrowser b = Browser();
  // A forged login post from another site: no login cookie, or a different token.
  EXPECT_EQ(b.Post("/console/login", {{"name", "Vera"}, {"password", kPassword}, {"csrf", "x"}}, false)
                .status,
            403);
  b.Get("/console/login");
  EXPECT_EQ(b.Post("/console/login", {{"name", "Vera"}, {"password", kPassword}, {"csrf", "x"}}, false)
                .status,
            403);
  EXPECT_EQ(b.Cookie(kSessionCookie), "");
}

TEST_F(ConsoleTest, SessionsEndWhenIdleOrOldWhicheverComesFirst) {
  const struct {
    const char* what;
    const char* last_used;
    const char* created;
    bool open;
  } cases[] = {
      {"fresh", "now()", "now()", true},
      {"used a while ago", "now() - interval '50 minutes'", "now() - interval '7 hours'", true},
      {"idle too long", "now() - interval '61 minutes'", "now() - interval '2 hours'", false},
      {"too old though busy", "now()", "now() - interval '8 hours 1 minute'", false},
  };
  for (const auto& c : cases) {
    testing::ConsoleBrowser b = Browser();
    ASSERT_EQ(b.Login("Vera", kPassword).status, 303);
    Connect()->Exec(std::string("UPDATE console_sessions SET last_used = ") + c.last_used +
                    ", created = " + c.created);
    EXPECT_EQ(b.Get("/console/fleet").status, c.open ? 200 : 303) << c.what;
    Connect()->Exec("DELETE FROM console_sessions");
  }
  // The sweep deletes what has expired and nothing else.
  testing::ConsoleBrowser old = Browser(), fresh = Browser();
  ASSERT_EQ(old.Login("Vera", kPassword).status, 303);
  Connect()->Exec("UPDATE console_sessions SET last_used = now() - interval '2 hours'");
  ASSERT_EQ(fresh.Login("Vera", kPassword).status, 303);
  EXPECT_EQ(accounts_->DeleteExpiredSessions(), 1);
  EXPECT_EQ(fresh.Get("/console/fleet").status, 200);
}

TEST_F(ConsoleTest, APostNeedsTheSessionsTokenAndTheRole) {
  testing::ConsoleBrowser viewer = Browser(), op = Browser();
  ASSERT_EQ(viewer.Login("Vera", kPassword).status, 303);
  ASSERT_EQ(op.Login("Otto", kPassword).status, 303);
  viewer.Get("/console/fleet");
  op.Get("/console/fleet");

  EXPECT_EQ(viewer.Post("/console/act", {{"what", "x"}}).status, 403);  // a viewer
  EXPECT_EQ(op.Post("/console/act", {{"what", "x"}}, false).status, 403);  // no token
  EXPECT_EQ(op.Post("/console/act", {{"what", "x"}, {"csrf", viewer.csrf()}}, false).status,
            403);  // another session's token
  EXPECT_EQ(Browser().Post("/console/act", {{"what", "x"}}, false).status, 403);  // no session
  EXPECT_EQ(acted_, 0);

  const testing::RawResponse r = op.Post("/console/act", {{"what", "<b>"}});
  EXPECT_EQ(r.status, 200);
  EXPECT_NE(r.body.find("&lt;b&gt;"), std::string::npos);
  // The token also comes in a multipart form.
  const std::string body = "--XyZ\r\nContent-Disposition: form-data; name=\"csrf\"\r\n\r\n" +
                           op.csrf() + "\r\n--XyZ--\r\n";
  EXPECT_EQ(op.PostRaw("/console/act", body, "multipart/form-data; boundary=XyZ").status, 200);
  EXPECT_EQ(acted_, 2);
  EXPECT_EQ(op.Get("/console/nowhere").status, 404);
  EXPECT_EQ(op.Get("/console/act").status, 405);
}

TEST_F(ConsoleTest, RepeatedFailedLoginsFromAnAddressAreSlowedDown) {
  testing::ConsoleBrowser guesser = Browser("127.0.0.7");
  for (int i = 0; i < kFreeLoginFailures; ++i) {
    EXPECT_EQ(guesser.Login("Vera", "guess number " + std::to_string(i)).status, 403) << i;
  }
  // The next failure blocks the address for a while: even the right
  // password waits, with Retry-After.
  EXPECT_EQ(guesser.Login("Vera", "one guess too many").status, 403);
  const testing::RawResponse r = guesser.Login("Vera", kPassword);
  EXPECT_EQ(r.status, 429);
  EXPECT_EQ(r.Header("Retry-After"), "1");
  EXPECT_EQ(guesser.Cookie(kSessionCookie), "");
  // Another address is not held up.
  EXPECT_EQ(Browser("127.0.0.8").Login("Vera", kPassword).status, 303);
  // Once the wait is over, a success clears the count.
  Connect()->Exec("UPDATE console_login_failures SET blocked_until = now()");
  EXPECT_EQ(guesser.Login("Vera", kPassword).status, 303);
  EXPECT_EQ(Count("SELECT count(*) FROM console_login_failures"), 0);
}

TEST_F(ConsoleTest, AccountsNeedAFreeNameAndAPasswordOfSomeLength) {
  EXPECT_THROW(accounts_->AddUser("VERA", Role::kAdministrator, kPassword), AccountError);
  EXPECT_THROW(accounts_->AddUser("Ann", Role::kViewer, "short"), AccountError);
  for (const char* name : {"", " Ann", "Ann ", "A\tnn"}) {
    EXPECT_THROW(accounts_->AddUser(name, Role::kViewer, kPassword), AccountError) << name;
  }
  EXPECT_EQ(Count("SELECT count(*) FROM console_users"), 2);
  EXPECT_EQ(Connect()->Exec("SELECT password_hash FROM console_users LIMIT 1").Text(0, 0).rfind(
                "$argon2id$", 0),
            0u);
}

}  // namespace
}  // namespace quarrin
