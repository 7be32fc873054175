#include "http/xml_replies.h"

#include <gtest/gtest.h>

#include <pugixml.hpp>

#include "tests/test_support.h"

namespace quarrin {
namespace {

TEST(XmlEscapeTest, RunsTheTenReplacementsInOrder) {
  const struct {
    std::string in, out;
  } cases[] = {
      {"a<b & c>d", "a&lt;b &amp; c&gt;d"},
      {"it's", "it&apos;s"},
      {"\x93x\x94", "&quot;x&quot;"},    // curly quotes end as &quot;
      {"\x92", "&#44;"},                 // a comma's reference, not escaped again
      {"a\x96z\xA0!", "a-z !"},          // en dash, no-break space
      {"&amp;", "&amp;amp;"},            // an entity in the text is escaped like any text
      {"\"<>'&", "&quot;&lt;&gt;&apos;&amp;"},
      {"caf\xC3\xA9 \x80\xFF", "caf\xC3\xA9 \x80\xFF"},  // other high bytes pass
      {"", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(XmlEscape(c.in), c.out) << c.in;
}

TEST(XmlTextTest, EscapesMarkupAndReplacesWhatXmlCannotCarry) {
  const struct {
    std::string in, out;
  } cases[] = {
      {"ABC123", "ABC123"},
      {"a<b>&c", "a&lt;b&gt;&amp;c"},
      {"it's \"x\"", "it's \"x\""},  // quotes are fine in element text
      {"tab\tcr\rlf\n", "tab\tcr\rlf\n"},
      {std::string("nul\0bel\x07", 8), "nul\xEF\xBF\xBD" "bel\xEF\xBF\xBD"},
      {"caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80", "caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80"},
      {"\x93x\x94", "\xEF\xBF\xBDx\xEF\xBF\xBD"},             // bare Windows-1252 bytes
      {"\xC3", "\xEF\xBF\xBD"},                               // cut short
      {"\xC0\xAF", "\xEF\xBF\xBD\xEF\xBF\xBD"},               // overlong "/"
      {"\xED\xA0\x80", "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},  // a surrogate
      {"\xEF\xBF\xBF", "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},  // U+FFFF
  };
  for (const auto& c : cases) EXPECT_EQ(XmlText(c.in), c.out) << c.in;
  EXPECT_EQ(XmlSafeChars("&lt;\x01"), "&lt;\xEF\xBF\xBD");
}

tPCDetails OfficePc() {
  tPCDetails d;
  d.MachineName = "PC-OFFICE";
  d.RegisteredOwner = "J. Doe";
  d.RegisteredOrganisation = "TARN";
  d.CPUSpeed = 3000;
  d.CPUId = "x86 Family 15";
  d.CPUName = "Intel(R) Pentium(R) 4";
  d.CurrentVersion = "5.1";
  d.TotCPU = 4;
  d.ProductID = "55274-640";
  d.ProductName = "Workstation OS";
  d.ServicePack = "Service Pack 2";
  d.SourcePath = "D:\\I386";
  d.IEVersion = "6.0.2900.2180";
  d.PhysicalMemory = "511MB";
  d.NBNodeType = 8;
  return d;
}

InfoValues OfficeValues() {
  InfoValues v;
  v.version = "10.11.31.0";
  v.date_time = "05/01/06 13:45:07.123";
  v.bde_version = "0.0.0.0";
  v.genesis_size = "0";
  v.install_date = "05/01/2006 13:45:07";
  v.disk_size = "80,000,000,000";
  v.disk_used = 67;
  v.remote_ip = "10.0.0.9";
  v.syslog_host = "";
  v.tick_count = "1w2d3h4m5s";
  return v;
}

constexpr char kOfficeInfoHead[] =
    "<?xml version=\"1.0\" ?><Quarrin><Version>10.11.31.0</Version>"
    "<DateTime>05/01/06 13:45:07.123</DateTime><MachineName>PC-OFFICE</MachineName>"
    "<RegisteredOwner>J. Doe</RegisteredOwner><RegisteredOrganisation>TARN</RegisteredOrganisation>"
    "<CPUId>x86 Family 15</CPUId><CPUSpeed>3000</CPUSpeed><TotCPU>4</TotCPU>"
    "<NBNodeType>8</NBNodeType><CPUName>Intel(R) Pentium(R) 4</CPUName>"
    "<CurrentVersion>5.1</CurrentVersion><ProductID>55274-640</ProductID>"
    "<ProductName>Workstation OS</ProductName><ServicePack>Service Pack 2</ServicePack>"
    "<SourcePath>D:\\I386</SourcePath><IEVersion>6.0.2900.2180</IEVersion>"
    "<BDEVersion>0.0.0.0</BDEVersion><GenesisSize>0</GenesisSize>"
    "<PhysicalMemory>511MB</PhysicalMemory><VMWare>No</VMWare>"
    "<InstallDate>05/01/2006 13:45:07</InstallDate><DiskSize>80,000,000,000</DiskSize>"
    "<DiskUsed>67%</DiskUsed><RemoteIP>10.0.0.9</RemoteIP><Syslog></Syslog>";

TEST(InfoDocumentTest, ElementsInOrderWithoutTheEchoOnOtherMachines) {
  EXPECT_EQ(InfoDocument(OfficePc(), OfficeValues()),
            std::string(kOfficeInfoHead) + "<TickCount>1w2d3h4m5s</TickCount></Quarrin>");
}

TEST(InfoDocumentTest, TheEchoEscapesItsFourElementsWithXmlEscape) {
  InfoValues v = OfficeValues();
  v.echo = true;
  v.from = "ops@x";
  v.command = "POST";
  v.raw_http_command = "POST /?a=1&b='2' HTTP/1.1";
  v.unparsed_params = "x<y\r\na=1&b='2'";
  v.form_params = "x<y";
  v.query_params = "a=1&b='2'";
  v.accept = "*/*";
  EXPECT_EQ(InfoDocument(OfficePc(), v),
            std::string(kOfficeInfoHead) +
                "<From>ops@x</From><Command>POST</Command>"
                "<RawHTTPCommand>POST /?a=1&amp;b=&apos;2&apos; HTTP/1.1</RawHTTPCommand>"
                "<UnparsedParams>x&lt;y\r\na=1&amp;b=&apos;2&apos;</UnparsedParams>"
                "<FormParams>x&lt;y</FormParams>"
                "<QueryParams>a=1&amp;b=&apos;2&apos;</QueryParams>"
                "<Accept>*/*</Accept><TickCount>1w2d3h4m5s</TickCount></Quarrin>");
}

TEST(InfoDocumentTest, HostileValuesStillGiveAWellFormedDocument) {
  tPCDetails d = OfficePc();
  d.RegisteredOwner = "<script>alert(1)</script>";
  d.SourcePath = "D:\\a&b";
  d.VMWare = true;
  InfoValues v = OfficeValues();
  v.echo = true;
  v.from = "</From><x>";
  v.accept = "text/html & <evil>";
  v.raw_http_command = std::string("GET /\x93\x01\xFF HTTP/1.1");
  const std::string doc = InfoDocument(d, v);
  EXPECT_NE(doc.find("<RegisteredOwner>&lt;script&gt;alert(1)&lt;/script&gt;</RegisteredOwner>"),
            std::string::npos);
  EXPECT_NE(doc.find("<VMWare>Yes</VMWare>"), std::string::npos);
  pugi::xml_document parsed;
  ASSERT_TRUE(parsed.load_string(doc.c_str()));
  EXPECT_STREQ(parsed.child("Quarrin").child_value("From"), "</From><x>");
  EXPECT_STREQ(parsed.child("Quarrin").child_value("RawHTTPCommand"),
               "GET /\"\xEF\xBF\xBD\xEF\xBF\xBD HTTP/1.1");
}

TEST(AppsDocumentTest, ThirteenApplicationsInTheirOrder) {
  tInstalledApps apps;
  apps.Word = {"/opt/office/winword", "11.0.8169.0"};
  apps.Java = {"/usr/lib/jvm/java-17/bin/javaw", "0.0.0.0"};
  apps.SQLNS = {"/opt/sqlns", "8.0.0.0"};  // never listed
  apps.Outlook = {"/opt/a&b/outlook", "1.0.0.0"};
  auto entry = [](const char* app, const char* path = "", const char* version = "") {
    return std::string("<Attributes><App>") + app + "</App><Path>" + path + "</Path><Version>" +
           version + "</Version></Attributes>";
  };
  EXPECT_EQ(AppsDocument(apps),
            "<?xml version=\"1.0\" ?><Quarrin>" + entry("Access") + entry("CiscoVPN") +
                entry("Dispense") + entry("EtherPeek") + entry("Excel") +
                entry("InternetExplorer") + entry("iTunes") +
                entry("Java", "/usr/lib/jvm/java-17/bin/javaw", "0.0.0.0") +
                entry("OutLook", "/opt/a&amp;b/outlook", "1.0.0.0") + entry("PowerPoint") +
                entry("MSProject") + entry("QuarrinSrvc") +
                entry("Word", "/opt/office/winword", "11.0.8169.0") + "</Quarrin>");
}

TEST(ReplyDocumentsTest, EachByteForByte) {
  const std::string start = "<?xml version=\"1.0\" ?><Quarrin>";
  const struct {
    std::string got, expected;
  } cases[] = {
      {MessageReply("05/01/06 13:45:07.123"),
       start + "<DateTime>05/01/06 13:45:07.123</DateTime><Result>OK</Result></Quarrin>"},
      {SyslogReply("t", "syslog.tarn", "1.0.0.0"),
       start + "<DateTime>t</DateTime><Result>OK</Result><Syslog>syslog.tarn</Syslog>"
               "<Msg>A test NOTIFY level Syslog message was sent to syslog.tarn</Msg>"
               "<Version>1.0.0.0</Version></Quarrin>"},
      {SyslogReply("t", "", "1.0.0.0"),
       start + "<DateTime>t</DateTime><Result>OK</Result><Syslog></Syslog>"
               "<Msg>A test NOTIFY level Syslog message was sent to </Msg>"
               "<Version>1.0.0.0</Version></Quarrin>"},
      {AttributeReply("t", "ABC123", "1.0.0.0"),
       start + "<DateTime>t</DateTime><Field></Field><Data>ABC123</Data><Result>OK</Result>"
               "<Version>1.0.0.0</Version></Quarrin>"},
      {AttributeReply("t", "a<b&c", "1.0.0.0"),
       start + "<DateTime>t</DateTime><Field></Field><Data>a&lt;b&amp;c</Data><Result>OK</Result>"
               "<Version>1.0.0.0</Version></Quarrin>"},
      {ErrorReply("t", "'x' is not a valid date and time", "quarrin::ConversionError"),
       start + "<DateTime>t</DateTime><Error>'x' is not a valid date and time</Error>"
               "<ClassName>quarrin::ConversionError</ClassName></Quarrin>"},
      {OdxFailReply("1.0.0.0", "/var/lib/TARN/ODX/LastTX.XML"),
       start + "<RC>Fail</RC><Version>1.0.0.0</Version>"
               "<Result>/var/lib/TARN/ODX/LastTX.XML</Result></Quarrin>"},
      {OdxErrorReply("1.0.0.0", "Start-end tags mismatch at offset 12"),
       start + "<RC>ERROR</RC><Version>1.0.0.0</Version>"
               "<Error>Start-end tags mismatch at offset 12</Error></Quarrin>"},
      {UpdateReply(false, "1.0.0.0", "1.0.0.0", "t"),
       start + "<RC>0</RC><UpdateVersion>1.0.0.0</UpdateVersion>"
               "<CurrentVersion>1.0.0.0</CurrentVersion><DateTime>t</DateTime></Quarrin>"},
      {UpdateReply(true, "1.0.0.1", "1.0.0.0", "t"),
       start + "<RC>1</RC><UpdateVersion>1.0.0.1</UpdateVersion>"
               "<CurrentVersion>1.0.0.0</CurrentVersion><DateTime>t</DateTime></Quarrin>"},
  };
  for (const auto& c : cases) EXPECT_EQ(c.got, c.expected);
}

}  // namespace
}  // namespace quarrin
