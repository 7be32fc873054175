#include "server/console/html.h"

#include <gtest/gtest.h>

#include "server/console/cookies.h"

namespace quarrin {
namespace {

TEST(HtmlTest, MarkupAndQuotesBecomeEntities) {
  const struct {
    std::string in;
    std::string out;
  } cases[] = {
      {"PC07", "PC07"},
      {"<script>alert('x')</script>", "&lt;script&gt;alert(&#39;x&#39;)&lt;/script&gt;"},
      {"\" onmouseover=\"x", "&quot; onmouseover=&quot;x"},
      {"a&amp;b", "a&amp;amp;b"},
      {"Gr\xc3\xbc\xc3\x9f" "e", "Gr\xc3\xbc\xc3\x9f" "e"},
      {std::string("bad\xff\x01", 5), "bad\xef\xbf\xbd\xef\xbf\xbd"},
  };
  for (const auto& c : cases) EXPECT_EQ(Html(c.in), c.out) << c.in;
}

TEST(HtmlTest, UrlEncodeLeavesOnlyUnreservedBytes) {
  EXPECT_EQ(UrlEncode("PC-07_a.b~"), "PC-07_a.b~");
  EXPECT_EQ(UrlEncode("a b&c=d/\xc3\xbc"), "a%20b%26c%3Dd%2F%C3%BC");
}

TEST(CookiesTest, ValueByNameAndAttributes) {
  EXPECT_EQ(CookieValue("a=1; quarrin_session=abc; b=2", "quarrin_session"), "abc");
  EXPECT_EQ(CookieValue("xquarrin_session=no;quarrin_session=\"q\"", "quarrin_session"), "q");
  EXPECT_EQ(CookieValue("a=1", "quarrin_session"), "");
  EXPECT_EQ(CookieValue("", "a"), "");
  EXPECT_EQ(SetCookie("s", "v", "/console", false), "s=v; Path=/console; HttpOnly; SameSite=Strict");
  EXPECT_EQ(SetCookie("s", "v", "/console", true),
            "s=v; Path=/console; HttpOnly; SameSite=Strict; Secure");
  EXPECT_EQ(ClearCookie("s", "/console", false),
            "s=; Path=/console; HttpOnly; SameSite=Strict; Max-Age=0");
}

}  // namespace
}  // namespace quarrin
