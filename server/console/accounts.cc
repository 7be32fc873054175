#include "server/console/accounts.h"

#include <algorithm>

#include "server/console/secrets.h"

namespace quarrin {

namespace {

constexpr std::chrono::seconds kMaxLoginDelay{15 * 60};
// A session's last use is written at most this often: a page view costs a
// read, not a write, most of the time.
constexpr int kTouchSeconds = 60;

class SemaphoreHold {
 public:
  explicit SemaphoreHold(std::counting_semaphore<2>& s) : s_(s) { s_.acquire(); }
  ~SemaphoreHold() { s_.release(); }

 private:
  std::counting_semaphore<2>& s_;
};

void CheckName(const std::string& name) {
  const bool blank_end = !name.empty() && (name.front() == ' ' || name.back() == ' ');
  const bool control = std::any_of(name.begin(), name.end(),
                                   [](char c) { return static_cast<unsigned char>(c) < 0x20; });
  if (name.empty() || name.size() > 64 || blank_end || control) {
    throw AccountError("'" + name + "' is not an account name (1 to 64 characters, no control "
                       "characters, no blanks at the ends)");
  }
}

std::optional<std::string> Address(const std::string& address) {
  if (address.empty()) return std::nullopt;
  return address;
}

}  // namespace

std::string_view RoleName(Role role) {
  switch (role) {
    case Role::kViewer: return "viewer";
    case Role::kOperator: return "operator";
    case Role::kAdministrator: return "administrator";
  }
  return "viewer";
}

std::optional<Role> ParseRole(std::string_view name) {
  for (Role r : {Role::kViewer, Role::kOperator, Role::kAdministrator}) {
    if (RoleName(r) == name) return r;
  }
  return std::nullopt;
}

std::chrono::seconds LoginDelay(int failures) {
  if (failures <= kFreeLoginFailures) return std::chrono::seconds(0);
  const int doublings = failures - kFreeLoginFailures - 1;
  if (doublings >= 10) return kMaxLoginDelay;
  return std::min(kMaxLoginDelay, std::chrono::seconds(int64_t{1} << doublings));
}

void ConsoleAccounts::AddUser(const std::string& name, Role role, const std::string& password) {
  CheckName(name);
  if (password.size() < kMinPasswordChars) {
    throw AccountError("the password needs at least " + std::to_string(kMinPasswordChars) +
                       " characters");
  }
  std::string hash;
  {
    SemaphoreHold hold(hashing_);
    hash = HashPassword(password);
  }
  RunTransaction(pool_, [&](PgTransaction& tx) {
    PgResult r = tx.Exec(
        "INSERT INTO console_users (name, role, password_hash) VALUES ($1, $2, $3)"
        " ON CONFLICT ((lower(name))) DO NOTHING",
        {name, std::string(RoleName(role)), hash});
    if (r.affected() == 0) throw AccountError("there is an account " + name + " already");
  });
}

std::optional<ConsoleUser> ConsoleAccounts::CheckPassword(const std::string& name,
                                                         const std::string& password) {
  // Verified against when the name is unknown, so that both take as long.
  static const std::string unknown_hash = HashPassword(RandomToken());
  std::optional<ConsoleUser> user;
  std::string hash = unknown_hash;
  {
    PgPool::Lease session = pool_.Acquire();
    PgResult r = session->Exec(
        "SELECT id, name, role, password_hash FROM console_users WHERE lower(name) = lower($1)",
        {name});
    if (r.rows() == 1) {
      user = ConsoleUser{r.Int64(0, 0), r.Text(0, 1), ParseRole(r.Text(0, 2)).value_or(Role::kViewer)};
      hash = r.Text(0, 3);
    }
  }
  SemaphoreHold hold(hashing_);
  if (!PasswordMatches(hash, password) || !user) return std::nullopt;
  return user;
}

std::string ConsoleAccounts::StartSession(const ConsoleUser& user, const std::string& address,
                                          ConsoleSession* session) {
  const std::string token = RandomToken();
  session->user = user;
  session->csrf = RandomToken();
  RunTransaction(pool_, [&](PgTransaction& tx) {
    tx.Exec(
        "INSERT INTO console_sessions (token_digest, user_id, csrf, address, created, last_used)"
        " VALUES ($1, $2, $3, $4::inet, now(), now())",
        {TokenDigest(token), PgValue(user.id), session->csrf, Address(address)});
  });
  return token;
}

std::optional<ConsoleSession> ConsoleAccounts::FindSession(const std::string& token) {
  if (token.empty()) return std::nullopt;
  const std::string digest = TokenDigest(token);
  PgPool::Lease db = pool_.Acquire();
  PgResult r = db->Exec(
      "SELECT u.id, u.name, u.role, s.csrf,"
      " s.last_used < now() - make_interval(secs => $4::integer)"
      " FROM console_sessions s JOIN console_users u ON u.id = s.user_id"
      " WHERE s.token_digest = $1"
      " AND s.last_used > now() - make_interval(secs => $2::integer)"
      " AND s.created > now() - make_interval(secs => $3::integer)",
      {digest, PgValue(static_cast<int64_t>(limits_.idle.count())),
       PgValue(static_cast<int64_t>(limits_.lifetime.count())), PgValue(int64_t{kTouchSeconds})});
  if (r.rows() != 1) return std::nullopt;
  ConsoleSession s{{r.Int64(0, 0), r.Text(0, 1), ParseRole(r.Text(0, 2)).value_or(Role::kViewer)},
                   r.Text(0, 3)};
  if (r.Bool(0, 4)) {
    // A last use lost to a crash costs nothing: the page need not wait for
    // the disk.
    PgTransaction tx(*db);
    tx.Exec("SET LOCAL synchronous_commit = off");
    tx.Exec("UPDATE console_sessions SET last_used = now() WHERE token_digest = $1", {digest});
    tx.Commit();
  }
  return s;
}

void ConsoleAccounts::EndSession(const std::string& token) {
  if (token.empty()) return;
  PgPool::Lease db = pool_.Acquire();
  db->Exec("DELETE FROM console_sessions WHERE token_digest = $1", {TokenDigest(token)});
}

int ConsoleAccounts::DeleteExpiredSessions(int batch) {
  PgPool::Lease db = pool_.Acquire();
  return static_cast<int>(
      db->Exec("DELETE FROM console_sessions WHERE token_digest IN (SELECT token_digest"
               " FROM console_sessions WHERE last_used < now() - make_interval(secs => $1::integer)"
               " OR created < now() - make_interval(secs => $2::integer) LIMIT $3)",
               {PgValue(static_cast<int64_t>(limits_.idle.count())),
                PgValue(static_cast<int64_t>(limits_.lifetime.count())), PgValue(int64_t{batch})})
          .affected());
}

std::chrono::seconds ConsoleAccounts::LoginWait(const std::string& address) {
  if (address.empty()) return std::chrono::seconds(0);
  PgPool::Lease db = pool_.Acquire();
  PgResult r = db->Exec(
      "SELECT ceil(extract(epoch FROM blocked_until - now()))::bigint FROM console_login_failures"
      " WHERE address = $1::inet AND blocked_until > now()",
      {address});
  return std::chrono::seconds(r.rows() == 1 ? r.Int64(0, 0) : 0);
}

void ConsoleAccounts::LoginFailed(const std::string& address) {
  if (address.empty()) return;
  RunTransaction(pool_, [&](PgTransaction& tx) {
    PgResult r = tx.Exec(
        "INSERT INTO console_login_failures AS f (address, failures, last_failure, blocked_until)"
        " VALUES ($1::inet, 1, now(), now())"
        " ON CONFLICT (address) DO UPDATE SET failures = CASE WHEN f.last_failure <"
        " now() - interval '1 hour' THEN 1 ELSE f.failures + 1 END, last_failure = now()"
        " RETURNING failures",
        {address});
    const int failures = static_cast<int>(r.Int64(0, 0));
    tx.Exec(
        "UPDATE console_login_failures SET blocked_until = now() + make_interval(secs => $2::integer)"
        " WHERE address = $1::inet",
        {address, PgValue(static_cast<int64_t>(LoginDelay(failures).count()))});
  });
}

void ConsoleAccounts::LoginSucceeded(const std::string& address) {
  if (address.empty()) return;
  PgPool::Lease db = pool_.Acquire();
  db->Exec("DELETE FROM console_login_failures WHERE address = $1::inet", {address});
}

}  // namespace quarrin
