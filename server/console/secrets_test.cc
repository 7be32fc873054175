#include "server/console/secrets.h"

#include <gtest/gtest.h>

#include "server/console/accounts.h"

namespace quarrin {
namespace {

TEST(SecretsTest, PasswordHashesAreArgon2idAndVerifyOnlyTheirPassword) {
  const std::string hash = HashPassword("correct horse");
  EXPECT_EQ(hash.rfind("$argon2id$", 0), 0u) << hash;
  EXPECT_NE(HashPassword("correct horse"), hash);  // salted
  EXPECT_TRUE(PasswordMatches(hash, "correct horse"));
  for (const char* wrong : {"correct hors", "correct horse ", "", "Correct horse"}) {
    EXPECT_FALSE(PasswordMatches(hash, wrong)) << wrong;
  }
  EXPECT_FALSE(PasswordMatches("", "correct horse"));
  EXPECT_FALSE(PasswordMatches("$argon2id$v=19$garbage", "correct horse"));
  EXPECT_FALSE(PasswordMatches(std::string(200, 'x'), "correct horse"));
}

TEST(SecretsTest, TokensAreRandomAndDigestsFixed) {
  const std::string a = RandomToken();
  EXPECT_EQ(a.size(), 64u);
  EXPECT_EQ(a.find_first_not_of("0123456789abcdef"), std::string::npos);
  EXPECT_NE(RandomToken(), a);
  EXPECT_EQ(TokenDigest(a), TokenDigest(a));
  EXPECT_NE(TokenDigest(a), a);
  EXPECT_NE(TokenDigest(a), TokenDigest(RandomToken()));
}

TEST(SecretsTest, SameSecretComparesWholeTexts) {
  EXPECT_TRUE(SameSecret("abc", "abc"));
  EXPECT_TRUE(SameSecret("", ""));
  for (const auto& [a, b] : {std::pair{"abc", "abd"}, {"abc", "ab"}, {"ab", "abc"}, {"", "a"}}) {
    EXPECT_FALSE(SameSecret(a, b)) << a << " " << b;
  }
}

TEST(SecretsTest, LoginDelayIsFreeThenDoublesUpToItsCap) {
  const struct {
    int failures;
    int seconds;
  } cases[] = {{0, 0}, {5, 0}, {6, 1}, {7, 2}, {10, 16}, {15, 512}, {16, 900}, {1000, 900}};
  for (const auto& c : cases) {
    EXPECT_EQ(LoginDelay(c.failures).count(), c.seconds) << c.failures;
  }
}

}  // namespace
}  // namespace quarrin
