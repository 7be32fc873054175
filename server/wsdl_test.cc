#include "server/wsdl.h"

#include <gtest/gtest.h>

#include "platform/net/http_client.h"
#include "report/inventory_service.h"

namespace quarrin {
namespace {

// The agent's own reading of a description finds the address given.
TEST(WsdlTest, TheAgentFindsThePortsAddress) {
  const std::string url = "http://fleet.example:8090/quarrin/quarrinws.dll/soap/IQuarrin";
  HttpResponse response{200, ServiceDescription(url), "text/xml"};
  EXPECT_EQ(EndpointFromDescription("http://fleet.example/wsdl", response), url);
}

TEST(WsdlTest, TheAddressIsEscaped) {
  const std::string wsdl = ServiceDescription("http://h/x?a=1&b=\"2\"");
  EXPECT_NE(wsdl.find("location=\"http://h/x?a=1&amp;b=&quot;2&quot;\""), std::string::npos);
}

TEST(WsdlTest, NamesEachOperationsActionAndEncoding) {
  const std::string wsdl = ServiceDescription("http://h/");
  for (const char* op : {"PutPCDetails", "PutPCDetails2", "PutApplicationDetails"}) {
    SCOPED_TRACE(op);
    EXPECT_NE(wsdl.find(std::string("soapAction=\"urn:QuarrinIntf-IQuarrin#") + op + "\""),
              std::string::npos);
  }
  EXPECT_NE(wsdl.find("<soap:binding style=\"rpc\""), std::string::npos);
  EXPECT_NE(wsdl.find("use=\"encoded\""), std::string::npos);
}

TEST(WsdlTest, TheEndpointComesFromAHostHeaderThatIsAHost) {
  struct Case {
    const char* host;
    bool https;
    std::optional<std::string> url;
  } cases[] = {
      {"fleet.example:8090", false, "http://fleet.example:8090/quarrin/quarrinws.dll/soap/IQuarrin"},
      {"fleet", true, "https://fleet/quarrin/quarrinws.dll/soap/IQuarrin"},
      {"127.0.0.1:1", false, "http://127.0.0.1:1/quarrin/quarrinws.dll/soap/IQuarrin"},
      {"[::1]:8090", false, "http://[::1]:8090/quarrin/quarrinws.dll/soap/IQuarrin"},
      {"", false, std::nullopt},
      {"evil\"/><x", false, std::nullopt},
      {"host:80a", false, std::nullopt},
      {"host:", false, std::nullopt},
      {"host:123456", false, std::nullopt},
      {"[::1", false, std::nullopt},
      {"[::1]x", false, std::nullopt},
      {"user@host", false, std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.host);
    EXPECT_EQ(EndpointUrlFor(c.https, c.host), c.url);
  }
}

}  // namespace
}  // namespace quarrin
