// The real QuarrinSrvc in a temporary QUARRIN_ROOT with a fixture registry,
// driven over loopback for every row of the command table; documents are
// compared byte for byte with the time stamps masked.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "core/file_version.h"
#include "core/time_texts.h"
#include "http/html_pages.h"
#include "http/raw_http_client_testing.h"
#include "inventory/pc_details.h"
#include "platform/files/disk_space.h"
#include "platform/eventlog/event_log.h"
#include "platform/system/memory.h"
#include "platform/files/paths.h"
#include "platform/regional/regional_settings.h"
#include "tests/http_test_server.h"
#include "tests/test_support.h"
#include "tests/tls_testing.h"

extern char** environ;

namespace quarrin {
namespace {

using namespace std::chrono_literals;
using testing::BuiltExecutable;
using testing::FreePort;
using testing::RawConnection;
using testing::RawExchange;
using testing::RawResponse;
using testing::SimpleRequest;

// The agent as a child process, stopped with SIGTERM (killed if it will not
// stop) when the object goes.
class AgentProcess {
 public:
  AgentProcess(const std::vector<std::string>& extra_env, const std::string& log_path) {
    std::vector<std::string> env;
    for (char** e = environ; *e != nullptr; ++e) env.emplace_back(*e);
    env.insert(env.end(), extra_env.begin(), extra_env.end());
    std::vector<char*> envp;
    for (std::string& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    std::string exe = BuiltExecutable("QuarrinSrvc");
    char* argv[] = {exe.data(), nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, log_path.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    if (posix_spawn(&pid_, exe.c_str(), &actions, nullptr, argv, envp.data()) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
  }
  ~AgentProcess() {
    if (Stop() < 0 && pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
  }

  bool started() const { return pid_ > 0; }
  bool alive() {
    if (pid_ <= 0) return false;
    if (waitpid(pid_, &status_, WNOHANG) == 0) return true;
    Reaped();
    return false;
  }

  // Sends SIGTERM and waits up to 20 s; the exit status, or -1.
  int Stop() {
    if (pid_ <= 0) return exit_status_;
    kill(pid_, SIGTERM);
    for (int i = 0; i < 2000; ++i) {
      if (waitpid(pid_, &status_, WNOHANG) == pid_) {
        Reaped();
        return exit_status_;
      }
      std::this_thread::sleep_for(10ms);
    }
    return -1;
  }

 private:
  void Reaped() {
    pid_ = 0;
    exit_status_ = WIFEXITED(status_) ? WEXITSTATUS(status_) : 128 + WTERMSIG(status_);
  }

  pid_t pid_ = -1;
  int status_ = 0;
  int exit_status_ = -1;
};

class AgentHttpTest : public ::testing::Test {
 protected:
  void SetUp() override {
    port_ = FreePort();
    env_ = {"QUARRIN_ROOT=" + root_.path(), "QUARRIN_SCM=TARNQuarrinSrvc", "QUARRIN_LIVE_FACTS=0",
            "NOTIFY_SOCKET="};
    std::string fixture = testing::ReadFileText(testing::SourcePath("http/testdata/workstation.reg"));
    for (size_t at; (at = fixture.find("@STAMPED@")) != std::string::npos;) {
      fixture.replace(at, 9, BuiltExecutable("stamped_fixture"));
    }
    Import(fixture);
    SetDeployment(port_);
    version_ = GetFileVersion(BuiltExecutable("QuarrinSrvc")).Text;
  }

  void Import(const std::string& reg) {
    const std::string file = root_ / "import.reg";
    testing::WriteFileText(file, reg);
    testing::CommandResult r =
        testing::RunCommand({BuiltExecutable("quarrinctl"), "reg", "import", file}, env_);
    ASSERT_EQ(r.exit_status, 0) << r.err;
  }

  void SetDeployment(uint16_t port) {
    Import("REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\TARN\\QuarrinSrvc\\Deployment]\n"
           "\"HTTPPort\"=\"" + std::to_string(port) + "\"\n"
           "\"ManifestURL\"=\"" + refusing_.Url("/downloads/QuarrinSrvc.xml") + "\"\n");
  }

  // Starts the agent and waits until it answers on its port.
  void StartAgent() {
    agent_ = std::make_unique<AgentProcess>(env_, root_ / "agent.log");
    ASSERT_TRUE(agent_->started());
    for (int i = 0; i < 1500; ++i) {
      if (RawConnection(port_).valid()) return;
      ASSERT_TRUE(agent_->alive()) << testing::ReadFileText(root_ / "agent.log");
      std::this_thread::sleep_for(10ms);
    }
    FAIL() << "the agent did not listen on " << port_;
  }

  RawResponse Get(const std::string& request_line) {
    return RawExchange(port_, SimpleRequest(request_line));
  }

  std::vector<EventRecord> Events() {
    return OpenEventLog(root_.path() + "/var/lib/quarrin/eventlog.db")->Read("TARNQuarrinSrvc");
  }

  // The content of each named element (or the text after each label) made "*".
  static std::string Masked(std::string text) {
    static const std::regex elements("<(DateTime|TickCount)>[^<]*</");
    static const std::regex label("Date Time: </b>[^<]*");
    return std::regex_replace(std::regex_replace(text, elements, "<$1>*</"), label,
                              "Date Time: </b>*");
  }

  std::string Doc(const std::string& inner) {
    return "<?xml version=\"1.0\" ?><Quarrin>" + inner + "</Quarrin>";
  }

  std::string InfoDocument(const std::string& machine, const std::string& echo,
                           const std::string& genesis, int64_t disk_total, int64_t disk_used) {
    return Doc("<Version>" + version_ + "</Version><DateTime>*</DateTime>"
               "<MachineName>" + machine + "</MachineName><RegisteredOwner>J. Doe</RegisteredOwner>"
               "<RegisteredOrganisation>Doe &amp; Sons &lt;Ltd&gt;</RegisteredOrganisation>"
               "<CPUId>x86 Family 15 Model 4 Stepping 1</CPUId><CPUSpeed>3000</CPUSpeed>"
               "<TotCPU>2</TotCPU><NBNodeType>8</NBNodeType>"
               "<CPUName>Intel(R) Pentium(R) 4 CPU 3.00GHz</CPUName>"
               "<CurrentVersion>5.1</CurrentVersion><ProductID>55274-640-1234567-23456</ProductID>"
               "<ProductName>Workstation OS</ProductName><ServicePack>Service Pack 2</ServicePack>"
               "<SourcePath>D:\\I386</SourcePath><IEVersion>6.0.2900.2180</IEVersion>"
               "<BDEVersion>0.0.0.0</BDEVersion><GenesisSize>" + genesis + "</GenesisSize>"
               "<PhysicalMemory>" + MemoryText() + "</PhysicalMemory>"
               "<VMWare>" + (VMwareProbe() ? "Yes" : "No") + "</VMWare>"
               "<InstallDate>05/01/2006 13:45:07</InstallDate>"
               "<DiskSize>" + SizeText(disk_total, RegionalSettings{}) + "</DiskSize>"
               "<DiskUsed>" + std::to_string(disk_used) + "%</DiskUsed>"
               "<RemoteIP>127.0.0.1</RemoteIP><Syslog></Syslog>" + echo +
               "<TickCount>*</TickCount>");
  }

  // The info reply with its DiskUsed checked against the drive as it is now
  // and then set to what `expected_used` will be compared with.
  std::string InfoBody(const RawResponse& r, int64_t* total, int64_t* used) {
    int64_t free = 0;
    EXPECT_TRUE(StatvfsDiskSpace(root_.path() + "/").Query(total, &free));
    *used = 100 - free * 100 / *total;
    std::string body = Masked(r.body);
    // The free space may move by a byte or two between the two readings.
    std::smatch m;
    if (std::regex_search(body, m, std::regex("<DiskUsed>(-?[0-9]+)%</DiskUsed>"))) {
      const int64_t got = std::stoll(m[1]);
      if (got == *used - 1 || got == *used + 1) *used = got;
    }
    return body;
  }

  // The menu page with the time masked; its bytes are checked where it is built.
  std::string MenuPage(const std::string& serial, const std::string& comment) {
    MenuPageValues values;
    values.date_time = "*";
    values.version = version_;
    values.local_machine_name = LocalComputerName();
    values.attributes.AquisitionDate = "01/02/2005";
    values.attributes.SerialNo = serial;
    values.attributes.Comment = comment;
    return BuildMenuPage(values);
  }

  testing::TempDir root_;
  testing::RefusingPort refusing_;
  uint16_t port_ = 0;
  std::vector<std::string> env_;
  std::string version_;
  std::unique_ptr<AgentProcess> agent_;
};

TEST_F(AgentHttpTest, EveryCommandOfTheTable) {
  const std::string genesis = root_.path() + "/opt/Amfac/Amfac Healthlinks/Data";
  std::filesystem::create_directories(genesis);
  testing::WriteFileText(genesis + "/GENESIS.GDB", std::string(1234567, 'g'));
  ASSERT_NO_FATAL_FAILURE(StartAgent());

  // The menu page, for the root and for help.
  for (const char* line : {"GET / HTTP/1.1", "GET /HELP HTTP/1.0"}) {
    SCOPED_TRACE(line);
    RawResponse menu = Get(line);
    EXPECT_EQ(menu.status, 200);
    EXPECT_EQ(menu.Header("Content-Type"), "text/html");
    EXPECT_EQ(menu.Header("Connection"), "close");
    EXPECT_TRUE(menu.closed);
    EXPECT_EQ(Masked(menu.body), MenuPage("SN-0001", ""));
  }

  // The info document, for a target without a command and for any POST.
  int64_t total = 0, used = 0;
  size_t info_size = 0;
  for (const std::string& request :
       {SimpleRequest("GET /index.html HTTP/1.1"),
        std::string("POST /apps HTTP/1.1\r\nHost: h\r\nContent-Length: 3\r\n\r\na=1")}) {
    SCOPED_TRACE(request);
    RawResponse info = RawExchange(port_, request);
    EXPECT_EQ(info.status, 200);
    EXPECT_EQ(info.Header("Content-Type"), "text/xml");
    std::string body = InfoBody(info, &total, &used);
    EXPECT_EQ(body, InfoDocument("PC-OFFICE", "", "1,234,567", total, used));
    info_size = info.body.size();
  }
  RawResponse head = Get("HEAD / HTTP/1.1");
  EXPECT_EQ(head.status, 200);
  EXPECT_EQ(head.Header("Content-Type"), "text/xml");
  // The same document, but for a digit more or less of the uptime.
  EXPECT_NEAR(std::stoi("0" + head.Header("Content-Length")), static_cast<int>(info_size), 2);
  EXPECT_EQ(head.body, "");

  // The apps document.
  RawResponse apps = Get("GET /apps?refresh=1 HTTP/1.1");
  EXPECT_EQ(apps.Header("Content-Type"), "text/xml");
  std::string listed;
  for (const char* app : {"Access", "CiscoVPN", "Dispense", "EtherPeek", "Excel",
                          "InternetExplorer", "iTunes", "Java", "OutLook", "PowerPoint",
                          "MSProject", "QuarrinSrvc"}) {
    listed += std::string("<Attributes><App>") + app + "</App><Path></Path><Version></Version>"
              "</Attributes>";
  }
  EXPECT_EQ(apps.body, Doc(listed + "<Attributes><App>Word</App><Path>" +
                           BuiltExecutable("stamped_fixture") +
                           "</Path><Version>1.2.3.4</Version></Attributes>"));

  // Messages: the reply, and the event-log entry for each.
  for (const char* line : {"GET /?msg=Back%20in%205%20minutes HTTP/1.1", "GET /?msg=a+b HTTP/1.1"}) {
    RawResponse message = Get(line);
    EXPECT_EQ(message.Header("Content-Type"), "text/xml");
    EXPECT_EQ(Masked(message.body), Doc("<DateTime>*</DateTime><Result>OK</Result>"));
  }
  std::vector<std::string> messages;
  for (const EventRecord& e : Events()) {
    if (e.id == 100) messages.push_back(e.text);
  }
  EXPECT_EQ(messages, (std::vector<std::string>{version_ + " Message: Back in 5 minutes",
                                                version_ + " Message: a+b"}));

  // The syslog test, with no collector known.
  EXPECT_EQ(Masked(Get("GET /syslog HTTP/1.1").body),
            Doc("<DateTime>*</DateTime><Result>OK</Result><Syslog></Syslog>"
                "<Msg>A test NOTIFY level Syslog message was sent to </Msg>"
                "<Version>" + version_ + "</Version>"));

  // Images.
  for (const char* line : {"GET /mapdisk HTTP/1.1", "GET /disk_d HTTP/1.1"}) {
    SCOPED_TRACE(line);
    RawResponse image = Get(line);
    EXPECT_EQ(image.Header("Content-Type"), "image/jpeg");
    EXPECT_EQ(image.body.substr(0, 3), "\xFF\xD8\xFF");
    EXPECT_EQ(image.body.substr(image.body.size() - 2), "\xFF\xD9");
  }
  RawResponse no_period = Get("GET /disk_x HTTP/1.1");
  EXPECT_EQ(no_period.Header("Content-Type"), "image/jpeg");
  EXPECT_EQ(no_period.Header("Content-Length"), "0");
  EXPECT_EQ(no_period.body, "");

  // Attribute setters, and the menu page showing what they stored.
  auto attribute_reply = [&](const std::string& data) {
    return Doc("<DateTime>*</DateTime><Field></Field><Data>" + data + "</Data><Result>OK</Result>"
               "<Version>" + version_ + "</Version>");
  };
  EXPECT_EQ(Masked(Get("GET /setserialno=ABC123 HTTP/1.1").body), attribute_reply("ABC123"));
  EXPECT_EQ(Masked(Get("GET /setserialno= HTTP/1.1").body), attribute_reply(""));
  EXPECT_EQ(Masked(Get("GET /setcomment=a<b>&c HTTP/1.1").body),
            attribute_reply("a&lt;b&gt;&amp;c"));
  EXPECT_EQ(Masked(Get("GET / HTTP/1.1").body), MenuPage("ABC123", "a<b>&c"));
  // A client's Windows-1252 byte is kept as the character it stands for.
  EXPECT_EQ(Masked(Get("GET /setcomment=caf\xE9 HTTP/1.1").body),
            attribute_reply("caf\xC3\xA9"));
  EXPECT_EQ(Masked(Get("GET / HTTP/1.1").body), MenuPage("ABC123", "caf\xC3\xA9"));

  // The last ODX transaction: missing, then present, then broken.
  const std::string odx = root_.path() + "/var/lib/TARN/ODX/LastTX.XML";
  EXPECT_EQ(Get("GET /odx HTTP/1.1").body,
            Doc("<RC>Fail</RC><Version>" + version_ + "</Version><Result>" + odx + "</Result>"));
  std::filesystem::create_directories(root_.path() + "/var/lib/TARN/ODX");
  testing::WriteFileText(odx, "<?xml version=\"1.0\"?>\n<Tx>\n  <Id>42</Id>\n</Tx>\n");
  EXPECT_EQ(Get("GET /odx HTTP/1.1").body, "<?xml version=\"1.0\"?>\r\n<Tx><Id>42</Id></Tx>\r\n");
  testing::WriteFileText(odx, "<Tx><Id>42</Tx>");
  EXPECT_EQ(Get("GET /odx HTTP/1.1").body,
            Doc("<RC>ERROR</RC><Version>" + version_ +
                "</Version><Error>Start-end tags mismatch at offset 12</Error>"));

  // The update check: the update site of this fixture cannot be reached, so
  // the reply carries the manifest's failure as the update version.
  std::string update = Masked(Get("GET /update HTTP/1.1").body);
  EXPECT_EQ(update.rfind("<?xml version=\"1.0\" ?><Quarrin><RC>0</RC><UpdateVersion>Error: ", 0), 0u)
      << update;
  EXPECT_NE(update.find("</UpdateVersion><CurrentVersion>" + version_ +
                        "</CurrentVersion><DateTime>*</DateTime></Quarrin>"),
            std::string::npos)
      << update;

  // On a machine named KALDERN... the info document echoes the request.
  Import("REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\ComputerName\\"
         "ComputerName]\n\"ComputerName\"=\"kaldern-lab\"\n");
  RawResponse echo = RawExchange(
      port_, "GET /x?a=1&b=2 HTTP/1.1\r\nHost: h\r\nFrom: ops@tarn\r\nAccept: */*\r\n\r\n");
  std::string body = InfoBody(echo, &total, &used);
  EXPECT_EQ(body, InfoDocument("kaldern-lab",
                               "<From>ops@tarn</From><Command>GET</Command>"
                               "<RawHTTPCommand>GET /x?a=1&amp;b=2 HTTP/1.1</RawHTTPCommand>"
                               "<UnparsedParams>a=1&amp;b=2</UnparsedParams><FormParams></FormParams>"
                               "<QueryParams>a=1&amp;b=2</QueryParams><Accept>*/*</Accept>",
                               "1,234,567", total, used));
  // The line exactly as sent is echoed, and chooses the command: with two
  // blanks, "GET  /help" holds no command word.
  for (const char* line : {"GET  /info  HTTP/1.1", "GET  /help HTTP/1.1"}) {
    SCOPED_TRACE(line);
    RawResponse exact = Get(line);
    EXPECT_EQ(exact.Header("Content-Type"), "text/xml");
    EXPECT_NE(exact.body.find(std::string("<RawHTTPCommand>") + line + "</RawHTTPCommand>"),
              std::string::npos)
        << exact.body;
  }

  // The start-up entry, and a clean stop.
  bool started = false;
  for (const EventRecord& e : Events()) {
    started |= e.id == 2 && e.text == version_ + " HTTP service started on port " +
                                          std::to_string(port_) + ".";
  }
  EXPECT_TRUE(started);
  EXPECT_EQ(agent_->Stop(), 0);
  EXPECT_FALSE(RawConnection(port_).valid());
}

TEST_F(AgentHttpTest, BadInputGetsAClearAnswerAndTheAgentGoesOn) {
  ASSERT_NO_FATAL_FAILURE(StartAgent());
  RawResponse long_line = Get("GET /" + std::string(200000, 'a') + " HTTP/1.1");
  EXPECT_EQ(long_line.status, 414);
  std::string headers = "GET / HTTP/1.1\r\nHost: h\r\n";
  for (int i = 0; i < 1000; ++i) headers += "X-" + std::to_string(i) + ": " + std::string(60, 'h') + "\r\n";
  EXPECT_EQ(RawExchange(port_, headers + "\r\n").status, 431);
  RawResponse big = RawExchange(
      port_, "POST / HTTP/1.1\r\nHost: h\r\nContent-Length: 2097152\r\n\r\n" + std::string(65536, 'b'));
  EXPECT_EQ(big.status, 413);
  EXPECT_EQ(Get("PUT / HTTP/1.1").status, 405);
  // What is not HTTP at all (a TLS greeting here).
  RawResponse binary =
      RawExchange(port_, std::string("\x16\x03\x01\x02\x00\x01\x00\x01\xFC\x03\x03\r\n\r\n", 15), 5s);
  EXPECT_EQ(binary.status, 400);
  EXPECT_TRUE(binary.closed);

  // Clients that connect and send nothing, 7 from each of 9 addresses, up
  // to one below the limit of 64: another client is still answered.
  std::vector<std::unique_ptr<RawConnection>> idle;
  for (int i = 0; i < 63; ++i) {
    const std::string from = "127.0.1." + std::to_string(1 + i / 7);
    idle.push_back(std::make_unique<RawConnection>(port_, from.c_str()));
    ASSERT_TRUE(idle.back()->valid());
  }
  std::this_thread::sleep_for(200ms);
  RawResponse menu = Get("GET / HTTP/1.1");
  EXPECT_EQ(menu.status, 200);
  EXPECT_EQ(menu.Header("Content-Type"), "text/html");
  idle.clear();

  EXPECT_TRUE(agent_->alive());
  EXPECT_EQ(agent_->Stop(), 0);
}

TEST_F(AgentHttpTest, APortThatIsTakenIsLoggedAndTheServiceRunsOn) {
  // Something else listens on the agent's port.
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port_);
  ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ASSERT_EQ(listen(fd, 4), 0);
  agent_ = std::make_unique<AgentProcess>(env_, root_ / "agent.log");
  bool failed = false;
  for (int i = 0; i < 1000 && !failed; ++i) {
    for (const EventRecord& e : Events()) {
      failed |= e.id == 3 && e.type == EventType::kError &&
                e.text == version_ + " Failed to start HTTP service on port " +
                              std::to_string(port_) + ".";
    }
    if (!failed) std::this_thread::sleep_for(10ms);
  }
  EXPECT_TRUE(failed) << testing::ReadFileText(root_ / "agent.log");
  std::this_thread::sleep_for(300ms);
  EXPECT_TRUE(agent_->alive());
  EXPECT_EQ(agent_->Stop(), 0);
  close(fd);
}

TEST_F(AgentHttpTest, AFailedDetailsCollectionAtStartUpStopsTheService) {
  Import("REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion]\n"
         "\"InstallDate\"=-\n");
  AgentProcess agent(env_, root_ / "agent.log");
  bool stopped = false;
  for (int i = 0; i < 1000 && !stopped; ++i) {
    stopped = !agent.alive();
    if (!stopped) std::this_thread::sleep_for(10ms);
  }
  EXPECT_TRUE(stopped);
  bool logged = false;
  for (const EventRecord& e : Events()) {
    logged |= e.id == 999 && e.text == "E.Message1=Failed to get data for 'InstallDate'";
  }
  EXPECT_TRUE(logged) << testing::ReadFileText(root_ / "agent.log");
  EXPECT_FALSE(RawConnection(port_).valid());
}

// Securing a deployment: the Deployment settings that close the agent, and
// state that other users cannot change.

// A request made with curl: the status ("000" when there was no answer) and
// the body. `extra` goes before the URL (--interface, --cacert, ...).
struct CurlResult {
  std::string status;
  std::string body;
};
CurlResult Curl(const std::vector<std::string>& extra, const std::string& url) {
  const std::string marker = "\n--status:";
  std::vector<std::string> argv = {"curl", "-s", "--max-time", "10", "-w", marker + "%{http_code}"};
  argv.insert(argv.end(), extra.begin(), extra.end());
  argv.push_back(url);
  testing::CommandResult r = testing::RunCommand(argv);
  const size_t at = r.out.rfind(marker);
  if (at == std::string::npos) return {"000", ""};
  return {r.out.substr(at + marker.size()), r.out.substr(0, at)};
}

TEST_F(AgentHttpTest, OnlyAllowedClientsMayActAndRefusalsAreLogged) {
  Import("REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\TARN\\QuarrinSrvc\\Deployment]\n"
         "\"AllowedClients\"=\"127.0.0.1, ::1\"\n");
  StartAgent();
  const std::string base = "http://127.0.0.1:" + std::to_string(port_);
  const std::vector<std::string> from_other = {"--interface", "127.0.0.2"};
  for (const char* path : {"/setcomment=taken", "/update", "/syslog", "/mapdisk", "/?msg=hi"}) {
    CurlResult r = Curl(from_other, base + path);
    EXPECT_EQ(r.status, "403") << path;
    EXPECT_EQ(r.body, "Forbidden: this client may not use this command (AllowedClients)\r\n")
        << path;
  }
  // Reading stays open.
  EXPECT_EQ(Curl(from_other, base + "/").status, "200");
  EXPECT_EQ(Curl(from_other, base + "/disk_d").status, "200");
  // The allowed client acts.
  CurlResult set = Curl({"--interface", "127.0.0.1"}, base + "/setcomment=kept");
  EXPECT_EQ(set.status, "200");
  EXPECT_NE(set.body.find("<Data>kept</Data><Result>OK</Result>"), std::string::npos) << set.body;
  EXPECT_NE(Get("GET / HTTP/1.1").body.find("kept"), std::string::npos);
  // By default the agent listens on IPv6 as well, where the list applies too.
  if (testing::ReadFileText("/proc/net/if_inet6").find("00000000000000000000000000000001") !=
      std::string::npos) {
    const std::string v6 = "http://[::1]:" + std::to_string(port_);
    EXPECT_EQ(Curl({"-g"}, v6 + "/setcomment=v6").status, "200");
    EXPECT_EQ(Curl({"-g"}, v6 + "/").status, "200");
  }

  // One entry for the burst of refusals.
  std::vector<std::string> refusals;
  for (const EventRecord& e : Events()) {
    if (e.id == 5) refusals.push_back(e.text);
  }
  EXPECT_EQ(refusals, std::vector<std::string>{
                          "Refused HTTP request from 127.0.0.2: GET /setcomment=taken HTTP/1.1 "
                          "(Forbidden: this client may not use this command (AllowedClients))"});
  EXPECT_EQ(agent_->Stop(), 0);
}

TEST_F(AgentHttpTest, HttpAddressAndTlsOfTheDeploymentKey) {
  testing::TestCertificates certs(root_.path());
  Import("REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\TARN\\QuarrinSrvc\\Deployment]\n"
         "\"HTTPAddress\"=\"127.0.0.1\"\n"
         "\"HTTPCertificateFile\"=\"" + certs.server_certificate() + "\"\n"
         "\"HTTPKeyFile\"=\"" + certs.server_key() + "\"\n");
  StartAgent();
  const std::string port = std::to_string(port_);
  CurlResult secure = Curl({"--cacert", certs.ca_file()}, "https://127.0.0.1:" + port + "/");
  EXPECT_EQ(secure.status, "200");
  EXPECT_NE(secure.body.find("<html>"), std::string::npos) << secure.body;
  // Plain HTTP gets no answer, nor does a client that does not trust the
  // certificate, nor one on another address.
  EXPECT_NE(Curl({}, "http://127.0.0.1:" + port + "/").status, "200");
  EXPECT_EQ(Curl({}, "https://127.0.0.1:" + port + "/").status, "000");
  EXPECT_EQ(Curl({"--cacert", certs.ca_file()}, "https://127.0.0.2:" + port + "/").status, "000");
  EXPECT_EQ(agent_->Stop(), 0);
}

TEST_F(AgentHttpTest, UnusableSettingsKeepTheServerClosed) {
  const std::string port = std::to_string(port_);
  struct {
    const char* values;  // of the Deployment key, as a .reg file has them
    std::string why;
  } cases[] = {
      {"\"AllowedClients\"=\"10.0.0.0/8, admin-pc\"\n",
       "Deployment value 'AllowedClients': 'admin-pc' is not an IPv4 or IPv6 address or network"},
      // The machine's store is Windows'.
      {"\"HTTPCertificateThumbprint\"=\"d3 ef 12 b5 78 7c 5a ec 69 fe db cb 66 30 9b df 38 16 b4 "
       "25\"\n",
       "HTTPS on port " + port +
           ": a certificate from the machine's store or a PFX file is served on Windows only"},
      {"\"HTTPCertificateFile\"=\"/etc/quarrin/agent.crt\"\n\"HTTPKeyFile\"=\"/etc/quarrin/agent.key\"\n"
       "\"HTTPPfxFile\"=\"/etc/quarrin/agent.pfx\"\n",
       "Deployment values 'HTTPCertificateFile', 'HTTPCertificateThumbprint' and 'HTTPPfxFile' "
       "each name the HTTPS certificate: set only one of them"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.values);
    // Each case's values alone.
    Import("REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\TARN\\QuarrinSrvc\\Deployment]\n"
           "\"AllowedClients\"=-\n\"HTTPCertificateThumbprint\"=-\n\"HTTPCertificateFile\"=-\n"
           "\"HTTPKeyFile\"=-\n\"HTTPPfxFile\"=-\n" + std::string(c.values));
    agent_ = std::make_unique<AgentProcess>(env_, root_ / "agent.log");
    const std::string expected = version_ + " HTTP service on port " + port + ": " + c.why;
    bool logged = false;
    for (int i = 0; i < 1000 && !logged; ++i) {
      for (const EventRecord& e : Events()) {
        // Event 7: why the HTTP service did not start.
        logged |= e.id == 7 && e.text == expected;
      }
      if (!logged) std::this_thread::sleep_for(10ms);
    }
    EXPECT_TRUE(logged) << testing::ReadFileText(root_ / "agent.log");
    EXPECT_FALSE(RawConnection(port_).valid());
    EXPECT_EQ(agent_->Stop(), 0);
  }
}

TEST_F(AgentHttpTest, ASetterWhoseWriteFailsAnswersTheError) {
  StartAgent();
  // Another process holds the registry's write lock past the store's wait.
  sqlite3* holder = nullptr;
  ASSERT_EQ(sqlite3_open((root_.path() + "/var/lib/quarrin/registry.db").c_str(), &holder),
            SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(holder, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);
  std::string reply = Masked(Get("GET /setcomment=lost HTTP/1.1").body);
  sqlite3_exec(holder, "ROLLBACK", nullptr, nullptr, nullptr);
  sqlite3_close(holder);
  const std::string why = "Failed to set data for 'Description': " + root_.path() +
                          "/var/lib/quarrin/registry.db: locked by another process";
  EXPECT_EQ(reply, Doc("<DateTime>*</DateTime><Error>" + why +
                       "</Error><ClassName>quarrin::RegistryError</ClassName>"))
      << reply;
  bool logged = false;
  for (const EventRecord& e : Events()) {
    logged |= e.id == 999 && e.type == EventType::kError &&
              e.text == version_ + " Attribute not stored: " + why;
  }
  EXPECT_TRUE(logged);
  EXPECT_EQ(Get("GET / HTTP/1.1").body.find("lost"), std::string::npos);
  EXPECT_EQ(agent_->Stop(), 0);
}

TEST_F(AgentHttpTest, StateIsPrivateWhateverTheUmaskAndRefusedWhenOthersCanWriteIt) {
  const std::string state = root_.path() + "/var/lib/quarrin";
  {
    // Made afresh by processes that run with an open umask.
    const mode_t old_mask = umask(0);
    std::filesystem::remove_all(state);
    SetUp();
    StartAgent();
    umask(old_mask);
  }
  EXPECT_EQ(Get("GET / HTTP/1.1").status, 200);
  EXPECT_EQ(agent_->Stop(), 0);
  auto mode = [](const std::string& path) {
    struct stat st {};
    EXPECT_EQ(lstat(path.c_str(), &st), 0) << path;
    return st.st_mode & 07777;
  };
  EXPECT_EQ(mode(state), 0700u);
  for (const auto& entry : std::filesystem::directory_iterator(state)) {
    if (entry.is_regular_file()) {
      EXPECT_EQ(mode(entry.path()), 0600u) << entry.path();
    }
  }

  // A state folder that its group may write is refused at start.
  ASSERT_EQ(chmod(state.c_str(), 0770), 0);
  AgentProcess refused(env_, root_ / "refused.log");
  for (int i = 0; i < 1000 && refused.alive(); ++i) std::this_thread::sleep_for(10ms);
  EXPECT_FALSE(refused.alive());
  EXPECT_NE(refused.Stop(), 0);
  EXPECT_NE(testing::ReadFileText(root_ / "refused.log")
                .find("The state folder " + state + " can be written by other users (mode 0770)"),
            std::string::npos)
      << testing::ReadFileText(root_ / "refused.log");
  EXPECT_FALSE(RawConnection(port_).valid());
}

}  // namespace
}  // namespace quarrin
