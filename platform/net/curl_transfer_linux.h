// The HTTP client on libcurl itself. Only the HTTP transfer helper links it
// (see curl_helper_main_linux.cc); the program reaches it through
// CurlHttpClient(), which starts the helper for each exchange.
#ifndef QUARRIN_PLATFORM_NET_CURL_TRANSFER_LINUX_H_
#define QUARRIN_PLATFORM_NET_CURL_TRANSFER_LINUX_H_

#include "platform/net/http_client.h"

namespace quarrin {

// The one instance of the helper; libcurl's global set-up runs on its first
// exchange.
HttpClient& LibcurlClient();

}  // namespace quarrin

#endif  // QUARRIN_PLATFORM_NET_CURL_TRANSFER_LINUX_H_
