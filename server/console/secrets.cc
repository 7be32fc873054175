#include "server/console/secrets.h"

#include <sodium.h>

#include <array>

namespace quarrin {

namespace {

// sodium_init may be called any number of times, from any thread.
void Ready() {
  if (sodium_init() < 0) throw SecretsError("libsodium could not start");
}

std::string Hex(const unsigned char* bytes, size_t n) {
  std::string out(n * 2 + 1, '\0');
  sodium_bin2hex(out.data(), out.size(), bytes, n);
  out.pop_back();
  return out;
}

}  // namespace

std::string RandomToken() {
  Ready();
  std::array<unsigned char, 32> bytes;
  randombytes_buf(bytes.data(), bytes.size());
  return Hex(bytes.data(), bytes.size());
}

std::string TokenDigest(std::string_view token) {
  Ready();
  std::array<unsigned char, 32> digest;
  crypto_generichash(digest.data(), digest.size(),
                     reinterpret_cast<const unsigned char*>(token.data()), token.size(), nullptr, 0);
  return Hex(digest.data(), digest.size());
}

bool SameSecret(std::string_view a, std::string_view b) {
  unsigned char diff = a.size() == b.size() ? 0 : 1;
  for (size_t i = 0; i < a.size(); ++i) {
    diff |= static_cast<unsigned char>(a[i] ^ (i < b.size() ? b[i] : 0));
  }
  return diff == 0;
}

std::string HashPassword(std::string_view password) {
  Ready();
  std::array<char, crypto_pwhash_STRBYTES> hash{};
  if (crypto_pwhash_str_alg(hash.data(), password.data(), password.size(),
                            crypto_pwhash_OPSLIMIT_INTERACTIVE, crypto_pwhash_MEMLIMIT_INTERACTIVE,
                            crypto_pwhash_ALG_ARGON2ID13) != 0) {
    throw SecretsError("the password hash could not be made (out of memory)");
  }
  return hash.data();
}

bool PasswordMatches(std::string_view hash, std::string_view password) {
  Ready();
  if (hash.size() >= crypto_pwhash_STRBYTES) return false;
  const std::string terminated(hash);
  return crypto_pwhash_str_verify(terminated.c_str(), password.data(), password.size()) == 0;
}

}  // namespace quarrin
