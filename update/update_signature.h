// Detached signatures of downloaded executables, in the minisign format that
// the maker signs releases with (`minisign -S`):
//
//   public key:  one line, base64 of "Ed" + 8-byte key id + 32-byte Ed25519 key
//   .minisig:    untrusted comment: <anything>
//                base64 of "ED" + 8-byte key id + 64-byte signature of
//                    BLAKE2b-512(file)
//                trusted comment: <text>
//                base64 of the 64-byte signature of (signature + text)
//
// Only prehashed signatures ("ED", what minisign makes by default) are
// accepted. The legacy kind ("Ed", the file itself signed) is refused: its
// algorithm bytes are covered by no signature, so an "ED" signature
// relabelled "Ed" verifies for a 64-byte "file" that is the digest of the
// signed one; and nothing the maker signs today needs it.
//
// Every failure throws SignatureError with a text for the event log that
// says what is wrong (malformed file, wrong key, file changed, ...).
#ifndef QUARRIN_UPDATE_UPDATE_SIGNATURE_H_
#define QUARRIN_UPDATE_UPDATE_SIGNATURE_H_

#include <array>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

namespace quarrin {

class SignatureError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A trusted key: the id that signatures name it by, and the Ed25519 key.
struct UpdatePublicKey {
  std::array<uint8_t, 8> key_id{};
  std::array<uint8_t, 32> key{};

  // The id as minisign prints it: a 64-bit number in upper-case hex.
  std::string IdText() const;
};

// A parsed .minisig file.
struct DetachedSignature {
  std::array<uint8_t, 2> algorithm{};
  std::array<uint8_t, 8> key_id{};
  std::array<uint8_t, 64> signature{};
  std::string trusted_comment;  // without "trusted comment: "
  std::array<uint8_t, 64> global_signature{};
};

// Parses a minisign public key line (blanks around it are ignored). Throws
// SignatureError when it is not one.
UpdatePublicKey ParseUpdatePublicKey(std::string_view line);

// Parses the text of a .minisig file (LF or CR LF line ends). Throws
// SignatureError when it is malformed. Says nothing about whether the
// signature is good.
DetachedSignature ParseDetachedSignature(std::string_view text);

// Checks that `minisig` (the text of a .minisig file) is a prehashed
// signature by `key` of `data`, and that its trusted comment is the one
// signed with it. Returns the trusted comment; throws SignatureError
// otherwise. Safe for concurrent use by multiple threads.
std::string VerifySignature(const UpdatePublicKey& key, std::string_view minisig,
                            std::string_view data);

// The same for the file at `path`, read in pieces. Throws SignatureError
// also when the file cannot be read.
std::string VerifyFileSignature(const UpdatePublicKey& key, std::string_view minisig,
                                const std::string& path);

}  // namespace quarrin

#endif  // QUARRIN_UPDATE_UPDATE_SIGNATURE_H_
