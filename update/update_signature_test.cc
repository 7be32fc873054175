#include "update/update_signature.h"

#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <string>
#include <vector>

#include "tests/test_support.h"
#include "update/signing_testing.h"

namespace quarrin {
namespace {

using testing::MinisignKeyPair;
using testing::ReadFileText;
using testing::RunCommand;
using testing::TempDir;
using testing::WriteFileText;

std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  size_t begin = 0;
  while (begin < text.size()) {
    size_t end = text.find('\n', begin);
    if (end == std::string::npos) end = text.size();
    lines.push_back(text.substr(begin, end - begin));
    begin = end + 1;
  }
  return lines;
}

std::string JoinLines(const std::vector<std::string>& lines, const char* end = "\n") {
  std::string text;
  for (const std::string& line : lines) text += line + end;
  return text;
}

std::string Base64(const std::string& bytes, bool decode) {
  auto r = RunCommand(decode ? std::vector<std::string>{"base64", "-d"}
                             : std::vector<std::string>{"base64", "-w0"},
                      {}, bytes);
  EXPECT_EQ(r.exit_status, 0) << r.err;
  return r.out;
}

// Two key pairs and two files signed with them, made once: minisign is run
// as the maker runs it.
class UpdateSignatureTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new TempDir();
    trusted_ = new MinisignKeyPair(dir_->path(), "trusted");
    other_ = new MinisignKeyPair(dir_->path(), "other");
    // Larger than the pieces a file is read in.
    std::mt19937 random(7);
    std::string agent(200000, '\0');
    for (char& c : agent) c = static_cast<char>(random());
    WriteFileText(Path("agent"), agent);
    WriteFileText(Path("other-file"), "another file\n");
  }
  static void TearDownTestSuite() {
    delete trusted_;
    delete other_;
    delete dir_;
  }

  static std::string Path(const std::string& name) { return *dir_ / name; }
  static UpdatePublicKey TrustedKey() { return ParseUpdatePublicKey(trusted_->public_key_line()); }
  static std::string Agent() { return ReadFileText(Path("agent")); }

  static TempDir* dir_;
  static MinisignKeyPair* trusted_;
  static MinisignKeyPair* other_;
};

TempDir* UpdateSignatureTest::dir_ = nullptr;
MinisignKeyPair* UpdateSignatureTest::trusted_ = nullptr;
MinisignKeyPair* UpdateSignatureTest::other_ = nullptr;

TEST_F(UpdateSignatureTest, GoodSignatureGivesTheTrustedComment) {
  std::string minisig = trusted_->Sign(Path("agent"), Path("good.minisig"), "version 1.0.0.1");
  EXPECT_EQ(VerifySignature(TrustedKey(), minisig, Agent()), "version 1.0.0.1");
  EXPECT_EQ(VerifyFileSignature(TrustedKey(), minisig, Path("agent")), "version 1.0.0.1");
  // As written on Windows, and minisign's own trusted comment.
  EXPECT_EQ(VerifySignature(TrustedKey(), JoinLines(SplitLines(minisig), "\r\n"), Agent()),
            "version 1.0.0.1");
  std::string own = trusted_->Sign(Path("agent"), Path("own.minisig"));
  EXPECT_NE(VerifySignature(TrustedKey(), own, Agent()).find("file:agent"), std::string::npos);
}

TEST_F(UpdateSignatureTest, KeyIdIsPrintedAsMinisignDoes) {
  std::string pub = ReadFileText(Path("trusted.pub"));
  EXPECT_NE(pub.find("minisign public key " + TrustedKey().IdText() + "\n"), std::string::npos)
      << pub;
  // A little-endian number: the last byte first, leading zeros left out.
  UpdatePublicKey key;
  key.key_id = {0x08, 0xD6, 0x2D, 0xD0, 0x69, 0x3B, 0xFA, 0x04};
  EXPECT_EQ(key.IdText(), "4FA3B69D02DD608");
}

TEST_F(UpdateSignatureTest, EverythingButTheSignedFileWithItsSignatureIsRefused) {
  const std::string agent = Agent();
  const std::string good = trusted_->Sign(Path("agent"), Path("agent.minisig"), "comment");
  const std::vector<std::string> lines = SplitLines(good);

  std::string changed_file = agent;
  changed_file[123456] ^= 1;

  std::vector<std::string> comment_changed = lines;
  comment_changed[2] = "trusted comment: commenT";

  // Another key's signature that claims to be by the trusted key.
  std::string by_other = other_->Sign(Path("agent"), Path("by-other.minisig"), "comment");
  std::vector<std::string> relabelled = SplitLines(by_other);
  std::string sig_bytes = Base64(relabelled[1], true);
  UpdatePublicKey key = TrustedKey();
  sig_bytes.replace(2, 8, std::string(key.key_id.begin(), key.key_id.end()));
  relabelled[1] = Base64(sig_bytes, false);

  std::vector<std::string> bad_base64 = lines;
  bad_base64[1][10] = '*';

  struct {
    const char* name;
    std::string minisig;
    std::string data;
    std::string error;
  } cases[] = {
      {"another key's signature", by_other, agent,
       "The file is signed with key " +
           ParseUpdatePublicKey(other_->public_key_line()).IdText() +
           ", not with the trusted key " + key.IdText()},
      {"another key's signature naming the trusted key", JoinLines(relabelled), agent,
       "The signature does not match the file"},
      {"another file's signature", trusted_->Sign(Path("other-file"), Path("o.minisig")), agent,
       "The signature does not match the file"},
      {"the file changed", good, changed_file, "The signature does not match the file"},
      {"the file cut short", good, agent.substr(0, agent.size() - 1),
       "The signature does not match the file"},
      {"the trusted comment changed", JoinLines(comment_changed), agent,
       "The trusted comment of the signature was changed"},
      {"legacy signature", trusted_->Sign(Path("agent"), Path("l.minisig"), "c", true), agent,
       "The signature is of the legacy kind"},
      {"empty", "", agent, "The signature file is malformed: it is empty"},
      {"garbage", "\x7f" "ELF\x01\x02 binary garbage\n\n\xff", agent,
       "The signature file is malformed: it does not begin with an \"untrusted comment:\" line"},
      {"comment line only", JoinLines({lines[0]}), agent,
       "The signature file is malformed: the signature line is missing"},
      {"two lines", JoinLines({lines[0], lines[1]}), agent,
       "The signature file is malformed: the \"trusted comment: \" line is missing"},
      {"three lines", JoinLines({lines[0], lines[1], lines[2]}), agent,
       "The signature file is malformed: the trusted comment's signature line is missing"},
      {"cut inside the last line", good.substr(0, good.size() - 10), agent,
       "The signature file is malformed: the trusted comment's signature line is not base64 of "
       "64 bytes"},
      {"signature line not base64", JoinLines(bad_base64), agent,
       "The signature file is malformed: the signature line is not base64 of 74 bytes"},
      {"signature line of a public key", JoinLines({lines[0], trusted_->public_key_line(),
                                                    lines[2], lines[3]}),
       agent, "The signature file is malformed: the signature line is not base64 of 74 bytes"},
      {"a fifth line", good + "more\n", agent,
       "The signature file is malformed: it has more than four lines"},
  };
  for (const auto& c : cases) {
    try {
      VerifySignature(key, c.minisig, c.data);
      ADD_FAILURE() << c.name << ": accepted";
    } catch (const SignatureError& e) {
      EXPECT_EQ(std::string(e.what()).rfind(c.error, 0), 0u)
          << c.name << ": " << e.what() << "\nexpected: " << c.error;
    }
  }
}

TEST_F(UpdateSignatureTest, FileThatChangedOrIsMissingIsRefused) {
  std::string minisig = trusted_->Sign(Path("agent"), Path("f.minisig"));
  std::string copy = Path("copy");
  WriteFileText(copy, Agent() + "x");
  EXPECT_THROW(
      {
        try {
          VerifyFileSignature(TrustedKey(), minisig, copy);
        } catch (const SignatureError& e) {
          EXPECT_STREQ(e.what(),
                       "The signature does not match the file: the file was changed or the "
                       "signature is for another file");
          throw;
        }
      },
      SignatureError);
  try {
    VerifyFileSignature(TrustedKey(), minisig, Path("missing"));
    ADD_FAILURE() << "a missing file verified";
  } catch (const SignatureError& e) {
    EXPECT_EQ(std::string(e.what()), "Cannot read \"" + Path("missing") +
                                         "\". No such file or directory");
  }
}

TEST_F(UpdateSignatureTest, PublicKeyLineIsParsedStrictly) {
  const std::string line = trusted_->public_key_line();
  EXPECT_EQ(ParseUpdatePublicKey("  " + line + "\r\n").key, TrustedKey().key);

  std::string not_ed = Base64(line, true);
  not_ed[1] = 'D';
  const std::string signature_line = SplitLines(trusted_->Sign(Path("agent")))[1];
  struct {
    const char* name;
    std::string text;
    const char* error;
  } cases[] = {
      {"empty", "", "The update public key is not a minisign public key line"},
      {"garbage", "not a key", "The update public key is not a minisign public key line"},
      {"cut short", line.substr(0, line.size() - 4),
       "The update public key is not a minisign public key line"},
      {"whole .pub file", ReadFileText(Path("trusted.pub")),
       "The update public key is not a minisign public key line"},
      {"a signature line", signature_line,
       "The update public key is not a minisign public key line"},
      {"another algorithm", Base64(not_ed, false),
       "The update public key is not an Ed25519 minisign key"},
  };
  for (const auto& c : cases) {
    try {
      ParseUpdatePublicKey(c.text);
      ADD_FAILURE() << c.name << ": accepted";
    } catch (const SignatureError& e) {
      EXPECT_EQ(std::string(e.what()).rfind(c.error, 0), 0u) << c.name << ": " << e.what();
    }
  }
}

}  // namespace
}  // namespace quarrin
