// The inventory service's replies: an operation's result or fault, and the
// service description.
#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/net/http_client.h"
#include "report/inventory_service.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  quarrin::HttpResponse response;
  response.status = 200;
  response.body.assign(reinterpret_cast<const char*>(data), size);
  try {
    quarrin::ReadSoapReply("PutPCDetails", "http://127.0.0.1/soap", response);
  } catch (const quarrin::SoapError&) {
  }
  try {
    quarrin::EndpointFromDescription("http://127.0.0.1/wsdl", response);
  } catch (const quarrin::SoapError&) {
  }
  return 0;
}
