// The console's secrets through libsodium: random tokens, their digests as
// the database keeps them, comparisons that take the same time wherever
// the texts differ, and Argon2id password hashes.
#ifndef QUARRIN_SERVER_CONSOLE_SECRETS_H_
#define QUARRIN_SERVER_CONSOLE_SECRETS_H_

#include <stdexcept>
#include <string>
#include <string_view>

namespace quarrin {

class SecretsError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// 32 random bytes as 64 lower-case hexadecimal digits.
std::string RandomToken();

// BLAKE2b-256 of the token, as 64 hexadecimal digits: what the database
// keeps instead of a session's token, so that a copy of the table opens
// no session.
std::string TokenDigest(std::string_view token);

// True iff a and b are equal; the time taken does not depend on where they
// differ (only on their lengths).
bool SameSecret(std::string_view a, std::string_view b);

// An Argon2id hash in the PHC string form ("$argon2id$v=19$m=...").
// Throws SecretsError when the hash cannot be made (out of memory).
std::string HashPassword(std::string_view password);

// True iff `hash` is a hash of `password`; false also for a hash that does
// not read.
bool PasswordMatches(std::string_view hash, std::string_view password);

}  // namespace quarrin

#endif  // QUARRIN_SERVER_CONSOLE_SECRETS_H_
