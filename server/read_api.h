// The administrators' API: JSON over HTTP, every call with a bearer token
// of the settings ("Authorization: Bearer <token>"); without a token, or
// with one the settings do not hold, 401.
//
//   GET /api/v1/machines         the machines by key, at most `limit` (100,
//                                up to 1000); filters, all optional:
//                                name (key prefix), application (present on
//                                the machine), version_max and version_min
//                                (of that application, 1 to 4 numbers, the
//                                rest 0), os (ProductName exactly),
//                                silent_days (last seen longer ago), after
//                                (the key to continue after: the reply's next)
//   GET /api/v1/machines/NAME    one machine: details, attributes, asset,
//                                applications with first and last seen,
//                                history (newest first)
//   PUT /api/v1/assets/NAME      {"service_tag": "...", "acquisition_date":
//                                "yyyy-mm-dd" or null}: the register entry
//   GET /api/v1/status           the server's counters
//
// Errors are {"error": "<text>"} with 400, 401, 404, 405, 503 or 500.
#ifndef QUARRIN_SERVER_READ_API_H_
#define QUARRIN_SERVER_READ_API_H_

#include <functional>
#include <string>
#include <vector>

#include "http/http_server.h"
#include "server/store.h"

namespace quarrin {

// Safe for concurrent use by multiple threads.
class ReadApi {
 public:
  ReadApi(InventoryStore& store, std::vector<std::string> tokens,
          std::function<std::string()> status_json)
      : store_(store), tokens_(std::move(tokens)), status_json_(std::move(status_json)) {}

  static bool Serves(const std::string& path) { return path.rfind("/api/", 0) == 0; }
  void Handle(const HttpServerRequest& request, HttpServerReply& reply);

 private:
  bool Authorised(const HttpServerRequest& request) const;
  void Machines(const HttpServerRequest& request, HttpServerReply& reply);
  void PutAsset(const std::string& name, const HttpServerRequest& request, HttpServerReply& reply);

  InventoryStore& store_;
  const std::vector<std::string> tokens_;
  const std::function<std::string()> status_json_;
};

}  // namespace quarrin

#endif  // QUARRIN_SERVER_READ_API_H_
