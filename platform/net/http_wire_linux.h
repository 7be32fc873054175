// How the program hands an HTTP exchange to its transfer helper and gets the
// outcome back (see http_client_linux.cc): every field a length-prefixed run of
// bytes or a fixed-size number, in the order of the structures. Both ends
// come from one build, so the layout has no version of its own.
#ifndef QUARRIN_PLATFORM_NET_HTTP_WIRE_LINUX_H_
#define QUARRIN_PLATFORM_NET_HTTP_WIRE_LINUX_H_

#include <optional>
#include <string>
#include <string_view>

#include "platform/net/http_client.h"

namespace quarrin {

// The request without its cancel flag, which stays with the caller.
std::string EncodeHttpRequest(const HttpRequest& request);
// Null when `bytes` are not exactly one encoded request.
std::optional<HttpRequest> DecodeHttpRequest(std::string_view bytes);

std::string EncodeHttpResponse(const HttpResponse& response);
std::string EncodeHttpError(const HttpError& error);
// The response; throws the HttpError that was encoded, or one of kind
// kTransport when `bytes` are not exactly one encoded outcome.
HttpResponse DecodeHttpOutcome(std::string_view bytes);

// The error of an exchange abandoned for its cancel flag.
HttpError CancelledHttpError(const HttpRequest& request);

}  // namespace quarrin

#endif  // QUARRIN_PLATFORM_NET_HTTP_WIRE_LINUX_H_
