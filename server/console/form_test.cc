#include "server/console/form.h"

#include <gtest/gtest.h>

namespace quarrin {
namespace {

constexpr char kType[] = "multipart/form-data; boundary=----b0undary";

std::string Part(const std::string& disposition, const std::string& data) {
  return "------b0undary\r\nContent-Disposition: form-data; " + disposition +
         "\r\nContent-Type: application/octet-stream\r\n\r\n" + data + "\r\n";
}

TEST(FormTest, UrlEncodedFieldsDecodeInOrderWithRepeats) {
  const FormData f = ParseUrlEncoded("a=1&b=x+y%21&&a=2&flag");
  ASSERT_EQ(f.fields.size(), 4u);
  EXPECT_EQ(f.Field("a"), "1");
  EXPECT_EQ(f.Field("b"), "x y!");
  EXPECT_EQ(f.fields[2].second, "2");
  EXPECT_TRUE(f.Has("flag"));
  EXPECT_FALSE(f.Has("c"));
  EXPECT_THROW(ParseUrlEncoded("a=%zz"), FormError);
}

TEST(FormTest, MultipartFieldsAndFilesWithBinaryData) {
  constexpr char kBinary[] = "MZ\0\r\n--not-the-boundary\r\n\xff";
  const std::string binary(kBinary, sizeof kBinary - 1);  // the NUL inside too
  const std::string body = Part("name=\"csrf\"", "tok") +
                           Part("name=\"file\"; filename=\"C:\\\\b\\\\QuarrinSrvc.exe\"", binary) +
                           Part("name=\"sig\"; filename=\"a;b.minisig\"", "") + "------b0undary--\r\n";
  const FormData f = ParseMultipart(body, kType);
  EXPECT_EQ(f.Field("csrf"), "tok");
  ASSERT_EQ(f.files.count("file"), 1u);
  EXPECT_EQ(f.files.at("file").filename, "QuarrinSrvc.exe");
  EXPECT_EQ(f.files.at("file").data, binary);
  EXPECT_EQ(f.files.at("sig").filename, "a;b.minisig");
  EXPECT_EQ(f.files.at("sig").data, "");
  // By its Content-Type, also with a quoted boundary.
  EXPECT_EQ(ParseFormBody(body, "Multipart/Form-Data; boundary=\"----b0undary\"").Field("csrf"), "tok");
  EXPECT_EQ(ParseFormBody("csrf=x", "application/x-www-form-urlencoded").Field("csrf"), "x");
}

TEST(FormTest, MalformedMultipartBodiesAreRefused) {
  const std::string ok = Part("name=\"a\"", "1");
  std::string many;
  for (size_t i = 0; i <= kMaxMultipartParts; ++i) many += Part("name=\"a\"", "1");
  const struct {
    const char* what;
    std::string body;
    std::string type;
  } cases[] = {
      {"no boundary", ok + "------b0undary--", "multipart/form-data"},
      {"boundary too long", ok, "multipart/form-data; boundary=" + std::string(71, 'x')},
      {"not multipart", ok, "text/plain; boundary=----b0undary"},
      {"preamble", "junk\r\n" + ok + "------b0undary--", kType},
      {"never closes", ok, kType},
      {"cut inside a part", "------b0undary\r\nContent-Disposition: form-data; name=\"a\"\r\n\r\n12",
       kType},
      {"no name", Part("filename=\"x\"", "1") + "------b0undary--", kType},
      {"not form-data", "------b0undary\r\nContent-Disposition: attachment; name=\"a\"\r\n\r\n1\r\n"
                        "------b0undary--", kType},
      {"no disposition", "------b0undary\r\n\r\n1\r\n------b0undary--", kType},
      {"unclosed quote", Part("name=\"a", "1") + "------b0undary--", kType},
      {"text after boundary", "------b0undaryX\r\n" + ok.substr(16) + "------b0undary--", kType},
      {"file twice", Part("name=\"f\"; filename=\"1\"", "") + Part("name=\"f\"; filename=\"2\"", "") +
                         "------b0undary--", kType},
      {"too many parts", many + "------b0undary--", kType},
      {"header too long",
       "------b0undary\r\nX: " + std::string(kMaxPartHeaderBytes, 'h') + "\r\n" + ok.substr(16) +
           "------b0undary--", kType},
  };
  for (const auto& c : cases) {
    EXPECT_THROW(ParseMultipart(c.body, c.type), FormError) << c.what;
  }
}

}  // namespace
}  // namespace quarrin
