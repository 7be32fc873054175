#include "server/read_api.h"

#include <charconv>

#include "platform/text/ascii.h"
#include "server/console/secrets.h"
#include "server/json.h"
#include "server/machine_identity.h"
#include "server/query_text.h"
#include "server/server_log.h"

namespace quarrin {

namespace {

constexpr char kJson[] = "application/json";
constexpr char kMachinesPath[] = "/api/v1/machines";
constexpr char kAssetsPath[] = "/api/v1/assets/";

class ApiError : public std::runtime_error {
 public:
  ApiError(unsigned status, const std::string& text) : std::runtime_error(text), status_(status) {}
  unsigned status() const { return status_; }

 private:
  unsigned status_;
};

void Answer(HttpServerReply& reply, unsigned status, std::string body) {
  reply.status = status;
  reply.content_type = kJson;
  reply.body = std::move(body);
}

std::string Parameter(const std::string& query, const char* name) {
  if (query.find(std::string(name) + "=") == std::string::npos) return "";
  const std::optional<std::string> value = QueryParameter(query, name);
  if (!value) throw ApiError(400, std::string(name) + ": the value is not percent-encoded text");
  return *value;
}

int Whole(const std::string& text, const char* name, int min, int max) {
  int n = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), n);
  if (error != std::errc() || end != text.data() + text.size() || n < min || n > max) {
    throw ApiError(400, std::string(name) + ": '" + text + "' is not a whole number from " +
                            std::to_string(min) + " to " + std::to_string(max));
  }
  return n;
}

std::array<int32_t, 4> Version(const std::string& text, const char* name) {
  const std::optional<std::array<int32_t, 4>> v = VersionBound(text);
  if (!v) throw ApiError(400, std::string(name) + ": '" + text + "' is not 1 to 4 numbers joined by points");
  return *v;
}

}  // namespace

bool ReadApi::Authorised(const HttpServerRequest& request) const {
  const std::string header = request.Header("Authorization");
  constexpr std::string_view kBearer = "bearer ";
  if (header.size() <= kBearer.size() || LowerAscii(header.substr(0, kBearer.size())) != kBearer) {
    return false;
  }
  const std::string_view token = std::string_view(header).substr(kBearer.size());
  bool found = false;
  for (const std::string& t : tokens_) found |= SameSecret(token, t);
  return found;
}

void ReadApi::Handle(const HttpServerRequest& request, HttpServerReply& reply) {
  if (!Authorised(request)) {
    Answer(reply, 401, "{\"error\":\"a bearer token of the server's settings is needed\"}");
    reply.headers = {{"WWW-Authenticate", "Bearer realm=\"quarrin-server\""}};
    return;
  }
  try {
    const std::string& path = request.Path;
    const bool get = request.Command == "GET" || request.Command == "HEAD";
    if (path == kMachinesPath) {
      if (!get) throw ApiError(405, "the machine list is read with GET");
      Machines(request, reply);
    } else if (path.rfind(std::string(kMachinesPath) + "/", 0) == 0) {
      if (!get) throw ApiError(405, "a machine is read with GET");
      const std::optional<std::string> name =
          PercentDecode(std::string_view(path).substr(std::string_view(kMachinesPath).size() + 1));
      if (!name || MachineKey(*name).empty()) throw ApiError(400, "no machine name in the path");
      const std::optional<std::string> json = store_.MachineJson(*name);
      if (!json) throw ApiError(404, "no machine " + MachineKey(*name));
      Answer(reply, 200, *json);
    } else if (path.rfind(kAssetsPath, 0) == 0) {
      if (request.Command != "PUT") throw ApiError(405, "an asset is written with PUT");
      const std::optional<std::string> name =
          PercentDecode(std::string_view(path).substr(std::string_view(kAssetsPath).size()));
      if (!name || MachineKey(*name).empty()) throw ApiError(400, "no machine name in the path");
      PutAsset(*name, request, reply);
    } else if (path == "/api/v1/status") {
      if (!get) throw ApiError(405, "the status is read with GET");
      Answer(reply, 200, status_json_());
    } else {
      throw ApiError(404, "no such API path: " + path);
    }
  } catch (const ApiError& e) {
    Answer(reply, e.status(), "{\"error\":" + JsonString(e.what()) + "}");
  } catch (const StoreRejected& e) {
    Answer(reply, 400, "{\"error\":" + JsonString(e.what()) + "}");
  } catch (const PgPoolExhausted&) {
    Answer(reply, 503, "{\"error\":\"the database is busy; try again later\"}");
    reply.headers = {{"Retry-After", "5"}};
  } catch (const PgError& e) {
    ServerLog(std::string("api: ") + request.Command + " " + request.Path + ": " + e.what());
    Answer(reply, 500, "{\"error\":\"the database failed\"}");
  }
}

void ReadApi::Machines(const HttpServerRequest& request, HttpServerReply& reply) {
  const std::string& q = request.QueryParams;
  MachineFilter filter;
  filter.name_prefix = Parameter(q, "name");
  filter.application = Parameter(q, "application");
  filter.product_name = Parameter(q, "os");
  filter.after = Parameter(q, "after");
  if (const std::string v = Parameter(q, "version_max"); !v.empty()) {
    filter.version_at_most = Version(v, "version_max");
  }
  if (const std::string v = Parameter(q, "version_min"); !v.empty()) {
    filter.version_at_least = Version(v, "version_min");
  }
  if ((filter.version_at_most || filter.version_at_least) && filter.application.empty()) {
    throw ApiError(400, "version_max and version_min need an application");
  }
  if (const std::string v = Parameter(q, "silent_days"); !v.empty()) {
    filter.silent_days = Whole(v, "silent_days", 0, 36500);
  }
  if (const std::string v = Parameter(q, "limit"); !v.empty()) {
    filter.limit = Whole(v, "limit", 1, 1000);
  }
  // One more than asked tells whether a next page exists.
  const int limit = filter.limit;
  filter.limit = limit + 1;
  std::vector<MachineSummary> machines = store_.ListMachines(filter);
  const bool more = static_cast<int>(machines.size()) > limit;
  if (more) machines.pop_back();
  std::string json = "{\"machines\":[";
  for (size_t i = 0; i < machines.size(); ++i) {
    const MachineSummary& m = machines[i];
    if (i > 0) json += ",";
    json += "{\"key\":" + JsonString(m.key) + ",\"machine_name\":" + JsonString(m.machine_name) +
            ",\"product_name\":" + JsonString(m.product_name) +
            ",\"last_seen\":" + JsonString(m.last_seen) + "}";
  }
  json += "],\"next\":";
  json += more ? JsonString(machines.back().key) : "null";
  Answer(reply, 200, json + "}");
}

void ReadApi::PutAsset(const std::string& name, const HttpServerRequest& request,
                       HttpServerReply& reply) {
  std::map<std::string, std::optional<std::string>> members;
  try {
    members = ParseFlatJsonObject(request.FormParams);
  } catch (const JsonError& e) {
    throw ApiError(400, e.what());
  }
  AssetRecord record{name, "", ""};
  for (const auto& [key, value] : members) {
    if (key == "service_tag") {
      record.service_tag = value.value_or("");
    } else if (key == "acquisition_date") {
      record.acquisition_date = value.value_or("");
      if (!record.acquisition_date.empty() && !IsIsoDate(record.acquisition_date)) {
        throw ApiError(400, "acquisition_date: '" + record.acquisition_date +
                                "' is not a day written yyyy-mm-dd");
      }
    } else {
      throw ApiError(400, "unknown member \"" + key + "\": an asset has service_tag and acquisition_date");
    }
  }
  store_.PutAssets({record});
  Answer(reply, 200,
         "{\"key\":" + JsonString(MachineKey(name)) + ",\"service_tag\":" +
             JsonString(record.service_tag) + ",\"acquisition_date\":" +
             JsonStringOrNull(record.acquisition_date.empty()
                                  ? std::nullopt
                                  : std::optional<std::string>(record.acquisition_date)) +
             "}");
}

}  // namespace quarrin
