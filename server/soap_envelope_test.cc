#include "server/soap_envelope.h"

#include <gtest/gtest.h>

#include <functional>

#include "platform/net/http_client.h"
#include "report/inventory_service.h"

namespace quarrin {
namespace {

// Hands each request of the agent's proxy to a function, in process.
class InProcessClient final : public HttpClient {
 public:
  explicit InProcessClient(std::function<HttpResponse(const HttpRequest&)> serve)
      : serve_(std::move(serve)) {}
  HttpResponse Send(const HttpRequest& request) override { return serve_(request); }

 private:
  std::function<HttpResponse(const HttpRequest&)> serve_;
};

// The agent's proxy against the server's reading and replies: what the
// agent sends is what the server reads, and the agent reads its answer.
class AgentRoundTrip : public ::testing::Test {
 protected:
  AgentRoundTrip()
      : client_([this](const HttpRequest& request) {
          bodies_.push_back(request.body);
          HttpResponse response;
          try {
            read_ = ReadSoapRequest(request.body);
            response.status = 200;
            response.body = SoapResultEnvelope(read_.operation, answer_);
          } catch (const SoapRequestError& e) {
            response.status = 500;
            response.body = SoapFaultEnvelope(e.code(), e.what());
          }
          return response;
        }) {
    link_.http = &client_;
    link_.inventory_url = "http://inventory.test/quarrin/quarrinws.dll/soap/IQuarrin";
    proxy_ = GetIQuarrin(false, "", link_);
  }

  InProcessClient client_;
  InventoryServiceLink link_;
  std::unique_ptr<IQuarrin> proxy_;
  std::vector<std::string> bodies_;
  SoapRequest read_;
  tRC answer_ = tRC::rcOK;
};

TEST_F(AgentRoundTrip, ReadsEveryPropertyTheAgentSends) {
  tPCDetails d;
  d.MachineName = "KALDERN-PC07";
  d.LastLogin = "KALDERN\\jsmith";
  d.RegisteredOwner = "J\xC3\xB8rgen <&> \"Smith\"";
  d.RegisteredOrganisation = "Kaldern";
  d.CPUSpeed = 2394;
  d.CPUId = "x86 Family 6";
  d.CPUName = "Intel(R) Xeon(R)";
  d.CurrentVersion = "5.1";
  d.TotCPU = 4;
  d.ProductID = "55274-640";
  d.ProductName = "Microsoft Windows XP";
  d.ServicePack = "Service Pack 3";
  d.SourcePath = "D:\\I386";
  d.IEVersion = "8.0.6001.18702";
  d.PhysicalMemory = "2047 MB";
  d.VMWare = true;
  d.InstallDate = EncodeDateTime({2004, 6, 15, 13, 5, 7, 250});
  d.NBNodeType = -8;
  EXPECT_EQ(proxy_->PutPCDetails("{G}", d), tRC::rcOK);
  ASSERT_EQ(read_.operation, "PutPCDetails");
  EXPECT_EQ(read_.guid, "{G}");
  const tPCDetails& got = std::get<tPCDetails>(read_.data);
  EXPECT_EQ(got.MachineName, d.MachineName);
  EXPECT_EQ(got.LastLogin, d.LastLogin);
  EXPECT_EQ(got.RegisteredOwner, d.RegisteredOwner);
  EXPECT_EQ(got.CPUSpeed, 2394);
  EXPECT_EQ(got.TotCPU, 4);
  EXPECT_EQ(got.ProductName, d.ProductName);
  EXPECT_EQ(got.SourcePath, d.SourcePath);
  EXPECT_EQ(got.PhysicalMemory, d.PhysicalMemory);
  EXPECT_TRUE(got.VMWare);
  EXPECT_EQ(DecodeDateTime(got.InstallDate), DecodeDateTime(d.InstallDate));
  EXPECT_EQ(got.NBNodeType, -8);

  tPCDetails2 a{"KALDERN-PC07", DateTime{}, "desk 4", "ABC1234"};
  answer_ = tRC::rcFailedGuid;
  EXPECT_EQ(proxy_->PutPCDetails2("{G}", a), tRC::rcFailedGuid);
  const tPCDetails2& got2 = std::get<tPCDetails2>(read_.data);
  EXPECT_EQ(got2.AquisitionDate.days, 0.0);  // 1899-12-30T00:00:00.000Z, the agent's "none"
  EXPECT_EQ(got2.Comments, "desk 4");
  EXPECT_EQ(got2.SerialNo, "ABC1234");

  answer_ = tRC::rcOK;
  tApplicationDetails app{"KALDERN-PC07", "Word", "C:\\Office\\WINWORD.EXE", "11.0.8173.0"};
  EXPECT_EQ(proxy_->PutApplicationDetails("{G}", app), tRC::rcOK);
  const tApplicationDetails& got3 = std::get<tApplicationDetails>(read_.data);
  EXPECT_EQ(got3.Application, "Word");
  EXPECT_EQ(got3.Path, app.Path);
  EXPECT_EQ(got3.Version, "11.0.8173.0");
}

TEST_F(AgentRoundTrip, TheAgentReadsAFaultAsAFailure) {
  EXPECT_NE(SoapFaultEnvelope("Client", "bad <thing> & more")
                .find("<SOAP-ENV:Fault><faultcode>SOAP-ENV:Client</faultcode>"
                      "<faultstring>bad &lt;thing&gt; &amp; more</faultstring></SOAP-ENV:Fault>"),
            std::string::npos);
  InProcessClient faulting([](const HttpRequest&) {
    return HttpResponse{500, SoapFaultEnvelope("Client", "bad <thing> & more"), "text/xml"};
  });
  link_.http = &faulting;
  std::unique_ptr<IQuarrin> proxy = GetIQuarrin(false, "", link_);
  try {
    proxy->PutApplicationDetails("{G}", {"PC", "Word", "", "1.0.0.0"});
    ADD_FAILURE() << "no fault";
  } catch (const SoapFault& f) {
    EXPECT_EQ(f.fault_code(), "SOAP-ENV:Client");
    EXPECT_EQ(f.fault_string(), "bad <thing> & more");
  }
}

// What a toolkit sends after reading the description: the object inline,
// other prefixes, qualified property names, no xsi:type, nil and absent
// properties.
TEST(SoapEnvelopeTest, ReadsAToolkitsInlineEnvelope) {
  const SoapRequest r = ReadSoapRequest(
      "<soap-env:Envelope xmlns:soap-env=\"http://schemas.xmlsoap.org/soap/envelope/\">"
      "<soap-env:Body><ns0:PutPCDetails xmlns:ns0=\"urn:QuarrinIntf-IQuarrin\">"
      "<guid>{G}</guid><PCDetails xmlns:t=\"urn:QuarrinIntf\">"
      "<t:MachineName>PC9</t:MachineName><CPUSpeed> 3000 </CPUSpeed><VMWare>1</VMWare>"
      "<InstallDate>2020-02-29T23:59:59+02:00</InstallDate>"
      "<ProductName xsi:nil=\"true\" xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\"/>"
      "</PCDetails></ns0:PutPCDetails></soap-env:Body></soap-env:Envelope>");
  EXPECT_EQ(r.operation, "PutPCDetails");
  EXPECT_EQ(r.guid, "{G}");
  const tPCDetails& d = std::get<tPCDetails>(r.data);
  EXPECT_EQ(d.MachineName, "PC9");
  EXPECT_EQ(d.CPUSpeed, 3000);
  EXPECT_TRUE(d.VMWare);
  EXPECT_EQ(DecodeDateTime(d.InstallDate), (CivilTime{2020, 2, 29, 23, 59, 59, 0}));
  EXPECT_EQ(d.ProductName, "");
  EXPECT_EQ(d.TotCPU, 0);
}

std::string Envelope(const std::string& body_inside, const std::string& body_attrs = "") {
  return "<E:Envelope xmlns:E=\"http://schemas.xmlsoap.org/soap/envelope/\""
         " xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\""
         " xmlns:xsd=\"http://www.w3.org/2001/XMLSchema\"><E:Body" + body_attrs + ">" +
         body_inside + "</E:Body></E:Envelope>";
}

std::string AppCall(const std::string& object_inside, const std::string& object_attrs = "") {
  return Envelope(
      "<q:PutApplicationDetails xmlns:q=\"urn:QuarrinIntf-IQuarrin\"><guid>{G}</guid>"
      "<ApplicationDetails href=\"#1\"/></q:PutApplicationDetails>"
      "<t:tApplicationDetails id=\"1\" xmlns:t=\"urn:QuarrinIntf\"" + object_attrs + ">" +
      object_inside + "</t:tApplicationDetails>");
}

std::string DetailsCall(const std::string& property) {
  return Envelope(
      "<q:PutPCDetails xmlns:q=\"urn:QuarrinIntf-IQuarrin\"><guid>{G}</guid>"
      "<PCDetails><MachineName>PC</MachineName>" + property + "</PCDetails></q:PutPCDetails>");
}

TEST(SoapEnvelopeTest, RefusesWhatIsNotARequestOfTheContract) {
  const std::string good = AppCall("<MachineName>PC</MachineName><Application>Word</Application>");
  ASSERT_NO_THROW(ReadSoapRequest(good));
  struct Case {
    std::string body;
    std::string code;
    std::string message;  // the start of the fault string
  } cases[] = {
      {"", "Client", "the body is not XML"},
      {good.substr(0, good.size() / 2), "Client", "the body is not XML"},
      {"<?xml version=\"1.0\"?><!DOCTYPE E [<!ENTITY a \"aaaaaaaaaa\"><!ENTITY b \"&a;&a;&a;&a;\">]>" +
           good, "Client", "a SOAP message may not carry a document type declaration"},
      {"<Envelope xmlns=\"http://www.w3.org/2003/05/soap-envelope\"><Body/></Envelope>",
       "VersionMismatch", "only SOAP 1.1"},
      {"<data><VersionInfo/></data>", "Client", "the document is not a SOAP 1.1 envelope"},
      {"<E:Envelope xmlns:E=\"http://schemas.xmlsoap.org/soap/envelope/\"/>", "Client",
       "the envelope has no Body"},
      {Envelope(""), "Client", "the Body is empty"},
      {Envelope("<q:DeleteEverything xmlns:q=\"urn:QuarrinIntf-IQuarrin\"/>"), "Client",
       "unknown operation {urn:QuarrinIntf-IQuarrin}DeleteEverything"},
      {Envelope("<q:PutPCDetails xmlns:q=\"urn:Other\"/>"), "Client",
       "unknown operation {urn:Other}PutPCDetails"},
      {Envelope("<q:PutPCDetails xmlns:q=\"urn:QuarrinIntf-IQuarrin\"><PCDetails/></q:PutPCDetails>"),
       "Client", "PutPCDetails has no guid parameter"},
      {Envelope("<q:PutPCDetails xmlns:q=\"urn:QuarrinIntf-IQuarrin\"><guid>x</guid></q:PutPCDetails>"),
       "Client", "PutPCDetails has no PCDetails parameter"},
      {Envelope("<q:PutPCDetails xmlns:q=\"urn:QuarrinIntf-IQuarrin\"><guid>x</guid>"
                "<PCDetails href=\"#9\"/></q:PutPCDetails>"),
       "Client", "PCDetails: no element of the Body has the id '9'"},
      {Envelope("<q:PutPCDetails xmlns:q=\"urn:QuarrinIntf-IQuarrin\"><guid>x</guid>"
                "<PCDetails href=\"http://elsewhere/x\"/></q:PutPCDetails>"),
       "Client", "PCDetails: the reference"},
      {Envelope("<q:PutPCDetails xmlns:q=\"urn:QuarrinIntf-IQuarrin\">"
                "<guid xsi:type=\"xsd:int\">5</guid><PCDetails/></q:PutPCDetails>"),
       "Client", "guid has the type 'xsd:int', not string"},
      {DetailsCall("<CPUSpeed>12x</CPUSpeed>"), "Client", "tPCDetails.CPUSpeed '12x' is not an xsd:int"},
      {DetailsCall("<CPUSpeed>2147483648</CPUSpeed>"), "Client", "tPCDetails.CPUSpeed '2147483648' is not"},
      {DetailsCall("<TotCPU></TotCPU>"), "Client", "tPCDetails.TotCPU '' is not an xsd:int"},
      {DetailsCall("<VMWare>yes</VMWare>"), "Client", "tPCDetails.VMWare 'yes' is not an xsd:boolean"},
      {DetailsCall("<InstallDate>2004-02-30T00:00:00</InstallDate>"), "Client",
       "tPCDetails.InstallDate '2004-02-30T00:00:00' is not an xsd:dateTime"},
      {DetailsCall("<LastLogin xsi:type=\"xsd:int\">5</LastLogin>"), "Client",
       "tPCDetails.LastLogin has the type 'xsd:int', not string"},
      {DetailsCall("<LastLogin><b>x</b></LastLogin>"), "Client",
       "tPCDetails.LastLogin holds elements, not a value"},
      {AppCall("<MachineName>PC</MachineName>", " xsi:type=\"t:tPCDetails\""), "Client",
       "ApplicationDetails has the type 't:tPCDetails', not tApplicationDetails"},
      {"<E:Envelope xmlns:E=\"http://schemas.xmlsoap.org/soap/envelope/\"><E:Body>"
       "<q:PutPCDetails xmlns:q=\"urn:QuarrinIntf-IQuarrin\"><guid>\xC3\x28</guid>"
       "<PCDetails/></q:PutPCDetails></E:Body></E:Envelope>",
       "Client", "the body is not UTF-8"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.body);
    try {
      ReadSoapRequest(c.body);
      ADD_FAILURE() << "read";
    } catch (const SoapRequestError& e) {
      EXPECT_EQ(e.code(), c.code);
      EXPECT_EQ(std::string(e.what()).rfind(c.message, 0), 0u) << e.what();
    }
  }
}

// pugixml leaves entities it does not know unexpanded; with the document
// type refused, an entity reference in a value reads as the text written.
TEST(SoapEnvelopeTest, AnUndeclaredEntityIsNeverExpanded) {
  const SoapRequest r = ReadSoapRequest(
      AppCall("<MachineName>PC</MachineName><Application>&lol9;</Application>"));
  EXPECT_EQ(std::get<tApplicationDetails>(r.data).Application, "&lol9;");
}

TEST(SoapEnvelopeTest, ReadsDateTimesAsWritten) {
  struct Case {
    const char* text;
    std::optional<CivilTime> expected;
  } cases[] = {
      {"2004-06-15T00:00:00.000Z", CivilTime{2004, 6, 15, 0, 0, 0, 0}},
      {"1899-12-30T00:00:00.000Z", CivilTime{1899, 12, 30, 0, 0, 0, 0}},
      {"2004-06-15T13:05:07", CivilTime{2004, 6, 15, 13, 5, 7, 0}},
      {"2004-06-15T13:05:07.5-05:00", CivilTime{2004, 6, 15, 13, 5, 7, 500}},
      {"2004-06-15T13:05:07.123456Z", CivilTime{2004, 6, 15, 13, 5, 7, 123}},
      {"2004-06-15", std::nullopt},
      {"2004-06-15 13:05:07", std::nullopt},
      {"2004-6-15T13:05:07", std::nullopt},
      {"2004-06-15T13:05:07.", std::nullopt},
      {"2004-06-15T13:05:07Z ", std::nullopt},
      {"2004-06-15T13:60:07", std::nullopt},
      {"2004-06-31T00:00:00", std::nullopt},
      {"2004-06-15T13:05:07+25:00", std::nullopt},
      {"", std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    const std::optional<DateTime> t = ParseSoapDateTime(c.text);
    ASSERT_EQ(t.has_value(), c.expected.has_value());
    if (t) {
      EXPECT_EQ(DecodeDateTime(*t), *c.expected);
    }
  }
}

}  // namespace
}  // namespace quarrin
