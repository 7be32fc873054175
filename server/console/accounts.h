// The console's accounts and sessions, in the database so that every
// server instance on it knows them.
//
// Roles, each allowing what the one before it allows: a viewer reads every
// page; an operator also acts on machines; an administrator also publishes
// and promotes builds and keeps accounts and the asset register.
//
// A session is a random token in the browser's cookie; the database keeps
// only its digest (secrets.h) with the session's CSRF token. It ends when
// it has not been used for the idle limit or is older than the lifetime,
// whichever comes first, or at logout.
//
// Login failures are counted per client address: after kFreeLoginFailures
// in a row the address waits LoginDelay before its next attempt. A success
// clears the count; so does an hour without failures.
#ifndef QUARRIN_SERVER_CONSOLE_ACCOUNTS_H_
#define QUARRIN_SERVER_CONSOLE_ACCOUNTS_H_

#include <chrono>
#include <cstdint>
#include <optional>
#include <semaphore>
#include <stdexcept>
#include <string>
#include <string_view>

#include "server/pg_pool.h"

namespace quarrin {

enum class Role { kViewer = 0, kOperator = 1, kAdministrator = 2 };

// "viewer", "operator", "administrator".
std::string_view RoleName(Role role);
std::optional<Role> ParseRole(std::string_view name);

struct ConsoleUser {
  int64_t id = 0;
  std::string name;
  Role role = Role::kViewer;
};

struct ConsoleSession {
  ConsoleUser user;
  std::string csrf;  // the token every form of the session carries
};

// An account that cannot be made; what() says why.
class AccountError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

inline constexpr int kFreeLoginFailures = 5;
inline constexpr size_t kMinPasswordChars = 10;

// The wait before the next attempt after `failures` failures in a row:
// none for the first kFreeLoginFailures, then 1 s doubling with each
// further failure, at most 15 minutes.
std::chrono::seconds LoginDelay(int failures);

struct SessionLimits {
  std::chrono::seconds idle{3600};
  std::chrono::seconds lifetime{8 * 3600};
};

// Safe for concurrent use by multiple threads.
class ConsoleAccounts {
 public:
  ConsoleAccounts(PgPool& pool, SessionLimits limits) : pool_(pool), limits_(limits) {}

  // Adds an account. Throws AccountError when the name is empty, longer
  // than 64 characters or holds control characters or blanks at its ends,
  // is taken (in any letter case), or the password is shorter than
  // kMinPasswordChars.
  void AddUser(const std::string& name, Role role, const std::string& password);

  // The account of that name (any letter case) and password; nullopt when
  // either is wrong. Takes as long for an unknown name as for a known one.
  std::optional<ConsoleUser> CheckPassword(const std::string& name, const std::string& password);

  // Starts a session for the user; returns its token for the cookie.
  std::string StartSession(const ConsoleUser& user, const std::string& address,
                           ConsoleSession* session);
  // The session of a cookie's token, marked used now; nullopt when there is
  // none or it has expired.
  std::optional<ConsoleSession> FindSession(const std::string& token);
  void EndSession(const std::string& token);
  // Deletes expired sessions, at most `batch`; returns how many.
  int DeleteExpiredSessions(int batch = 1000);

  // How long the address must still wait before it may try to log in.
  std::chrono::seconds LoginWait(const std::string& address);
  void LoginFailed(const std::string& address);
  void LoginSucceeded(const std::string& address);

 private:
  PgPool& pool_;
  const SessionLimits limits_;
  // Each hash takes tens of MiB: two at a time bound the memory that a
  // burst of logins can take.
  std::counting_semaphore<2> hashing_{2};
};

}  // namespace quarrin

#endif  // QUARRIN_SERVER_CONSOLE_ACCOUNTS_H_
