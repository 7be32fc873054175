#include "report/inventory_service.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <string>

#include "tests/http_test_server.h"
#include "tests/inventory_service_double.h"
#include "tests/test_support.h"

namespace quarrin {
namespace {

using testing::InventoryServiceDouble;
using testing::Reply;
using testing::SoapAnswer;
using testing::TestReply;

class InventoryServiceTest : public ::testing::Test {
 protected:
  std::unique_ptr<IQuarrin> Proxy(const std::string& url) {
    InventoryServiceLink link;
    link.http = &SystemHttpClient();
    link.inventory_url = url;
    link.limits = limits_;
    return GetIQuarrin(false, "", link);
  }
  std::unique_ptr<IQuarrin> Proxy() { return Proxy(service_.EndpointUrl()); }

  tApplicationDetails Word() { return {"PC07", "Word", "/opt/office/winword", "11.0.8237.0"}; }

  InventoryServiceDouble service_;
  CallLimits limits_ = kInventoryServiceLimits;
};

TEST_F(InventoryServiceTest, AnEmptyRecordSendsEveryPropertyAndTheZeroDate) {
  EXPECT_EQ(Proxy()->PutPCDetails(kInventoryCallerGuid, tPCDetails{}), tRC::rcOK);
  EXPECT_EQ(Proxy()->PutPCDetails2(kInventoryCallerGuid, tPCDetails2{}), tRC::rcOK);
  EXPECT_EQ(Proxy()->PutApplicationDetails(kInventoryCallerGuid, tApplicationDetails{}), tRC::rcOK);

  EXPECT_TRUE(service_.Violations().empty()) << service_.Violations().front();
  auto calls = service_.Calls();
  ASSERT_EQ(calls.size(), 3u);
  EXPECT_EQ(service_.Operations(),
            (std::vector<std::string>{"PutPCDetails", "PutPCDetails2", "PutApplicationDetails"}));
  EXPECT_EQ(calls[0].properties.size(), 18u);
  EXPECT_EQ(calls[0].guid, kInventoryCallerGuid);
  EXPECT_EQ(calls[0].Property("MachineName"), "");
  EXPECT_EQ(calls[0].Property("CPUSpeed"), "0");
  EXPECT_EQ(calls[0].Property("VMWare"), "false");
  EXPECT_EQ(calls[0].Property("InstallDate"), "1899-12-30T00:00:00.000Z");
  EXPECT_EQ(calls[1].Property("AquisitionDate"), "1899-12-30T00:00:00.000Z");
  EXPECT_EQ(calls[1].Property("SerialNo"), "");
  EXPECT_EQ(calls[2].Property("Version"), "");
}

TEST_F(InventoryServiceTest, ValuesGoOutAsWrittenWithoutZoneConversion) {
  testing::ScopedEnv zone("TZ", "Pacific/Auckland");  // must make no difference
  tPCDetails d;
  d.MachineName = "KALDERN-PC07";
  d.RegisteredOwner = "Zoë <Müller> & \"Söhne\"";
  d.CPUId = " x86 Family 15 ";        // blanks kept
  // A control character, a byte that is not UTF-8 and U+FFFF, no character of XML.
  d.SourcePath = "D:\\I386\x01\xff\xEF\xBF\xBF";
  d.CPUSpeed = 2992;
  d.NBNodeType = 8;
  d.TotCPU = -1;
  d.VMWare = true;
  d.InstallDate = EncodeDateTime({2004, 6, 15, 13, 45, 7, 89});
  ASSERT_EQ(Proxy()->PutPCDetails(kInventoryCallerGuid, d), tRC::rcOK);
  tPCDetails2 d2{"KALDERN-PC07", EncodeDateTime({2004, 6, 15}), "desk 4", "ABC1234"};
  ASSERT_EQ(Proxy()->PutPCDetails2(kInventoryCallerGuid, d2), tRC::rcOK);

  ASSERT_TRUE(service_.Violations().empty()) << service_.Violations().front();
  auto calls = service_.Calls();
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls[0].Property("MachineName"), "KALDERN-PC07");
  EXPECT_EQ(calls[0].Property("RegisteredOwner"), "Zoë <Müller> & \"Söhne\"");
  EXPECT_EQ(calls[0].Property("CPUId"), " x86 Family 15 ");
  EXPECT_EQ(calls[0].Property("SourcePath"),  // each byte of U+FFFF replaced
            "D:\\I386\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD");
  EXPECT_EQ(calls[0].Property("CPUSpeed"), "2992");
  EXPECT_EQ(calls[0].Property("TotCPU"), "-1");
  EXPECT_EQ(calls[0].Property("NBNodeType"), "8");
  EXPECT_EQ(calls[0].Property("VMWare"), "true");
  EXPECT_EQ(calls[0].Property("InstallDate"), "2004-06-15T13:45:07.089Z");
  EXPECT_EQ(calls[1].Property("AquisitionDate"), "2004-06-15T00:00:00.000Z");
  EXPECT_EQ(calls[1].Property("Comments"), "desk 4");
  EXPECT_EQ(calls[1].Property("SerialNo"), "ABC1234");
}

TEST_F(InventoryServiceTest, EveryResultIsReturnedAsAValue) {
  for (int i = 0; i <= static_cast<int>(tRC::rcFailedSQLSelectError); ++i) {
    const tRC rc = static_cast<tRC>(i);
    const std::string name(tRCName(rc));
    service_.Answer(SoapAnswer::Result(name));
    EXPECT_EQ(Proxy()->PutApplicationDetails(kInventoryCallerGuid, Word()), rc) << name;
    EXPECT_EQ(tRCFromName(name), rc);
  }
  // The service does not take an unknown caller; that too is a value.
  EXPECT_EQ(Proxy()->PutApplicationDetails("{00000000-0000-0000-0000-000000000000}", Word()),
            tRC::rcFailedGuid);
  EXPECT_FALSE(tRCFromName("rcok"));
  EXPECT_TRUE(service_.Violations().empty());
}

std::string Envelope(const std::string& inside) {
  return InventoryServiceDouble::ReplyEnvelope("PutApplicationDetails", inside);
}

TEST_F(InventoryServiceTest, RepliesWithoutAResultAreErrors) {
  const std::string soap12 =
      "<env:Envelope xmlns:env=\"http://www.w3.org/2003/05/soap-envelope\"><env:Body>"
      "<r><return>rcOK</return></r></env:Body></env:Envelope>";
  TestReply endless = Reply(200, Envelope("<return>rcOK</return>"), "text/xml");
  endless.mode = TestReply::Mode::kEndless;
  TestReply redirect = Reply(302, "", "text/html");
  redirect.headers = {{"Location", service_.EndpointUrl()}};
  struct Case {
    const char* what;
    TestReply reply;
    std::string message;  // a part of the error's message
  } cases[] = {
      {"not XML", Reply(200, "Service Unavailable", "text/plain"), "the reply is not XML"},
      {"truncated", Reply(200, Envelope("<return>rcOK</return>").substr(0, 80), "text/xml"),
       "the reply is not XML"},
      {"another document", Reply(200, "<tRC>rcOK</tRC>", "text/xml"), "not a SOAP 1.1 envelope"},
      {"SOAP 1.2", Reply(200, soap12, "application/soap+xml"), "not a SOAP 1.1 envelope"},
      {"no result", Reply(200, Envelope(""), "text/xml"), "the reply has no result"},
      {"dangling reference", Reply(200, Envelope("<return href=\"#9\"/>"), "text/xml"),
       "the reply has no result"},
      {"unknown result", Reply(200, Envelope("<return>rcMaybe</return>"), "text/xml"),
       "the reply's result 'rcMaybe' is not a tRC value"},
      {"long result",
       Reply(200, Envelope("<return>" + std::string(5000, 'x') + "</return>"), "text/xml"),
       "'" + std::string(64, 'x') + "...' is not a tRC value"},
      {"not found", Reply(404, "<html>gone</html>", "text/html"), "HTTP status 404"},
      {"server error", Reply(500, "<html>oops</html>", "text/html"), "HTTP status 500"},
      {"moved", redirect, "HTTP status 302"},
      {"huge", endless, "is larger than 1048576 bytes"},
  };
  for (const Case& c : cases) {
    service_.Answer(SoapAnswer::Raw(c.reply));
    try {
      Proxy()->PutApplicationDetails(kInventoryCallerGuid, Word());
      ADD_FAILURE() << c.what << ": no exception";
    } catch (const std::exception& e) {
      EXPECT_NE(std::string(e.what()).find(c.message), std::string::npos)
          << c.what << ": " << e.what();
    }
  }
  // The redirect was not followed with a GET.
  EXPECT_TRUE(service_.Violations().empty()) << service_.Violations().front();
}

TEST_F(InventoryServiceTest, AResultByReferenceIsFollowed) {
  std::string reply = Envelope("<return href=\"#r1\"/>");
  reply.insert(reply.find("</SOAP-ENV:Body>"),
               "<NS2:tRC id=\"r1\" xmlns:NS2=\"urn:QuarrinIntf\">rcFailedUpdate</NS2:tRC>");
  service_.Answer(SoapAnswer::Raw(Reply(200, reply, "text/xml")));
  EXPECT_EQ(Proxy()->PutApplicationDetails(kInventoryCallerGuid, Word()), tRC::rcFailedUpdate);
}

TEST_F(InventoryServiceTest, AFaultIsAnExceptionWithItsText) {
  service_.Answer(SoapAnswer::Fault("Database <inventory> is offline"));
  try {
    Proxy()->PutPCDetails2(kInventoryCallerGuid, tPCDetails2{});
    FAIL() << "no exception";
  } catch (const SoapFault& f) {
    EXPECT_STREQ(f.what(), "Database <inventory> is offline");
    EXPECT_EQ(f.fault_code(), "SOAP-ENV:Server");
  }
  // A fault is a fault whatever status comes with it.
  const std::string fault200 =
      "<SOAP-ENV:Envelope xmlns:SOAP-ENV=\"http://schemas.xmlsoap.org/soap/envelope/\">"
      "<SOAP-ENV:Body><SOAP-ENV:Fault><faultcode>SOAP-ENV:Client</faultcode></SOAP-ENV:Fault>"
      "</SOAP-ENV:Body></SOAP-ENV:Envelope>";
  service_.Answer(SoapAnswer::Raw(Reply(200, fault200, "text/xml")));
  try {
    Proxy()->PutPCDetails2(kInventoryCallerGuid, tPCDetails2{});
    ADD_FAILURE() << "no exception";
  } catch (const SoapFault& f) {
    EXPECT_STREQ(f.what(), "SOAP fault SOAP-ENV:Client");
  }
}

TEST_F(InventoryServiceTest, NoReplyIsATransportErrorWithinTheTimeOuts) {
  testing::RefusingPort refusing;
  EXPECT_THROW(Proxy(refusing.Url("/soap"))->PutPCDetails(kInventoryCallerGuid, tPCDetails{}),
               HttpError);

  limits_ = {std::chrono::milliseconds(500), std::chrono::milliseconds(800), 1u << 20};
  TestReply silent = Reply(200, Envelope("<return>rcOK</return>"), "text/xml");
  silent.delay = std::chrono::seconds(30);
  service_.Answer(SoapAnswer::Raw(silent));
  auto start = std::chrono::steady_clock::now();
  try {
    Proxy()->PutPCDetails(kInventoryCallerGuid, tPCDetails{});
    ADD_FAILURE() << "no exception";
  } catch (const HttpError& e) {
    EXPECT_EQ(e.kind(), HttpError::Kind::kTimeout) << e.what();
  }
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
}

TEST_F(InventoryServiceTest, TheAddressDefaultsAndTheServiceDescription) {
  InventoryServiceLink link;
  link.http = &SystemHttpClient();
  link.inventory_url = service_.EndpointUrl();
  // Through the description, whose place follows from the endpoint's.
  auto bound = GetIQuarrin(true, "", link);
  EXPECT_EQ(bound->PutApplicationDetails(kInventoryCallerGuid, Word()), tRC::rcOK);
  EXPECT_EQ(bound->PutApplicationDetails(kInventoryCallerGuid, Word()), tRC::rcOK);
  EXPECT_EQ(service_.RequestCount(), 3u);  // the description is read once
  EXPECT_EQ(service_.Calls().size(), 2u);

  // An address given wins over the default.
  InventoryServiceDouble other;
  EXPECT_EQ(GetIQuarrin(false, other.EndpointUrl(), link)
                ->PutApplicationDetails(kInventoryCallerGuid, Word()),
            tRC::rcOK);
  EXPECT_EQ(other.Calls().size(), 1u);
  EXPECT_EQ(service_.Calls().size(), 2u);

  // A description without the port fails the call, and the next one asks again.
  testing::HttpTestServer description(Reply(200, "<definitions/>", "text/xml"));
  auto unbound = GetIQuarrin(true, description.Url("/wsdl/IQuarrin"), link);
  EXPECT_THROW(unbound->PutApplicationDetails(kInventoryCallerGuid, Word()), SoapError);
  EXPECT_THROW(unbound->PutApplicationDetails(kInventoryCallerGuid, Word()), SoapError);
  EXPECT_EQ(description.RequestCount(), 2u);
}

// The double itself: a request that departs from the contract is noticed.
TEST_F(InventoryServiceTest, TheDoubleRejectsRequestsThatBreakTheContract) {
  ASSERT_EQ(Proxy()->PutApplicationDetails(kInventoryCallerGuid, Word()), tRC::rcOK);
  ASSERT_TRUE(service_.Violations().empty());
  HttpRequest valid;
  valid.method = HttpMethod::kPost;
  valid.url = service_.EndpointUrl();
  valid.headers = {{"Content-Type", "text/xml; charset=utf-8"},
                   {"SOAPAction", "\"urn:QuarrinIntf-IQuarrin#PutApplicationDetails\""}};
  valid.body = std::string(
      "<?xml version=\"1.0\" encoding=\"utf-8\"?>"
      "<s:Envelope xmlns:s=\"http://schemas.xmlsoap.org/soap/envelope/\""
      " xmlns:d=\"http://www.w3.org/2001/XMLSchema\""
      " xmlns:i=\"http://www.w3.org/2001/XMLSchema-instance\">"
      "<s:Body s:encodingStyle=\"http://schemas.xmlsoap.org/soap/encoding/\">"
      "<q:PutApplicationDetails xmlns:q=\"urn:QuarrinIntf-IQuarrin\">"
      "<guid i:type=\"d:string\">g</guid><ApplicationDetails href=\"#7\"/>"
      "</q:PutApplicationDetails>"
      "<t:tApplicationDetails id=\"7\" i:type=\"t:tApplicationDetails\" "
      "xmlns:t=\"urn:QuarrinIntf\">"
      "<MachineName i:type=\"d:string\">PC</MachineName><Application "
      "i:type=\"d:string\">Word</Application>"
      "<Path i:type=\"d:string\"></Path><Version i:type=\"d:string\">1</Version>"
      "</t:tApplicationDetails></s:Body></s:Envelope>");
  ASSERT_EQ(SystemHttpClient().Send(valid).status, 200);
  ASSERT_TRUE(service_.Violations().empty()) << service_.Violations().front();

  struct Case {
    const char* what;
    std::function<void(HttpRequest&)> change;
  } cases[] = {
      {"action without quotes",
       [](HttpRequest& r) {
         r.headers[1].second = "urn:QuarrinIntf-IQuarrin#PutApplicationDetails";
       }},
      {"another content type", [](HttpRequest& r) { r.headers[0].second = "application/xml"; }},
      {"object inline",
       [](HttpRequest& r) {
         r.body.replace(r.body.find("<ApplicationDetails href=\"#7\"/>"), 31,
                        "<ApplicationDetails/>");
       }},
      {"properties out of order",
       [](HttpRequest& r) {
         std::string path = "<Path i:type=\"d:string\"></Path>";
         r.body.erase(r.body.find(path), path.size());
         r.body.insert(r.body.find("<MachineName"), path);
       }},
      {"wrong xsi type",
       [](HttpRequest& r) {
         r.body.replace(r.body.find("<Version i:type=\"d:string\""), 26,
                        "<Version i:type=\"d:int\"");
       }},
      {"operation outside its namespace",
       [](HttpRequest& r) {
         r.body.replace(r.body.find("urn:QuarrinIntf-IQuarrin\">"), 24, "urn:QuarrinIntf-Other");
       }},
  };
  for (const Case& c : cases) {
    HttpRequest broken = valid;
    c.change(broken);
    size_t before = service_.Violations().size();
    EXPECT_EQ(SystemHttpClient().Send(broken).status, 500) << c.what;
    EXPECT_EQ(service_.Violations().size(), before + 1) << c.what;
  }
}

}  // namespace
}  // namespace quarrin
