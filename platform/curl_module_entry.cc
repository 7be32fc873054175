// The entry of the HTTP module that programs carry (see http_client.cc);
// built into the module only.
#include "platform/curl_transfer.h"
#include "platform/http_client.h"

extern "C" __attribute__((visibility("default"))) quarrin::HttpClient* QuarrinCurlClient() {
  return &quarrin::LibcurlClient();
}
