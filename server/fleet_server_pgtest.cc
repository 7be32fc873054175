// The fleet server over HTTP on loopback, on a real database: the agent's
// own SOAP client against the intake, bad requests, the lookup and the API.
#include <gtest/gtest.h>

#include "http/raw_http_client_testing.h"
#include "platform/net/http_client.h"
#include "report/inventory_service.h"
#include "server/fleet_server.h"
#include "server/pg_testing.h"
#include "server/wsdl.h"
#include "tests/test_support.h"
#include "tests/tls_testing.h"
#include "tests/wait_until.h"

namespace quarrin {
namespace {

using namespace std::chrono_literals;

constexpr char kToken[] = "test-token-0123456789";

class FleetServerTest : public testing::PgTest {
 protected:
  void SetUp() override {
    PgTest::SetUp();
    if (IsSkipped()) return;
    settings_.port = 0;
    settings_.listen_address = "127.0.0.1";
    settings_.syslog_port = 0;
    settings_.api_tokens = {kToken};
    settings_.max_body_bytes = 64 << 10;
    server_ = std::make_unique<FleetServer>(settings_, *pool_);
    std::string error;
    ASSERT_TRUE(server_->Start(&error)) << error;
    link_.http = &SystemHttpClient();
    link_.inventory_url = Url(kSoapEndpointPath);
  }
  void TearDown() override {
    server_.reset();
    PgTest::TearDown();
  }

  std::string Url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(server_->port()) + path;
  }

  testing::RawResponse Post(const std::string& body, const std::string& action,
                            const std::string& type = "text/xml; charset=utf-8") {
    return testing::RawExchange(
        server_->port(), std::string("POST ") + kSoapEndpointPath + " HTTP/1.1\r\nHost: h\r\n" +
                             "Content-Type: " + type + "\r\nSOAPAction: " + action +
                             "\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" +
                             body);
  }

  testing::RawResponse Api(const std::string& method, const std::string& target,
                           const std::string& token = kToken, const std::string& body = "") {
    std::string request = method + " " + target + " HTTP/1.1\r\nHost: h\r\n";
    if (!token.empty()) request += "Authorization: Bearer " + token + "\r\n";
    request += "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
    return testing::RawExchange(server_->port(), request);
  }

  ServerSettings settings_;
  std::unique_ptr<FleetServer> server_;
  InventoryServiceLink link_;
};

tApplicationDetails Word(const std::string& machine) {
  return {machine, "Word", "C:\\Office\\WINWORD.EXE", "11.0.8173.0"};
}

TEST_F(FleetServerTest, TheAgentsCallsAreStoredAndAnsweredRcOK) {
  std::unique_ptr<IQuarrin> proxy = GetIQuarrin(false, "", link_);
  tPCDetails d;
  d.MachineName = "KALDERN-PC07";
  d.ProductName = "Microsoft Windows XP";
  EXPECT_EQ(proxy->PutPCDetails(kInventoryCallerGuid, d), tRC::rcOK);
  EXPECT_EQ(proxy->PutPCDetails2(kInventoryCallerGuid, {"KALDERN-PC07", DateTime{}, "c", "S1"}),
            tRC::rcOK);
  EXPECT_EQ(proxy->PutApplicationDetails(kInventoryCallerGuid, Word("KALDERN-PC07")), tRC::rcOK);

  const testing::RawResponse machine = Api("GET", "/api/v1/machines/kaldern-pc07.corp.example");
  EXPECT_EQ(machine.status, 200) << machine.body;
  EXPECT_EQ(machine.Header("Content-Type"), "application/json");
  EXPECT_NE(machine.body.find("\"ProductName\":\"Microsoft Windows XP\""), std::string::npos);
  EXPECT_NE(machine.body.find("\"SerialNo\":\"S1\""), std::string::npos);
  EXPECT_NE(machine.body.find("\"application\":\"Word\""), std::string::npos) << machine.body;
}

TEST_F(FleetServerTest, ACallerNotAcceptedGetsRcFailedGuidAndNothingIsStored) {
  std::unique_ptr<IQuarrin> proxy = GetIQuarrin(false, "", link_);
  EXPECT_EQ(proxy->PutApplicationDetails("{00000000-0000-0000-0000-000000000000}", Word("PC1")),
            tRC::rcFailedGuid);
  EXPECT_EQ(Count("SELECT count(*) FROM machines"), 0);
}

// A toolkit binds through the description: its address is the one the
// request came to.
TEST_F(FleetServerTest, TheDescriptionNamesTheAddressTheClientUsed) {
  std::unique_ptr<IQuarrin> proxy = GetIQuarrin(true, Url(kWsdlPath), link_);
  EXPECT_EQ(proxy->PutApplicationDetails(kInventoryCallerGuid, Word("PC1")), tRC::rcOK);
  const testing::RawResponse wsdl = testing::RawExchange(
      server_->port(), std::string("GET ") + kWsdlPath + " HTTP/1.1\r\nHost: fleet.example:8090\r\n\r\n");
  EXPECT_EQ(wsdl.status, 200);
  EXPECT_NE(wsdl.body.find("location=\"http://fleet.example:8090/quarrin/quarrinws.dll/soap/IQuarrin\""),
            std::string::npos);
  const testing::RawResponse bad_host = testing::RawExchange(
      server_->port(), std::string("GET ") + kWsdlPath + " HTTP/1.1\r\nHost: a\"b\r\n\r\n");
  EXPECT_EQ(bad_host.status, 400);
}

TEST_F(FleetServerTest, BadRequestsGetAFaultStoreNothingAndTheServerGoesOn) {
  const std::string good =
      "<E:Envelope xmlns:E=\"http://schemas.xmlsoap.org/soap/envelope/\"><E:Body>"
      "<q:PutApplicationDetails xmlns:q=\"urn:QuarrinIntf-IQuarrin\">"
      "<guid>{7C3E5A10-4B2D-4E8F-9A61-0D5B3C2E1F48}</guid><ApplicationDetails>"
      "<MachineName>PC1</MachineName><Application>Word</Application><Version>1.0.0.0</Version>"
      "</ApplicationDetails></q:PutApplicationDetails></E:Body></E:Envelope>";
  const std::string action = "\"urn:QuarrinIntf-IQuarrin#PutApplicationDetails\"";
  std::string bomb = "<?xml version=\"1.0\"?><!DOCTYPE E [<!ENTITY a \"aaaaaaaaaa\">";
  for (int i = 1; i < 10; ++i) {
    bomb += "<!ENTITY " + std::string(1, static_cast<char>('a' + i)) + " \"";
    for (int k = 0; k < 10; ++k) bomb += "&" + std::string(1, static_cast<char>('a' + i - 1)) + ";";
    bomb += "\">";
  }
  bomb += "]>" + good;
  std::string wrong_type = good;
  wrong_type.replace(wrong_type.find("<MachineName>"), 13, "<MachineName xsi:type=\"xsd:int\" "
                     "xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" "
                     "xmlns:xsd=\"http://www.w3.org/2001/XMLSchema\">");
  std::string unknown = good;
  unknown.replace(unknown.find("PutApplicationDetails"), 21, "DropApplicationDetails");
  unknown.replace(unknown.rfind("PutApplicationDetails"), 21, "DropApplicationDetails");
  std::string nameless = good;
  nameless.replace(nameless.find("PC1"), 3, "");
  struct Case {
    std::string what;
    std::string body;
    std::string action;
    std::string type;
    int status;
    std::string fault;
  } cases[] = {
      {"truncated", good.substr(0, good.size() - 40), action, "text/xml", 500, "the body is not XML"},
      {"entity bomb", bomb, action, "text/xml", 500, "a SOAP message may not carry a document type"},
      {"wrong type", wrong_type, action, "text/xml", 500, "tApplicationDetails.MachineName has the type"},
      {"unknown operation", unknown, "\"\"", "text/xml", 500, "unknown operation"},
      {"no machine", nameless, action, "text/xml", 500, "the report names no machine"},
      {"action of another operation", good, "\"urn:QuarrinIntf-IQuarrin#PutPCDetails\"", "text/xml",
       500, "the SOAPAction"},
      {"not SOAP 1.1", good, action, "application/json", 415, "the content type"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const testing::RawResponse r = Post(c.body, c.action, c.type);
    EXPECT_EQ(r.status, c.status);
    EXPECT_NE(r.body.find("<faultstring>" + c.fault), std::string::npos) << r.body;
  }
  // A body over the cap is refused before it is read.
  const testing::RawResponse huge = testing::RawExchange(
      server_->port(), std::string("POST ") + kSoapEndpointPath +
                           " HTTP/1.1\r\nHost: h\r\nContent-Type: text/xml\r\n"
                           "Content-Length: 104857600\r\n\r\n" + good);
  EXPECT_EQ(huge.status, 413);
  EXPECT_EQ(Count("SELECT count(*) FROM machines"), 0);

  const testing::RawResponse after = Post(good, action);
  EXPECT_EQ(after.status, 200);
  EXPECT_NE(after.body.find(">rcOK</return>"), std::string::npos) << after.body;
  EXPECT_EQ(Count("SELECT count(*) FROM machine_applications"), 1);
}

// The database's sessions all end (a restart): the next call is answered
// all the same, on a new session.
TEST_F(FleetServerTest, LostDatabaseSessionsCostNoCall) {
  std::unique_ptr<IQuarrin> proxy = GetIQuarrin(false, "", link_);
  ASSERT_EQ(proxy->PutApplicationDetails(kInventoryCallerGuid, Word("PC1")), tRC::rcOK);
  {
    // Every session of the pool open and idle.
    PgPool::Lease a = pool_->Acquire(), b = pool_->Acquire(), c = pool_->Acquire(),
                  d = pool_->Acquire();
  }
  Connect()->Exec(
      "SELECT pg_terminate_backend(pid) FROM pg_stat_activity"
      " WHERE datname = current_database() AND pid <> pg_backend_pid()");
  EXPECT_EQ(proxy->PutApplicationDetails(kInventoryCallerGuid, Word("PC2")), tRC::rcOK);
  EXPECT_EQ(Count("SELECT count(*) FROM machines"), 2);
}

// Past what the database can take, a call is refused at once with a fault
// and 503, and the next one after the crowd is served.
TEST_F(FleetServerTest, ABusyDatabaseRefusesQuicklyWith503) {
  PgPool small(Options(), 1, std::chrono::milliseconds(100));
  FleetServer busy(settings_, small);
  std::string error;
  ASSERT_TRUE(busy.Start(&error)) << error;
  InventoryServiceLink link = link_;
  link.inventory_url =
      "http://127.0.0.1:" + std::to_string(busy.port()) + kSoapEndpointPath;
  std::unique_ptr<IQuarrin> proxy = GetIQuarrin(false, "", link);
  {
    PgPool::Lease taken = small.Acquire();
    const auto asked = std::chrono::steady_clock::now();
    try {
      proxy->PutApplicationDetails(kInventoryCallerGuid, Word("PC1"));
      ADD_FAILURE() << "served without a session";
    } catch (const SoapFault& f) {
      EXPECT_EQ(f.fault_string(), "the inventory service is busy; try again later");
    }
    EXPECT_LT(std::chrono::steady_clock::now() - asked, 3s);
    const std::string envelope =
        "<E:Envelope xmlns:E=\"http://schemas.xmlsoap.org/soap/envelope/\"><E:Body>"
        "<q:PutApplicationDetails xmlns:q=\"urn:QuarrinIntf-IQuarrin\">"
        "<guid>{7C3E5A10-4B2D-4E8F-9A61-0D5B3C2E1F48}</guid><ApplicationDetails>"
        "<MachineName>PC1</MachineName><Application>Word</Application>"
        "</ApplicationDetails></q:PutApplicationDetails></E:Body></E:Envelope>";
    const testing::RawResponse raw = testing::RawExchange(
        busy.port(), std::string("POST ") + kSoapEndpointPath +
                         " HTTP/1.1\r\nHost: h\r\nContent-Type: text/xml\r\nContent-Length: " +
                         std::to_string(envelope.size()) + "\r\n\r\n" + envelope);
    EXPECT_EQ(raw.status, 503);
    EXPECT_EQ(raw.Header("Retry-After"), "30");
  }
  {
    // A client past its places at the door is told the same, before any
    // thread of the server takes its call.
    std::vector<std::unique_ptr<testing::RawConnection>> held;
    for (int i = 0; i < 16; ++i) {
      held.push_back(std::make_unique<testing::RawConnection>(busy.port(), "127.0.0.9"));
    }
    const testing::RawResponse door = testing::RawExchange(
        busy.port(), std::string("POST ") + kSoapEndpointPath + " HTTP/1.1\r\nHost: h\r\n\r\n",
        5s, "127.0.0.9");
    EXPECT_EQ(door.status, 503);
    EXPECT_EQ(door.Header("Retry-After"), "30");
    EXPECT_NE(door.body.find("<faultstring>the inventory service is busy; try again later"),
              std::string::npos)
        << door.body;
  }
  const testing::RawResponse status = testing::RawExchange(
      busy.port(), std::string("GET /api/v1/status HTTP/1.1\r\nHost: h\r\nAuthorization: Bearer ") +
                       kToken + "\r\n\r\n");
  EXPECT_NE(status.body.find("\"faults\":2"), std::string::npos) << status.body;
  EXPECT_EQ(proxy->PutApplicationDetails(kInventoryCallerGuid, Word("PC1")), tRC::rcOK);
}

// Past intake_connections calls in hand, the next call is refused at the
// door with the busy fault as its request arrives, while the other pages
// still answer; a call's place comes back when its connection ends.
TEST_F(FleetServerTest, IntakeCallsPastTheirPlacesAreRefusedAtTheDoorAndTheRestStillAnswer) {
  ServerSettings narrow = settings_;
  narrow.intake_connections = 1;
  FleetServer server(narrow, *pool_);
  std::string error;
  ASSERT_TRUE(server.Start(&error)) << error;
  const std::string call = std::string("POST ") + kSoapEndpointPath +
                           " HTTP/1.1\r\nHost: h\r\nContent-Type: text/xml\r\nContent-Length: ";
  // A call whose body never comes holds the one place.
  auto slow = std::make_unique<testing::RawConnection>(server.port(), "127.0.0.5");
  slow->Send(call + "100\r\n\r\n");
  const auto refused_while_held = [&] {
    const testing::RawResponse r = testing::RawExchange(server.port(), call + "0\r\n\r\n", 5s);
    return r.status == 503 &&
           r.body.find("<faultstring>the inventory service is busy; try again later") !=
               std::string::npos;
  };
  EXPECT_TRUE(testing::WaitUntil(refused_while_held, 10s));
  const testing::RawResponse lookup = testing::RawExchange(
      server.port(), "GET /sdw.dll/WorkStations?WorkStationName=PC1 HTTP/1.1\r\nHost: h\r\n\r\n");
  EXPECT_EQ(lookup.status, 200);
  slow.reset();
  // The place back, a call reaches the intake (which finds the empty body
  // malformed) instead of the door.
  EXPECT_TRUE(testing::WaitUntil(
      [&] { return testing::RawExchange(server.port(), call + "0\r\n\r\n", 5s).status == 500; },
      10s));
}

TEST_F(FleetServerTest, TheLookupAnswersFromTheRegister) {
  const testing::RawResponse put =
      Api("PUT", "/api/v1/assets/Kaldern-PC07", kToken,
          "{\"service_tag\": \"ABC1234\", \"acquisition_date\": \"2004-06-15\"}");
  EXPECT_EQ(put.status, 200) << put.body;
  HttpRequest lookup;
  lookup.url = Url("/sdw.dll/WorkStations?WorkStationName=kaldern-pc07.corp.example");
  HttpResponse found = SystemHttpClient().Send(lookup);
  EXPECT_EQ(found.status, 200);
  EXPECT_EQ(found.body,
            "<?xml version=\"1.0\" encoding=\"utf-8\"?><WORKSTATIONS><WORKSTATION>"
            "<SERVICETAG>ABC1234</SERVICETAG><ACQUISITIONDATE>1087293600000</ACQUISITIONDATE>"
            "</WORKSTATION></WORKSTATIONS>");
  lookup.url = Url("/sdw.dll/WorkStations?WorkStationName=unknown.corp.example");
  EXPECT_EQ(SystemHttpClient().Send(lookup).body,
            "<?xml version=\"1.0\" encoding=\"utf-8\"?><WORKSTATIONS></WORKSTATIONS>");
}

TEST_F(FleetServerTest, TheApiNeedsAToken) {
  for (const std::string& token : {std::string(), std::string("wrong-token-0123456789"),
                                   std::string(kToken) + "x"}) {
    SCOPED_TRACE(token);
    const testing::RawResponse r = Api("GET", "/api/v1/machines", token);
    EXPECT_EQ(r.status, 401);
    EXPECT_EQ(r.Header("WWW-Authenticate"), "Bearer realm=\"quarrin-server\"");
    EXPECT_EQ(Api("PUT", "/api/v1/assets/PC1", token, "{\"service_tag\":\"X\"}").status, 401);
  }
  EXPECT_EQ(Count("SELECT count(*) FROM assets"), 0);
  EXPECT_EQ(Api("GET", "/api/v1/machines").status, 200);
}

TEST_F(FleetServerTest, TheApiListsFiltersAndRefusesBadInputClearly) {
  std::unique_ptr<IQuarrin> proxy = GetIQuarrin(false, "", link_);
  for (const char* name : {"PC1", "PC2", "PC3"}) {
    tApplicationDetails java{name, "Java", "", std::string(name) == "PC2" ? "17.15.0.0" : "17.9.0.0"};
    ASSERT_EQ(proxy->PutApplicationDetails(kInventoryCallerGuid, java), tRC::rcOK);
  }
  const testing::RawResponse page = Api("GET", "/api/v1/machines?limit=2");
  EXPECT_EQ(page.status, 200);
  EXPECT_NE(page.body.find("\"next\":\"PC2\""), std::string::npos) << page.body;
  const testing::RawResponse old_java =
      Api("GET", "/api/v1/machines?application=Java&version_max=17.10");
  EXPECT_NE(old_java.body.find("\"key\":\"PC1\""), std::string::npos) << old_java.body;
  EXPECT_EQ(old_java.body.find("\"key\":\"PC2\""), std::string::npos) << old_java.body;
  EXPECT_NE(old_java.body.find("\"next\":null"), std::string::npos) << old_java.body;

  struct Case {
    std::string method, target, body;
    int status;
    std::string error;
  } cases[] = {
      {"GET", "/api/v1/machines?limit=0", "", 400, "limit: '0' is not a whole number from 1 to 1000"},
      {"GET", "/api/v1/machines?version_max=1.2", "", 400, "version_max and version_min need an application"},
      {"GET", "/api/v1/machines?application=Java&version_max=a.b", "", 400, "version_max: 'a.b' is not"},
      {"GET", "/api/v1/machines?name=%zz", "", 400, "name: the value is not percent-encoded text"},
      {"GET", "/api/v1/machines/NOSUCH", "", 404, "no machine NOSUCH"},
      {"GET", "/api/v1/elsewhere", "", 404, "no such API path"},
      {"POST", "/api/v1/machines", "", 405, "the machine list is read with GET"},
      {"PUT", "/api/v1/assets/PC1", "{\"service_tag\": 5}", 400, "JSON at offset"},
      {"PUT", "/api/v1/assets/PC1", "{\"acquisition_date\": \"15/06/2004\"}", 400,
       "acquisition_date: '15/06/2004' is not a day"},
      {"PUT", "/api/v1/assets/PC1", "{\"owner\": \"x\"}", 400, "unknown member \\\"owner\\\""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.method + " " + c.target + " " + c.body);
    const testing::RawResponse r = Api(c.method, c.target, kToken, c.body);
    EXPECT_EQ(r.status, c.status);
    EXPECT_EQ(r.body.rfind("{\"error\":\"" + c.error, 0), 0u) << r.body;
  }
  EXPECT_EQ(Count("SELECT count(*) FROM assets"), 0);
}

TEST_F(FleetServerTest, WithACertificateItSpeaksHttpsAndSaysSo) {
  testing::TempDir folder;
  testing::TestCertificates certificates(folder.path());
  ServerSettings tls = settings_;
  tls.tls_certificate = certificates.server_certificate();
  tls.tls_key = certificates.server_key();
  FleetServer secure(tls, *pool_);
  std::string error;
  ASSERT_TRUE(secure.Start(&error)) << error;
  const std::string base = "https://127.0.0.1:" + std::to_string(secure.port());
  const testing::CommandResult wsdl = testing::RunCommand(
      {"curl", "-sS", "--max-time", "20", "--cacert", certificates.ca_file(), base + kWsdlPath});
  ASSERT_EQ(wsdl.exit_status, 0) << wsdl.err;
  EXPECT_NE(wsdl.out.find("location=\"" + base + kSoapEndpointPath + "\""), std::string::npos)
      << wsdl.out;

  // A key file that is not there: a clear refusal to start.
  tls.tls_key = folder / "absent.key";
  FleetServer broken(tls, *pool_);
  EXPECT_FALSE(broken.Start(&error));
  EXPECT_NE(error.find(folder / "absent.key"), std::string::npos) << error;
}

TEST_F(FleetServerTest, AMachineBelongsToTheRingWhoseManifestItFetched) {
  std::unique_ptr<IQuarrin> proxy = GetIQuarrin(false, "", link_);
  tPCDetails d;
  d.MachineName = "PC-RING";
  ASSERT_EQ(proxy->PutPCDetails(kInventoryCallerGuid, d), tRC::rcOK);
  const auto fetch = [&](const std::string& path) {
    return testing::RawExchange(server_->port(), "GET " + path + " HTTP/1.1\r\nHost: h\r\n\r\n");
  };
  EXPECT_EQ(fetch("/downloads/pilot/QuarrinSrvc.xml").status, 200);
  const std::string ring_of = "SELECT count(*) FROM machine_rings r JOIN machines m ON m.id = r.machine_id"
                              " WHERE m.name_key = 'PC-RING' AND r.ring = ";
  EXPECT_EQ(Count(ring_of + "'pilot'"), 1);
  EXPECT_EQ(fetch("/Downloads/QuarrinSrvc.xml").status, 200);
  EXPECT_EQ(Count(ring_of + "'main'"), 1);
}

}  // namespace
}  // namespace quarrin
