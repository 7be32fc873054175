#include "update/manifest.h"

#include <gtest/gtest.h>

#include <map>
#include <mutex>
#include <string>

#include "tests/http_test_server.h"

namespace quarrin {
namespace {

using testing::HttpTestServer;
using testing::RecordedRequest;
using testing::RefusingPort;
using testing::Reply;

tFileVersion Version(int32_t major, int32_t minor, int32_t release, int32_t build) {
  tFileVersion v;
  v.Major = major;
  v.Minor = minor;
  v.Release = release;
  v.Build = build;
  v.Text = VersionText(major, minor, release, build);
  return v;
}

std::string VersionBlock(const std::string& major, const std::string& minor,
                         const std::string& release, const std::string& build) {
  return "<VersionInfo><major>" + major + "</major><minor>" + minor + "</minor><release>" +
         release + "</release><build>" + build + "</build></VersionInfo>";
}

// Serves manifests by path; anything else is 404.
class ManifestTest : public ::testing::Test {
 protected:
  void Publish(const std::string& path, const std::string& body) {
    std::lock_guard lock(mu_);
    documents_[path] = body;
  }
  std::string Url(const std::string& path) const { return server_.Url(path); }

  std::mutex mu_;
  std::map<std::string, std::string> documents_;
  HttpTestServer server_{[this](const RecordedRequest& r) {
    std::lock_guard lock(mu_);
    auto it = documents_.find(r.path);
    return it == documents_.end() ? Reply(404, "not here") : Reply(200, it->second, "text/xml");
  }};
};

TEST_F(ManifestTest, VersionIsComparedWithTheCurrentOne) {
  struct {
    const char* name;
    std::string body;
    tFileVersion current;
    int32_t major, minor, release, build;
    const char* text;
    bool available;
  } cases[] = {
      {"newer build", "<data>" + VersionBlock("1", "2", "3", "5") + "</data>", Version(1, 2, 3, 4),
       1, 2, 3, 5, "1.2.3.5", true},
      {"equal", "<data>" + VersionBlock("1", "2", "3", "4") + "</data>", Version(1, 2, 3, 4), 1, 2,
       3, 4, "1.2.3.4", false},
      {"older minor", "<data>" + VersionBlock("1", "1", "9", "9") + "</data>", Version(1, 2, 3, 4),
       1, 1, 9, 9, "1.1.9.9", false},
      {"newer major", "<data>" + VersionBlock("2", "0", "0", "0") + "</data>", Version(1, 2, 3, 4),
       2, 0, 0, 0, "2.0.0.0", true},
      {"no version block", "<data><Debug>ON</Debug></data>", Version(1, 2, 3, 4), 0, 0, 0, 0, "...",
       false},
      {"build not a number", "<data>" + VersionBlock("1", "2", "3", "abc") + "</data>",
       Version(1, 2, 3, 0), 1, 2, 3, 0, "1.2.3.abc", false},
      {"texts kept as written", "<data>" + VersionBlock("1", "02", "3", "4") + "</data>",
       Version(1, 1, 0, 0), 1, 2, 3, 4, "1.02.3.4", true},
      {"empty and out-of-range numbers read 0",
       "<data>" + VersionBlock("", "4294967297", "1.5", "7") + "</data>", Version(0, 0, 0, 6), 0, 0,
       0, 7, ".4294967297.1.5.7", true},
      {"all zero never updates", "<data>" + VersionBlock("0", "0", "0", "0") + "</data>",
       Version(-1, 0, 0, 0), 0, 0, 0, 0, "0.0.0.0", false},
      {"sum wraps to zero", "<data>" + VersionBlock("2147483647", "2147483647", "1", "1") + "</data>",
       Version(1, 0, 0, 0), 2147483647, 2147483647, 1, 1, "2147483647.2147483647.1.1", false},
      {"signed comparison", "<data>" + VersionBlock("-1", "5", "0", "0") + "</data>",
       Version(1, 0, 0, 0), -1, 5, 0, 0, "-1.5.0.0", false},
      {"namespace prefixes and CDATA",
       "<q:data xmlns:q=\"urn:q\"><q:VersionInfo><q:major><![CDATA[3]]></q:major><q:minor>0"
       "</q:minor><q:release>0</q:release><q:build>0</q:build></q:VersionInfo></q:data>",
       Version(2, 9, 9, 9), 3, 0, 0, 0, "3.0.0.0", true},
      {"first match counts, other elements ignored",
       "<?xml version=\"1.0\"?>\n<data>\n  <!-- newest -->\n  <Other/>\n  " +
           VersionBlock("1", "0", "0", "9") + "\n  " + VersionBlock("9", "0", "0", "0") +
           "\n</data>\n",
       Version(1, 0, 0, 8), 1, 0, 0, 9, "1.0.0.9", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Publish("/QuarrinSrvc.xml", c.body);
    tFileUpdate update;
    update.UpdateAvailable = true;
    ReadManifestVersion(SystemHttpClient(), Url("/QuarrinSrvc.xml"), "VersionInfo", c.current, &update);
    EXPECT_EQ(update.Major, c.major);
    EXPECT_EQ(update.Minor, c.minor);
    EXPECT_EQ(update.Release, c.release);
    EXPECT_EQ(update.Build, c.build);
    EXPECT_EQ(update.Text, c.text);
    EXPECT_EQ(update.UpdateAvailable, c.available);
  }
}

TEST_F(ManifestTest, SectionNamesTheVersionBlock) {
  Publish("/m.xml", "<data>" + VersionBlock("1", "0", "0", "0") +
                        "<Beta><major>5</major><minor>0</minor><release>0</release><build>0</build>"
                        "</Beta></data>");
  tFileUpdate update;
  ReadManifestVersion(SystemHttpClient(), Url("/m.xml"), "Beta", Version(1, 0, 0, 0), &update);
  EXPECT_EQ(update.Text, "5.0.0.0");
  EXPECT_TRUE(update.UpdateAvailable);
  ReadManifestVersion(SystemHttpClient(), Url("/m.xml"), "", Version(1, 0, 0, 0), &update);
  EXPECT_EQ(update.Text, "1.0.0.0");
  EXPECT_FALSE(update.UpdateAvailable);
}

TEST_F(ManifestTest, FailuresGiveAnErrorTextAndKeepTheNumbers) {
  RefusingPort refusing;
  Publish("/other-root.xml", "<manifest>" + VersionBlock("9", "0", "0", "0") + "</manifest>");
  Publish("/not-xml.xml", "this is not <xml");
  Publish("/empty.xml", "");
  Publish("/mixed.xml", "<data><VersionInfo><major>9<b/>1</major></VersionInfo></data>");
  Publish("/nested.xml", "<data><VersionInfo><build><n>1</n></build></VersionInfo></data>");
  // A comment or processing instruction beside the text is another node too.
  Publish("/comment.xml", "<data>" + VersionBlock("2<!--x-->", "0", "0", "0") + "</data>");
  Publish("/pi.xml", "<data>" + VersionBlock("2", "0", "0", "<?tag x?>1") + "</data>");
  Publish("/huge.xml", "<data>" + VersionBlock("9", "0", "0", "0") + "<Pad>" +
                           std::string(kManifestMaxBytes, 'p') + "</Pad></data>");
  struct {
    std::string url;
    std::string text;  // the whole text, or its end after the message
  } cases[] = {
      {Url("/other-root.xml"),
       "Error: The manifest's root element is \"manifest\", not \"data\" (EManifestError)"},
      {Url("/mixed.xml"), "Error: Element does not contain a single text node (EManifestError)"},
      {Url("/nested.xml"), "Error: Element does not contain a single text node (EManifestError)"},
      {Url("/comment.xml"), "Error: Element does not contain a single text node (EManifestError)"},
      {Url("/pi.xml"), "Error: Element does not contain a single text node (EManifestError)"},
      {Url("/not-xml.xml"), " (EXmlParseError)"},
      {Url("/empty.xml"), " (EXmlParseError)"},
      {Url("/huge.xml"), " (EHttpError)"},
      {Url("/missing.xml"), "Error: HTTP status 404 for " + Url("/missing.xml") + " (EHttpError)"},
      {refusing.Url("/QuarrinSrvc.xml"), " (EHttpError)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.url);
    tFileUpdate update;
    update.Major = 7;
    update.Minor = 6;
    update.Release = 5;
    update.Build = 4;
    update.UpdateAvailable = true;
    ReadManifestVersion(SystemHttpClient(), c.url, "VersionInfo", Version(0, 0, 0, 1), &update);
    EXPECT_FALSE(update.UpdateAvailable);
    EXPECT_EQ(update.Text.rfind("Error: ", 0), 0u) << update.Text;
    EXPECT_TRUE(update.Text.ends_with(c.text)) << update.Text;
    EXPECT_EQ(VersionText(update.Major, update.Minor, update.Release, update.Build), "7.6.5.4");
  }
}

TEST_F(ManifestTest, ValueIsTheElementTextOrEmpty) {
  RefusingPort refusing;
  Publish("/m.xml",
          "<data><debug>on</debug><Debug>ON</Debug><Debug>second</Debug><Syslog>127.0.0.1"
          "</Syslog><Empty/><Mixed>a<b/></Mixed><Commented>on<!--x--></Commented>"
          "<!-- between elements --><Later>ok</Later></data>");
  Publish("/other-root.xml", "<date><Debug>ON</Debug></date>");
  Publish("/not-xml.xml", "<data><Debug>ON</Debug>");
  struct {
    const char* name;
    std::string url;
    const char* value;
  } cases[] = {
      // Names are exact: the lower-case debug before it is another element.
      {"Debug", Url("/m.xml"), "ON"},
      {"debug", Url("/m.xml"), "on"},
      {"Syslog", Url("/m.xml"), "127.0.0.1"},
      {"Empty", Url("/m.xml"), ""},
      {"Missing", Url("/m.xml"), ""},
      {"DEBUG", Url("/m.xml"), ""},
      {"Mixed", Url("/m.xml"), ""},
      {"Commented", Url("/m.xml"), ""},
      {"Later", Url("/m.xml"), "ok"},
      {"Debug", Url("/other-root.xml"), ""},
      {"Debug", Url("/not-xml.xml"), ""},
      {"Debug", Url("/missing.xml"), ""},
      {"Debug", refusing.Url("/m.xml"), ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.name) + " from " + c.url);
    std::string value = "left over";
    ReadManifestValue(SystemHttpClient(), c.name, c.url, &value);
    EXPECT_EQ(value, c.value);
  }
}

TEST_F(ManifestTest, EveryReadFetchesTheDocumentAgain) {
  Publish("/m.xml", "<data><Syslog>first</Syslog></data>");
  std::string value;
  ReadManifestValue(SystemHttpClient(), "Syslog", Url("/m.xml"), &value);
  EXPECT_EQ(value, "first");
  Publish("/m.xml", "<data><Syslog>second</Syslog></data>");
  ReadManifestValue(SystemHttpClient(), "Syslog", Url("/m.xml"), &value);
  EXPECT_EQ(value, "second");
  ASSERT_EQ(server_.RequestCount(), 2u);
  EXPECT_EQ(server_.Requests()[1].method, "GET");
}

}  // namespace
}  // namespace quarrin
