// A signature that minisign made once, checked without minisign at hand (the
// Windows build runs no Linux program): the key, the signature and the
// signed bytes are fixed here.
#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "platform/text/utf8.h"
#include "tests/test_support.h"
#include "update/update_signature.h"

namespace quarrin {
namespace {

constexpr char kPublicKey[] = "RWRrVHnHxXwpeSlcwjIEEJ+bp3NPlQXzsowrViNNs1JkdKry9jDukh7/";
constexpr char kSignature[] =
    "untrusted comment: signature from minisign secret key\n"
    "RURrVHnHxXwpeXeeY9gUCjUJG/tV4bmUlgNAex6ZzAaDZ1wYMsjfqhcCSvH54/ha+RBIjTaIvDyAGo6j6ptWTbZensj/"
    "FTMsxgQ=\n"
    "trusted comment: version 1.0.0.1\n"
    "EzRAWZxZDViM9rZzVC9Asizo3FAqK8a7DK+W7SZlgki+wmPwKiVxCcP+in7OPTQqAMe+di5wSlF5y9rea2eyDQ==\n";

// The signed file: 100000 bytes, more than one piece of a file's reading.
std::string SignedBytes() {
  std::string bytes(100000, '\0');
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>((i * 7 + i / 256) % 251);
  return bytes;
}

TEST(UpdateSignatureKnownTest, MinisignsSignatureHoldsForTheFileAndNothingElse) {
  const UpdatePublicKey key = ParseUpdatePublicKey(kPublicKey);
  EXPECT_EQ(key.IdText(), "79297CC5C779546B");
  const std::string bytes = SignedBytes();
  EXPECT_EQ(VerifySignature(key, kSignature, bytes), "version 1.0.0.1");

  std::string changed = bytes;
  changed[54321] ^= 0x40;
  EXPECT_THROW(VerifySignature(key, kSignature, changed), SignatureError);

  // The file read from disk, under a name beyond ASCII in UTF-8.
  testing::TempDir dir;
  const std::string path = dir / "~Quarrin-\xc3\xa4.exe";
  std::ofstream(PathFromUtf8(path), std::ios::binary) << bytes;
  EXPECT_EQ(VerifyFileSignature(key, kSignature, path), "version 1.0.0.1");
  EXPECT_THROW(VerifyFileSignature(key, kSignature, dir / "missing.exe"), SignatureError);
}

}  // namespace
}  // namespace quarrin
