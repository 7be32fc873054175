#include "update/update_signature.h"

#include <gcrypt.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "platform/text/utf8.h"

namespace quarrin {
namespace {

// BLAKE2b with a 512-bit digest came in 1.8; EdDSA verification is older.
constexpr char kMinimumGcryptVersion[] = "1.8.0";

constexpr char kKeyAlgorithm[] = "Ed";
constexpr char kPrehashedAlgorithm[] = "ED";
constexpr char kLegacyAlgorithm[] = "Ed";
constexpr std::string_view kUntrustedPrefix = "untrusted comment:";
constexpr std::string_view kTrustedPrefix = "trusted comment: ";

using Digest = std::array<uint8_t, 64>;

// Brings libgcrypt up once per process, unless something else in the
// process has done so already; it is then safe from any thread.
void InitGcrypt() {
  static std::once_flag once;
  static bool ok = false;
  std::call_once(once, [] {
    if (gcry_control(GCRYCTL_INITIALIZATION_FINISHED_P)) {
      ok = gcry_check_version(kMinimumGcryptVersion) != nullptr;
      return;
    }
    ok = gcry_check_version(kMinimumGcryptVersion) != nullptr;
    // Only public keys are handled: no secure memory is needed.
    gcry_control(GCRYCTL_DISABLE_SECMEM, 0);
    gcry_control(GCRYCTL_INITIALIZATION_FINISHED, 0);
  });
  if (!ok) {
    throw SignatureError(std::string("Signatures cannot be checked: libgcrypt ") +
                         gcry_check_version(nullptr) + " is older than " + kMinimumGcryptVersion);
  }
}

int Base64Value(char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}

// Standard base64 with padding; nullopt for anything else.
std::optional<std::vector<uint8_t>> DecodeBase64(std::string_view text) {
  if (text.size() % 4 != 0) return std::nullopt;
  size_t padding = 0;
  while (padding < 2 && padding < text.size() && text[text.size() - 1 - padding] == '=') ++padding;
  std::vector<uint8_t> out;
  out.reserve(text.size() / 4 * 3);
  uint32_t bits = 0;
  int count = 0;
  for (size_t i = 0; i < text.size() - padding; ++i) {
    int v = Base64Value(text[i]);
    if (v < 0) return std::nullopt;
    bits = (bits << 6) | static_cast<uint32_t>(v);
    if (++count == 4) {
      out.push_back(static_cast<uint8_t>(bits >> 16));
      out.push_back(static_cast<uint8_t>(bits >> 8));
      out.push_back(static_cast<uint8_t>(bits));
      bits = 0;
      count = 0;
    }
  }
  if (count == 2) {
    out.push_back(static_cast<uint8_t>(bits >> 4));
  } else if (count == 3) {
    out.push_back(static_cast<uint8_t>(bits >> 10));
    out.push_back(static_cast<uint8_t>(bits >> 2));
  }
  return out;
}

std::string_view TrimBlanks(std::string_view s) {
  const char* blanks = " \t\r\n";
  size_t begin = s.find_first_not_of(blanks);
  if (begin == std::string_view::npos) return {};
  return s.substr(begin, s.find_last_not_of(blanks) - begin + 1);
}

// The text split at LF, each line without a CR before its LF.
std::vector<std::string_view> Lines(std::string_view text) {
  std::vector<std::string_view> lines;
  while (!text.empty()) {
    size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    lines.push_back(line);
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
  }
  return lines;
}

std::string KeyIdText(const std::array<uint8_t, 8>& id) {
  // minisign prints the id as a little-endian 64-bit number.
  std::string text;
  char hex[3];
  for (size_t i = id.size(); i-- > 0;) {
    std::snprintf(hex, sizeof hex, "%02X", id[i]);
    text += hex;
  }
  // Without leading zeros, as minisign prints it.
  const size_t first = text.find_first_not_of('0');
  return first == std::string::npos ? "0" : text.substr(first);
}

[[noreturn]] void Malformed(const std::string& what) {
  throw SignatureError("The signature file is malformed: " + what);
}

template <size_t N>
std::array<uint8_t, N> DecodeExactly(std::string_view base64, const char* what) {
  std::optional<std::vector<uint8_t>> bytes = DecodeBase64(base64);
  if (!bytes || bytes->size() != N) {
    Malformed(std::string(what) + " is not base64 of " + std::to_string(N) + " bytes");
  }
  std::array<uint8_t, N> out;
  std::copy(bytes->begin(), bytes->end(), out.begin());
  return out;
}

struct SexpDeleter {
  void operator()(gcry_sexp_t s) const { gcry_sexp_release(s); }
};
using Sexp = std::unique_ptr<gcry_sexp, SexpDeleter>;

template <typename... Args>
Sexp BuildSexp(const char* format, Args... args) {
  gcry_sexp_t s = nullptr;
  gcry_error_t err = gcry_sexp_build(&s, nullptr, format, args...);
  if (err != 0) {
    throw SignatureError(std::string("Signatures cannot be checked: ") + gcry_strerror(err));
  }
  return Sexp(s);
}

// True when `signature` is key's Ed25519 signature of `message`.
bool Ed25519Verifies(const UpdatePublicKey& key, const std::array<uint8_t, 64>& signature,
                     const void* message, size_t size) {
  Sexp public_key = BuildSexp("(public-key (ecc (curve Ed25519) (flags eddsa) (q %b)))",
                              static_cast<int>(key.key.size()), key.key.data());
  Sexp sig = BuildSexp("(sig-val (eddsa (r %b) (s %b)))", 32, signature.data(), 32,
                       signature.data() + 32);
  Sexp data = BuildSexp("(data (flags eddsa) (hash-algo sha512) (value %b))",
                        static_cast<int>(size), message);
  return gcry_pk_verify(sig.get(), data.get(), public_key.get()) == 0;
}

// BLAKE2b-512, fed in pieces.
class Blake2b {
 public:
  Blake2b() {
    gcry_error_t err = gcry_md_open(&md_, GCRY_MD_BLAKE2B_512, 0);
    if (err != 0) {
      throw SignatureError(std::string("Signatures cannot be checked: BLAKE2b-512: ") +
                           gcry_strerror(err));
    }
  }
  ~Blake2b() { gcry_md_close(md_); }
  Blake2b(const Blake2b&) = delete;
  Blake2b& operator=(const Blake2b&) = delete;

  void Add(const void* bytes, size_t size) { gcry_md_write(md_, bytes, size); }
  Digest Final() {
    Digest d;
    std::memcpy(d.data(), gcry_md_read(md_, GCRY_MD_BLAKE2B_512), d.size());
    return d;
  }

 private:
  gcry_md_hd_t md_ = nullptr;
};

// Everything that can be checked before the file is read.
DetachedSignature ParseFor(const UpdatePublicKey& key, std::string_view minisig) {
  InitGcrypt();
  DetachedSignature sig = ParseDetachedSignature(minisig);
  if (std::memcmp(sig.algorithm.data(), kLegacyAlgorithm, 2) == 0) {
    throw SignatureError(
        "The signature is of the legacy kind (the file signed without prehashing), which is not "
        "accepted; sign with a current minisign without -l");
  }
  if (std::memcmp(sig.algorithm.data(), kPrehashedAlgorithm, 2) != 0) {
    throw SignatureError("The signature file names an unknown signature algorithm");
  }
  if (sig.key_id != key.key_id) {
    throw SignatureError("The file is signed with key " + KeyIdText(sig.key_id) +
                         ", not with the trusted key " + key.IdText());
  }
  return sig;
}

std::string VerifyDigest(const UpdatePublicKey& key, const DetachedSignature& sig,
                         const Digest& digest) {
  if (!Ed25519Verifies(key, sig.signature, digest.data(), digest.size())) {
    throw SignatureError(
        "The signature does not match the file: the file was changed or the signature is for "
        "another file");
  }
  std::string global(sig.signature.begin(), sig.signature.end());
  global += sig.trusted_comment;
  if (!Ed25519Verifies(key, sig.global_signature, global.data(), global.size())) {
    throw SignatureError("The trusted comment of the signature was changed");
  }
  return sig.trusted_comment;
}

}  // namespace

std::string UpdatePublicKey::IdText() const { return KeyIdText(key_id); }

UpdatePublicKey ParseUpdatePublicKey(std::string_view line) {
  std::optional<std::vector<uint8_t>> bytes = DecodeBase64(TrimBlanks(line));
  if (!bytes || bytes->size() != 2 + 8 + 32) {
    throw SignatureError(
        "The update public key is not a minisign public key line (base64 of 42 bytes, as on the "
        "second line of a minisign .pub file)");
  }
  if (std::memcmp(bytes->data(), kKeyAlgorithm, 2) != 0) {
    throw SignatureError("The update public key is not an Ed25519 minisign key");
  }
  UpdatePublicKey key;
  std::copy_n(bytes->begin() + 2, 8, key.key_id.begin());
  std::copy_n(bytes->begin() + 10, 32, key.key.begin());
  return key;
}

DetachedSignature ParseDetachedSignature(std::string_view text) {
  std::vector<std::string_view> lines = Lines(text);
  while (!lines.empty() && TrimBlanks(lines.back()).empty()) lines.pop_back();
  if (lines.empty()) Malformed("it is empty");
  if (!lines[0].starts_with(kUntrustedPrefix)) {
    Malformed("it does not begin with an \"untrusted comment:\" line");
  }
  if (lines.size() < 2) Malformed("the signature line is missing");
  if (lines.size() < 3 || !lines[2].starts_with(kTrustedPrefix)) {
    Malformed("the \"trusted comment: \" line is missing");
  }
  if (lines.size() < 4) Malformed("the trusted comment's signature line is missing");
  if (lines.size() > 4) Malformed("it has more than four lines");

  auto sig_line = DecodeExactly<2 + 8 + 64>(TrimBlanks(lines[1]), "the signature line");
  DetachedSignature sig;
  std::copy_n(sig_line.begin(), 2, sig.algorithm.begin());
  std::copy_n(sig_line.begin() + 2, 8, sig.key_id.begin());
  std::copy_n(sig_line.begin() + 10, 64, sig.signature.begin());
  sig.trusted_comment = std::string(lines[2].substr(kTrustedPrefix.size()));
  sig.global_signature =
      DecodeExactly<64>(TrimBlanks(lines[3]), "the trusted comment's signature line");
  return sig;
}

std::string VerifySignature(const UpdatePublicKey& key, std::string_view minisig,
                            std::string_view data) {
  DetachedSignature sig = ParseFor(key, minisig);
  Blake2b hash;
  hash.Add(data.data(), data.size());
  return VerifyDigest(key, sig, hash.Final());
}

std::string VerifyFileSignature(const UpdatePublicKey& key, std::string_view minisig,
                                const std::string& path) {
  DetachedSignature sig = ParseFor(key, minisig);
  std::ifstream in(PathFromUtf8(path), std::ios::binary);
  if (!in) throw SignatureError("Cannot read \"" + path + "\". " + std::strerror(errno));
  Blake2b hash;
  std::vector<char> piece(1 << 16);
  while (in) {
    in.read(piece.data(), static_cast<std::streamsize>(piece.size()));
    hash.Add(piece.data(), static_cast<size_t>(in.gcount()));
  }
  if (in.bad()) throw SignatureError("Cannot read \"" + path + "\"");
  return VerifyDigest(key, sig, hash.Final());
}

}  // namespace quarrin
