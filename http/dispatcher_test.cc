#include "http/dispatcher.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "core/agent_metrics.h"
#include "core/attributes.h"
#include "core/registry.h"
#include "core/service_identity.h"
#include "diag/syslog.h"
#include "disk/disk_history.h"
#include "http/client_access.h"
#include "http/xml_replies.h"
#include "platform/eventlog/event_log.h"
#include "platform/time/fake_clock.h"
#include "platform/files/fixed_drive_double.h"
#include "platform/system/memory.h"
#include "platform/files/paths.h"
#include "platform/registry/reg_file.h"
#include "platform/registry/registry_store.h"
#include "popup/popup_facade.h"
#include "tests/test_support.h"
#include "tests/udp_collector.h"

namespace quarrin {
namespace {

using namespace std::chrono_literals;

TEST(ClassifyRequestTest, FirstMatchingRowWins) {
  const struct {
    const char* line;
    HttpCommand command;
  } cases[] = {
      {"GET / HTTP/1.1", HttpCommand::kMenu},
      {"GET /HELP HTTP/1.0", HttpCommand::kMenu},
      {"GET /help?x=1 HTTP/1.1", HttpCommand::kMenu},
      {"GET /help?msg=test HTTP/1.1", HttpCommand::kMenu},  // the page's link seen from /help
      {"GET /index.html HTTP/1.1", HttpCommand::kInfo},
      {"GET /info HTTP/1.1", HttpCommand::kInfo},
      {"POST /apps HTTP/1.1", HttpCommand::kInfo},
      {"HEAD / HTTP/1.1", HttpCommand::kInfo},
      {"GET /apps?refresh=1 HTTP/1.1", HttpCommand::kApps},
      {"GET /appsx HTTP/1.1", HttpCommand::kApps},
      {"GET /?msg=Back%20in%205%20minutes HTTP/1.1", HttpCommand::kMessage},
      {"GET /?MSG=x HTTP/1.1", HttpCommand::kMessage},
      {"GET /?msgx HTTP/1.1", HttpCommand::kInfo},
      {"GET /?x=1 HTTP/1.1", HttpCommand::kInfo},
      {"GET /Syslog HTTP/1.1", HttpCommand::kSyslogTest},
      {"GET /mapdisk HTTP/1.1", HttpCommand::kDiskMap},
      {"GET /setserialno=ABC123 HTTP/1.1", HttpCommand::kSetAttribute},
      {"GET /SetAquisitionDate=1 HTTP/1.1", HttpCommand::kSetAttribute},
      {"GET /setinstalldate= HTTP/1.1", HttpCommand::kSetAttribute},
      {"GET /setcomment=x HTTP/1.1", HttpCommand::kSetAttribute},
      {"GET /setserialno HTTP/1.1", HttpCommand::kInfo},
      {"GET /disk_d HTTP/1.1", HttpCommand::kUsageChart},
      {"GET /disk_x HTTP/1.1", HttpCommand::kUsageChart},
      {"GET /odx HTTP/1.1", HttpCommand::kOdx},
      {"GET /update HTTP/1.1", HttpCommand::kUpdate},
      // The figures for Prometheus: a GET of exactly that path, after every
      // other row.
      {"GET /metrics HTTP/1.1", HttpCommand::kMetrics},
      {"GET /Metrics?name[]=x HTTP/1.1", HttpCommand::kMetrics},
      {"GET /metrics", HttpCommand::kMetrics},
      {"GET /metricsx HTTP/1.1", HttpCommand::kInfo},
      {"GET /metrics/ HTTP/1.1", HttpCommand::kInfo},
      {"GET /x/metrics HTTP/1.1", HttpCommand::kInfo},
      {"HEAD /metrics HTTP/1.1", HttpCommand::kInfo},
      {"POST /metrics HTTP/1.1", HttpCommand::kInfo},
      {"GET /metrics?get /apps HTTP/1.1", HttpCommand::kApps},
      // A command word further along the line counts too.
      {"GET /x?get /apps HTTP/1.1", HttpCommand::kApps},
      {"GET /x?r=get%20/apps HTTP/1.1", HttpCommand::kInfo},
      {"GET /x get /syslog HTTP/1.1", HttpCommand::kSyslogTest},
      {"", HttpCommand::kInfo},
  };
  for (const auto& c : cases) EXPECT_EQ(ClassifyRequest(c.line), c.command) << c.line;
}

TEST(MessageTextTest, OnlyEncodedBlanksAreDecoded) {
  const struct {
    const char* query;
    const char* text;
  } cases[] = {
      {"msg=Back%20in%205%20minutes", "Back in 5 minutes"},
      {"msg=a+b", "a+b"},
      {"msg=%3Cb%3E&x=1", "%3Cb%3E&x=1"},
      {"msg=%2020", " 20"},
      {"msg=", ""},
      {"msg", ""},
      {"", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(MessageText(c.query), c.text) << c.query;
}

TEST(MessageTextTest, LongMessagesAreCutToWholeCharacters) {
  EXPECT_EQ(MessageText("msg=" + std::string(30000, 'x')), std::string(kMaxMessageChars, 'x'));
  // An encoded blank is one character; so is a two-byte UTF-8 one.
  std::string blanks;
  for (size_t i = 0; i < kMaxMessageChars + 5; ++i) blanks += "%20";
  EXPECT_EQ(MessageText("msg=" + blanks), std::string(kMaxMessageChars, ' '));
  std::string umlauts;
  for (size_t i = 0; i < kMaxMessageChars + 5; ++i) umlauts += "\xC3\xA4";
  EXPECT_EQ(MessageText("msg=" + umlauts), umlauts.substr(0, 2 * kMaxMessageChars));
}

TEST(AttributeValueTest, FromTheFirstEqualsToTheNextBlank) {
  const struct {
    const char* line;
    const char* value;
  } cases[] = {
      {"GET /setserialno=ABC123 HTTP/1.1", "ABC123"},
      {"GET /setserialno= HTTP/1.1", ""},
      {"GET /setcomment=a%20b HTTP/1.1", "a%20b"},
      {"GET /setcomment=x=y HTTP/1.1", "x=y"},
      {"GET /setcomment=\tx\x01 HTTP/1.1", "x"},
      {"GET /setcomment=abc", ""},  // no blank after it
      {"GET /setcomment", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(AttributeValue(c.line), c.value) << c.line;
}

TEST(DiskUsedPercentTest, TruncatesAndSurvivesOddTotals) {
  const struct {
    int64_t total, free, used;
  } cases[] = {
      {100, 33, 67},
      {1000, 339, 67},  // 33.9 % free
      {100, 0, 100},
      {100, 100, 0},
      {0, 0, 0},
      {-1, -1, 0},  // a drive that cannot be queried
      {INT64_MAX, INT64_MAX / 2, 51},  // 49.99... % free
  };
  for (const auto& c : cases) {
    EXPECT_EQ(DiskUsedPercent(c.total, c.free), c.used) << c.total << " " << c.free;
  }
}

class DispatcherTest : public ::testing::Test {
 protected:
  DispatcherTest()
      : root_env_("QUARRIN_ROOT", root_.path()),
        clock_(EncodeDateTime({2006, 1, 5, 13, 45, 7, 123}), 1h) {
    MakeDirs(StateDir());
    store_ = OpenSqliteRegistryStore(RegistryDbPath());
    log_ = OpenEventLog(EventLogDbPath());
    events_ = std::make_unique<EventWriter>(*log_, kServiceName);
    std::string fixture = testing::ReadFileText(testing::SourcePath("http/testdata/workstation.reg"));
    for (size_t at; (at = fixture.find("@STAMPED@")) != std::string::npos;) {
      fixture.replace(at, 9, testing::BuiltExecutable("stamped_fixture"));
    }
    Import(fixture);

    c_.registry = store_.get();
    c_.clock = &clock_;
    c_.events = events_.get();
    c_.system_drive = &drive_;
    c_.popup = &popup_;
    c_.version_text = "10.11.31.0";
    c_.local_machine_name = "pc-office";
    c_.default_download_url = "http://downloads.example/Downloads";
    c_.vmware_probe = [] { return false; };
  }

  void Import(const std::string& reg) { ApplyRegChanges(*store_, ParseRegFile(reg)); }

  // The request as the server would fill it from this request line.
  static HttpServerRequest Request(const std::string& line, const std::string& body = "") {
    HttpServerRequest r;
    r.RawHTTPCommand = line;
    r.RemoteIP = "10.0.0.9";
    r.Command = line.substr(0, line.find(' '));
    const size_t target = line.find(' ') + 1;
    const std::string t = line.substr(target, line.rfind(' ') - target);
    if (t.find('?') != std::string::npos) r.QueryParams = t.substr(t.find('?') + 1);
    r.FormParams = body;
    r.UnparsedParams = body.empty() || r.QueryParams.empty()
                           ? body + r.QueryParams
                           : body + "\r\n" + r.QueryParams;
    return r;
  }

  HttpServerReply Run(const std::string& line, const std::string& body = "") {
    HttpServerReply reply;
    HTTPServerCommandGet(c_, Request(line, body), reply);
    return reply;
  }

  tRegAttributes Attributes() {
    tRegAttributes a;
    ReadAttributes(*store_, c_.default_download_url, &a);
    return a;
  }

  std::string Doc(const std::string& inner) {
    return "<?xml version=\"1.0\" ?><Quarrin>" + inner + "</Quarrin>";
  }

  testing::TempDir root_;
  testing::ScopedEnv root_env_;
  FakeClock clock_;
  std::unique_ptr<RegistryStore> store_;
  std::unique_ptr<EventLog> log_;
  std::unique_ptr<EventWriter> events_;
  FixedDrive drive_;
  PopupFacade popup_;
  DispatcherContext c_;
};

constexpr char kNow[] = "05/01/06 13:45:07.123";

TEST_F(DispatcherTest, InfoDocumentOfTheFixtureWorkstation) {
  const std::string genesis = ProgramFilesDir() + "/Amfac/Amfac Healthlinks/Data";
  ASSERT_TRUE(MakeDirs(genesis));
  testing::WriteFileText(genesis + "/GENESIS.GDB", std::string(1234567, 'g'));
  c_.syslog_host = "syslog.tarn";
  int reports = 0;
  c_.report_pc_details = [&] { ++reports; };

  HttpServerReply reply = Run("GET /index.html HTTP/1.1");
  EXPECT_EQ(reply.content_type, "text/xml");
  EXPECT_EQ(reply.body,
            Doc("<Version>10.11.31.0</Version><DateTime>05/01/06 13:45:07.123</DateTime>"
                "<MachineName>PC-OFFICE</MachineName><RegisteredOwner>J. Doe</RegisteredOwner>"
                "<RegisteredOrganisation>Doe &amp; Sons &lt;Ltd&gt;</RegisteredOrganisation>"
                "<CPUId>x86 Family 15 Model 4 Stepping 1</CPUId><CPUSpeed>3000</CPUSpeed>"
                "<TotCPU>2</TotCPU><NBNodeType>8</NBNodeType>"
                "<CPUName>Intel(R) Pentium(R) 4 CPU 3.00GHz</CPUName>"
                "<CurrentVersion>5.1</CurrentVersion><ProductID>55274-640-1234567-23456</ProductID>"
                "<ProductName>Workstation OS</ProductName><ServicePack>Service Pack 2</ServicePack>"
                "<SourcePath>D:\\I386</SourcePath><IEVersion>6.0.2900.2180</IEVersion>"
                "<BDEVersion>0.0.0.0</BDEVersion><GenesisSize>1,234,567</GenesisSize>"
                "<PhysicalMemory>" + MemoryText() + "</PhysicalMemory><VMWare>No</VMWare>"
                "<InstallDate>05/01/2006 13:45:07</InstallDate><DiskSize>3,000</DiskSize>"
                "<DiskUsed>67%</DiskUsed><RemoteIP>10.0.0.9</RemoteIP><Syslog>syslog.tarn</Syslog>"
                "<TickCount>0w0d1h0m0s</TickCount>"));
  EXPECT_EQ(reports, 1);
}

TEST_F(DispatcherTest, InfoEchoesTheRequestOnlyOnKaldernMachines) {
  Import("REGEDIT4\n[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\ComputerName\\"
         "ComputerName]\n\"ComputerName\"=\"kaldern-lab\"\n");
  HttpServerRequest request = Request("POST /x?a=1&b=2 HTTP/1.1", "f=<1>");
  request.From = "ops@tarn";
  request.Accept = "text/xml";
  HttpServerReply reply;
  HTTPServerCommandGet(c_, request, reply);
  EXPECT_NE(reply.body.find("<Syslog></Syslog><From>ops@tarn</From><Command>POST</Command>"
                            "<RawHTTPCommand>POST /x?a=1&amp;b=2 HTTP/1.1</RawHTTPCommand>"
                            "<UnparsedParams>f=&lt;1&gt;\r\na=1&amp;b=2</UnparsedParams>"
                            "<FormParams>f=&lt;1&gt;</FormParams>"
                            "<QueryParams>a=1&amp;b=2</QueryParams><Accept>text/xml</Accept>"
                            "<TickCount>"),
            std::string::npos)
      << reply.body;

  for (const char* name : {"KALDER", "XKALDERN", "PC-KALDERN"}) {
    Import(std::string("REGEDIT4\n[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\"
                       "ComputerName\\ComputerName]\n\"ComputerName\"=\"") + name + "\"\n");
    EXPECT_NE(Run("GET /x?a=1 HTTP/1.1").body.find("<Syslog></Syslog><TickCount>"),
              std::string::npos)
        << name;
  }
}

TEST_F(DispatcherTest, InfoWithADriveThatCannotBeQueriedOrHasNoSize) {
  drive_.answers = false;
  std::string body = Run("GET /info HTTP/1.1").body;
  EXPECT_NE(body.find("<DiskSize>-1</DiskSize><DiskUsed>0%</DiskUsed>"), std::string::npos);
  EXPECT_NE(body.find("<GenesisSize>0</GenesisSize>"), std::string::npos);
  drive_.answers = true;
  drive_.total_bytes = 0;
  drive_.free_bytes = 0;
  body = Run("GET /info HTTP/1.1").body;
  EXPECT_NE(body.find("<DiskSize>0</DiskSize><DiskUsed>0%</DiskUsed>"), std::string::npos);
}

TEST_F(DispatcherTest, AFailedCollectionLeavesTheDispatcher) {
  Import("REGEDIT4\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion]\n"
         "\"InstallDate\"=-\n");
  int reports = 0;
  c_.report_pc_details = [&] { ++reports; };
  try {
    Run("GET /info HTTP/1.1");
    ADD_FAILURE() << "no exception";
  } catch (const std::exception& e) {
    EXPECT_STREQ(e.what(), "Failed to get data for 'InstallDate'");
  }
  EXPECT_EQ(reports, 0);
}

TEST_F(DispatcherTest, AppsDocumentAfterTheApplicationReport) {
  std::vector<std::string> order;
  c_.report_applications = [&] { order.push_back("report"); };
  HttpServerReply reply = Run("GET /apps?refresh=1 HTTP/1.1");
  EXPECT_EQ(reply.content_type, "text/xml");
  EXPECT_NE(reply.body.find("<Attributes><App>Word</App><Path>" +
                            testing::BuiltExecutable("stamped_fixture") +
                            "</Path><Version>1.2.3.4</Version></Attributes></Quarrin>"),
            std::string::npos)
      << reply.body;
  EXPECT_EQ(order, std::vector<std::string>{"report"});
}

TEST_F(DispatcherTest, MessageIsLoggedHandedToThePopupAndAnswered) {
  const struct {
    const char* line;
    const char* text;
  } cases[] = {
      {"GET /?msg=Back%20in%205%20minutes HTTP/1.1", "Back in 5 minutes"},
      {"GET /?msg=a+b HTTP/1.1", "a+b"},
      {"GET /?msg= HTTP/1.1", ""},
  };
  for (const auto& c : cases) {
    HttpServerReply reply = Run(c.line);
    EXPECT_EQ(reply.content_type, "text/xml");
    EXPECT_EQ(reply.body, Doc(std::string("<DateTime>") + kNow + "</DateTime><Result>OK</Result>"));
    EXPECT_EQ(popup_.latest(), (PopupMessage{"Quarrin 10.11.31.0", kNow, "10.0.0.9", c.text}));
    EXPECT_TRUE(popup_.shown());
    const std::vector<EventRecord> entries = log_->Read(kServiceName);
    ASSERT_FALSE(entries.empty());
    EXPECT_EQ(entries.back().text, std::string("10.11.31.0 Message: ") + c.text);
    EXPECT_EQ(entries.back().type, EventType::kSuccess);
    EXPECT_EQ(entries.back().id, 100u);
  }
  EXPECT_EQ(popup_.message_count(), 3u);
}

TEST_F(DispatcherTest, MenuAndSyslogTestSendTheirDatagrams) {
  testing::UdpCollector collector;
  Syslog syslog("127.0.0.1", collector.port(), clock_, RegionalSettings{}, *events_);
  c_.syslog = &syslog;
  c_.syslog_host = "127.0.0.1";

  HttpServerReply menu = Run("GET / HTTP/1.1");
  EXPECT_EQ(menu.content_type, "text/html");
  EXPECT_NE(menu.body.find("<b>Host Name: </b>pc-office<br />\r\n"
                           "<b>Aquisition Date: </b>01/02/2005<br />\r\n\r\n"
                           "<b>PC Serial No: </b>SN-0001<br />\r\n\r\n</body>"),
            std::string::npos)
      << menu.body;
  std::optional<std::string> datagram = collector.Receive(5s);
  ASSERT_TRUE(datagram);
  EXPECT_TRUE(datagram->ends_with(": %QUARN-6-60000: 10.0.0.9 requested Main menue")) << *datagram;

  // The datagram is stamped with the same settings as the reply.
  Import("REGEDIT4\n[HKEY_USERS\\.DEFAULT\\Control Panel\\International]\n\"sTime\"=\"-\"\n");
  HttpServerReply test = Run("GET /syslog HTTP/1.1");
  EXPECT_EQ(test.body, Doc("<DateTime>05/01/06 13-45-07.123</DateTime><Result>OK</Result>"
                           "<Syslog>127.0.0.1</Syslog>"
                           "<Msg>A test NOTIFY level Syslog message was sent to 127.0.0.1</Msg>"
                           "<Version>10.11.31.0</Version>"));
  datagram = collector.Receive(5s);
  ASSERT_TRUE(datagram);
  EXPECT_EQ(*datagram, "<21>Jan 05 2006 13-45-07: %QUARN-5-00002: SYSLOG Test from pc-office");
}

TEST_F(DispatcherTest, AttributeSettersStoreTheRawValue) {
  const struct {
    const char* line;
    const char* data;
    tRegAttributes after;  // DownloadURL aside
  } cases[] = {
      {"GET /setserialno=ABC123 HTTP/1.1", "ABC123", {"ABC123", "", "01/02/2005", "", ""}},
      {"GET /setserialno= HTTP/1.1", "", {"ABC123", "", "01/02/2005", "", ""}},
      {"GET /SetInstallDate=03/04/2005 HTTP/1.1", "03/04/2005",
       {"ABC123", "03/04/2005", "01/02/2005", "", ""}},
      {"GET /setaquisitiondate=x HTTP/1.1", "x", {"ABC123", "03/04/2005", "x", "", ""}},
      {"GET /setcomment=a%20b<i> HTTP/1.1", "a%20b<i>", {"ABC123", "03/04/2005", "x", "a%20b<i>", ""}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line);
    HttpServerReply reply = Run(c.line);
    EXPECT_EQ(reply.content_type, "text/xml");
    EXPECT_EQ(reply.body, Doc(std::string("<DateTime>") + kNow + "</DateTime><Field></Field><Data>" +
                              XmlText(c.data) + "</Data><Result>OK</Result>"
                              "<Version>10.11.31.0</Version>"));
    tRegAttributes stored = Attributes();
    stored.DownloadURL = "";
    EXPECT_EQ(stored, c.after);
  }
}

TEST_F(DispatcherTest, UsageChartsReadTheSeriesAndTitleTheChart) {
  struct Drawn {
    std::string title;
    std::vector<std::string> labels;
    std::vector<double> values;
  };
  std::vector<Drawn> drawn;
  c_.draw_chart = [&](const std::string& title, const std::vector<std::string>& labels,
                      const std::vector<double>& values) {
    drawn.push_back({title, labels, values});
    return std::string("\xFF\xD8jpeg");
  };
  {
    Registry reg(*store_);
    reg.SetRootKey(RootKey::kLocalMachine);
    ASSERT_TRUE(reg.OpenKey(SeriesKeyPath(SeriesPeriod::kWeek), true));
    reg.WriteFloat("05/01/2006 12:30:00", 0.25);
    reg.WriteFloat("05/01/2006 13:00:00", 0.5);
  }
  HttpServerReply week = Run("GET /disk_w HTTP/1.1");
  EXPECT_EQ(week.content_type, "image/jpeg");
  EXPECT_EQ(week.body, "\xFF\xD8jpeg");
  ASSERT_EQ(drawn.size(), 1u);
  EXPECT_EQ(drawn[0].title, std::string("Weekly Graph (30min avg) PC-OFFICE % C Drive used "
                                        "(Size: 3,000) at ") + kNow);
  EXPECT_EQ(drawn[0].labels, (std::vector<std::string>{"13:00:00", "12:30:00"}));
  EXPECT_EQ(drawn[0].values, (std::vector<double>{50, 25}));

  // Before the first sample: a chart without points.
  EXPECT_EQ(Run("GET /disk_d HTTP/1.1").content_type, "image/jpeg");
  ASSERT_EQ(drawn.size(), 2u);
  EXPECT_TRUE(drawn[1].values.empty());
  EXPECT_EQ(drawn[1].title.substr(0, 23), "Daily Graph (5min avg) ");

  // No period: an empty image, nothing drawn.
  HttpServerReply none = Run("GET /disk_x HTTP/1.1");
  EXPECT_EQ(none.content_type, "image/jpeg");
  EXPECT_EQ(none.body, "");
  EXPECT_EQ(Run("GET /x?get /disk_d HTTP/1.1").body, "");  // the period is read from the start
  EXPECT_EQ(drawn.size(), 2u);
}

TEST_F(DispatcherTest, EachRequestReadsTheRegionalSettingsOnce) {
  std::vector<std::string> titles;
  c_.map_disk = [&](const std::string& title) {
    titles.push_back(title);
    return std::string("\xFF\xD8map");
  };
  Run("GET /mapdisk HTTP/1.1");
  Import("REGEDIT4\n[HKEY_USERS\\.DEFAULT\\Control Panel\\International]\n"
         "\"sThousand\"=\".\"\n\"sTime\"=\"-\"\n");
  Run("GET /mapdisk HTTP/1.1");
  EXPECT_EQ(titles, (std::vector<std::string>{
                        "PC-OFFICE C Drive map (Size: 3,000) at 05/01/06 13:45:07.123",
                        "PC-OFFICE C Drive map (Size: 3.000) at 05/01/06 13-45-07.123"}));
}

TEST_F(DispatcherTest, ADrawingThatFailsGivesTheErrorReply) {
  {
    Registry reg(*store_);
    reg.SetRootKey(RootKey::kLocalMachine);
    ASSERT_TRUE(reg.OpenKey(SeriesKeyPath(SeriesPeriod::kMonth), true));
    reg.WriteInteger("05/01/2006 12:00:00", 5);
  }
  HttpServerReply chart = Run("GET /disk_m HTTP/1.1");
  EXPECT_EQ(chart.content_type, "text/xml");
  EXPECT_EQ(chart.body, Doc(std::string("<DateTime>") + kNow +
                            "</DateTime><Error>Invalid data type for '05/01/2006 12:00:00'</Error>"
                            "<ClassName>quarrin::RegistryError</ClassName>"));

  std::string title;
  c_.map_disk = [&](const std::string& t) -> std::string {
    title = t;
    throw std::runtime_error("walk <failed>");
  };
  HttpServerReply map = Run("GET /mapdisk HTTP/1.1");
  EXPECT_EQ(title, std::string("PC-OFFICE C Drive map (Size: 3,000) at ") + kNow);
  EXPECT_EQ(map.content_type, "text/xml");
  EXPECT_EQ(map.body, Doc(std::string("<DateTime>") + kNow +
                          "</DateTime><Error>walk &lt;failed&gt;</Error>"
                          "<ClassName>std::runtime_error</ClassName>"));

  c_.map_disk = [](const std::string&) { return std::string("\xFF\xD8map"); };
  HttpServerReply ok = Run("GET /mapdisk HTTP/1.1");
  EXPECT_EQ(ok.content_type, "image/jpeg");
  EXPECT_EQ(ok.body, "\xFF\xD8map");
}

TEST_F(DispatcherTest, UpdateReplyFromTheCheck) {
  EXPECT_EQ(Run("GET /update HTTP/1.1").body,
            Doc(std::string("<RC>0</RC><UpdateVersion>0.0.0.0</UpdateVersion>"
                            "<CurrentVersion>10.11.31.0</CurrentVersion><DateTime>") +
                kNow + "</DateTime>"));
  c_.check_for_update = [](tFileUpdate& u) {
    u.Text = "10.11.32.0";
    u.UpdateAvailable = true;
  };
  EXPECT_EQ(Run("GET /update HTTP/1.1").body,
            Doc(std::string("<RC>1</RC><UpdateVersion>10.11.32.0</UpdateVersion>"
                            "<CurrentVersion>10.11.31.0</CurrentVersion><DateTime>") +
                kNow + "</DateTime>"));
}

TEST_F(DispatcherTest, MetricsReadWhatTheAgentHoldsAndCountTheRequests) {
  AgentMetrics metrics(clock_);
  c_.metrics = &metrics;
  int reports = 0;
  c_.report_pc_details = [&] { ++reports; };
  c_.report_applications = [&] { ++reports; };
  c_.access = nullptr;
  {
    Registry reg(*store_);
    reg.SetRootKey(RootKey::kLocalMachine);
    ASSERT_TRUE(reg.OpenKey(SeriesKeyPath(SeriesPeriod::kDay), true));
    reg.WriteFloat("05/01/06 13:35:00.000", 0.5);
    reg.WriteFloat("05/01/06 13:40:00.000", 0.625);  // the latest
    reg.WriteFloat("04/01/06 23:55:00.000", 0.75);   // later in text order only
  }
  Run("GET /info HTTP/1.1");
  HttpServerReply reply = Run("GET /metrics HTTP/1.1");
  EXPECT_EQ(reply.status, 200u);
  EXPECT_EQ(reply.content_type, "text/plain; version=0.0.4; charset=utf-8");
  const int64_t sampled = UnixMsFromLocalDateTime(EncodeDateTime({2006, 1, 5, 13, 40, 0, 0}));
  for (const std::string& line :
       {std::string("quarrin_build_info{version=\"10.11.31.0\"} 1\n"),
        std::string("quarrin_system_drive_size_bytes 3000\n"),
        std::string("quarrin_system_drive_free_bytes 990\n"),
        std::string("quarrin_system_drive_used_ratio 0.625\n"),
        "quarrin_system_drive_sample_time_seconds " + std::to_string(sampled / 1000) + "\n",
        std::string("quarrin_http_requests_total{command=\"info\",status=\"200\"} 1\n"),
        std::string("quarrin_http_requests_total{command=\"metrics\",status=\"200\"} 0\n")}) {
    EXPECT_NE(reply.body.find(line), std::string::npos) << line << reply.body;
  }
  // Only the info request reported; the scrape itself is counted after it.
  EXPECT_EQ(reports, 1);
  EXPECT_EQ(metrics.HttpRequests(static_cast<size_t>(HttpCommand::kMetrics), 200), 1u);

  // A reader's command for AllowedReaders only; a failing command counts as 500.
  ClientAccess access{{}, AddressList::Parse("AllowedReaders", "10.0.0.1")};
  c_.access = &access;
  HttpServerRequest outsider = Request("GET /metrics HTTP/1.1");
  outsider.RemoteAddress = ParseIpAddress("10.0.0.9");
  HttpServerReply refused;
  HTTPServerCommandGet(c_, outsider, refused);
  EXPECT_EQ(refused.status, 403u);
  EXPECT_EQ(metrics.HttpRefusals(HttpRefusal::kAllowList), 1u);
  EXPECT_EQ(metrics.HttpRequests(static_cast<size_t>(HttpCommand::kMetrics), 403), 1u);
  c_.access = nullptr;
  Import("REGEDIT4\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion]\n"
         "\"InstallDate\"=-\n");
  EXPECT_THROW(Run("GET /info HTTP/1.1"), std::exception);
  EXPECT_EQ(metrics.HttpRequests(static_cast<size_t>(HttpCommand::kInfo), 500), 1u);

  // Without a sample or a drive to query, those figures are left out.
  drive_.answers = false;
  {
    Registry reg(*store_);
    reg.SetRootKey(RootKey::kLocalMachine);
    reg.DeleteKey(SeriesKeyPath(SeriesPeriod::kDay));
  }
  const std::string bare = Run("GET /metrics HTTP/1.1").body;
  EXPECT_EQ(bare.find("quarrin_system_drive"), std::string::npos) << bare;
}

class OdxTest : public DispatcherTest {
 protected:
  OdxTest() : path_(CommonAppDataDir() + "/TARN/ODX/LastTX.XML") {
    MakeDirs(CommonAppDataDir() + "/TARN/ODX");
  }
  std::string Error(const std::string& message) {
    return Doc("<RC>ERROR</RC><Version>10.11.31.0</Version><Error>" + message + "</Error>");
  }
  const std::string path_;
};

TEST_F(OdxTest, AMissingFileNamesThePathLookedFor) {
  HttpServerReply reply = Run("GET /odx HTTP/1.1");
  EXPECT_EQ(reply.content_type, "text/xml");
  EXPECT_EQ(reply.body,
            Doc("<RC>Fail</RC><Version>10.11.31.0</Version><Result>" + path_ + "</Result>"));
  std::filesystem::create_directory(path_);  // a folder is no file either
  EXPECT_EQ(Run("GET /odx HTTP/1.1").body,
            Doc("<RC>Fail</RC><Version>10.11.31.0</Version><Result>" + path_ + "</Result>"));
}

TEST_F(OdxTest, TheDocumentAsTheParserWritesItWithCrLfLines) {
  testing::WriteFileText(path_,
                         "<?xml version=\"1.0\"?>\n<!-- last -->\n<Tx id=\"7\">\n  <Item>a &amp; b"
                         "</Item>\r\n  <Note>line one\nline two</Note>\n</Tx>\n");
  HttpServerReply reply = Run("GET /odx HTTP/1.1");
  EXPECT_EQ(reply.content_type, "text/xml");
  EXPECT_EQ(reply.body,
            "<?xml version=\"1.0\"?>\r\n<!-- last -->\r\n<Tx id=\"7\"><Item>a &amp; b</Item>"
            "<Note>line one\r\nline two</Note></Tx>\r\n");
}

TEST_F(OdxTest, UnreadableFilesGetTheErrorReply) {
  const struct {
    std::string content;
    std::string error;
  } cases[] = {
      {"<Tx><a></Tx>", "Start-end tags mismatch at offset 9"},
      {std::string("\x00\x01\x02\xFF\xFE garbage", 12), "No document element found at offset 12"},
      {"", "No document element found at offset 0"},
  };
  for (const auto& c : cases) {
    testing::WriteFileText(path_, c.content);
    EXPECT_EQ(Run("GET /odx HTTP/1.1").body, Error(c.error));
  }
  testing::WriteFileText(path_, "<a/>");
  ASSERT_EQ(truncate(path_.c_str(), kMaxOdxFileBytes + 1), 0);
  EXPECT_EQ(Run("GET /odx HTTP/1.1").body,
            Error(path_ + " holds 8388609 bytes; at most 8388608 are read"));
  std::filesystem::remove(path_);
  ASSERT_EQ(mkfifo(path_.c_str(), 0600), 0);  // would block a plain read
  EXPECT_EQ(Run("GET /odx HTTP/1.1").body, Error(path_ + " is not a file"));
}

TEST_F(OdxTest, DeepNestingIsParsedAndWrittenWithoutRecursion) {
  constexpr int kDepth = 500000;
  std::string xml;
  xml.reserve(kDepth * 7 + 16);
  for (int i = 0; i < kDepth; ++i) xml += "<a>";
  xml += "x";
  for (int i = 0; i < kDepth; ++i) xml += "</a>";
  testing::WriteFileText(path_, xml);
  HttpServerReply reply;
  // On a thread with the default stack, as the connection threads have.
  std::thread t([&] { reply = Run("GET /odx HTTP/1.1"); });
  t.join();
  EXPECT_EQ(reply.body, xml + "\r\n");
}

}  // namespace
}  // namespace quarrin
