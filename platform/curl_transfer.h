// The HTTP client on libcurl itself. Only the HTTP module links it (see
// curl_module_entry.cc); the program reaches it through CurlHttpClient(),
// which loads the module for the time of each exchange.
#ifndef QUARRIN_PLATFORM_CURL_TRANSFER_H_
#define QUARRIN_PLATFORM_CURL_TRANSFER_H_

#include "platform/http_client.h"

namespace quarrin {

// The one instance of the module; libcurl's global set-up runs on its first
// exchange.
HttpClient& LibcurlClient();

}  // namespace quarrin

#endif  // QUARRIN_PLATFORM_CURL_TRANSFER_H_
