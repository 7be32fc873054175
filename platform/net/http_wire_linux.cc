#include "platform/net/http_wire_linux.h"

#include <cstdint>

namespace quarrin {

namespace {

enum Outcome : uint64_t { kResponse = 1, kError = 2 };

void PutNumber(std::string* out, uint64_t value) {
  char bytes[8];
  for (int i = 0; i < 8; ++i) bytes[i] = static_cast<char>(value >> (8 * i));
  out->append(bytes, 8);
}

void PutText(std::string* out, std::string_view text) {
  PutNumber(out, text.size());
  out->append(text);
}

// Reads the fields back; any shortfall makes it fail for good.
class Reader {
 public:
  explicit Reader(std::string_view bytes) : rest_(bytes) {}

  uint64_t Number() {
    if (rest_.size() < 8) return Fail();
    uint64_t value = 0;
    for (int i = 0; i < 8; ++i) value |= uint64_t{static_cast<unsigned char>(rest_[i])} << (8 * i);
    rest_.remove_prefix(8);
    return value;
  }
  int64_t Signed() { return static_cast<int64_t>(Number()); }
  std::string Text() {
    const uint64_t size = Number();
    if (size > rest_.size()) return Fail(), std::string();
    std::string text(rest_.substr(0, size));
    rest_.remove_prefix(size);
    return text;
  }
  // True when every field was there and nothing is left over.
  bool Whole() const { return ok_ && rest_.empty(); }

 private:
  uint64_t Fail() {
    ok_ = false;
    rest_ = {};
    return 0;
  }
  std::string_view rest_;
  bool ok_ = true;
};

}  // namespace

std::string EncodeHttpRequest(const HttpRequest& r) {
  std::string out;
  PutNumber(&out, r.method == HttpMethod::kPost ? 1 : 0);
  PutText(&out, r.url);
  PutNumber(&out, r.headers.size());
  for (const auto& [name, value] : r.headers) {
    PutText(&out, name);
    PutText(&out, value);
  }
  PutText(&out, r.body);
  PutNumber(&out, static_cast<uint64_t>(r.connect_timeout.count()));
  PutNumber(&out, static_cast<uint64_t>(r.total_timeout.count()));
  PutNumber(&out, static_cast<uint64_t>(r.idle_timeout.count()));
  PutNumber(&out, r.max_body_bytes);
  PutNumber(&out, static_cast<uint64_t>(static_cast<int64_t>(r.max_redirects)));
  PutNumber(&out, r.cookies ? 1 : 0);
  PutText(&out, r.user_agent);
  return out;
}

std::optional<HttpRequest> DecodeHttpRequest(std::string_view bytes) {
  Reader in(bytes);
  HttpRequest r;
  r.method = in.Number() == 1 ? HttpMethod::kPost : HttpMethod::kGet;
  r.url = in.Text();
  const uint64_t headers = in.Number();
  // Each header takes at least 16 bytes: a count beyond that is garbage.
  if (headers > bytes.size() / 16) return std::nullopt;
  for (uint64_t i = 0; i < headers; ++i) {
    std::string name = in.Text();
    r.headers.emplace_back(std::move(name), in.Text());
  }
  r.body = in.Text();
  r.connect_timeout = std::chrono::milliseconds(in.Signed());
  r.total_timeout = std::chrono::milliseconds(in.Signed());
  r.idle_timeout = std::chrono::milliseconds(in.Signed());
  r.max_body_bytes = static_cast<size_t>(in.Number());
  r.max_redirects = static_cast<int>(in.Signed());
  r.cookies = in.Number() == 1;
  r.user_agent = in.Text();
  if (!in.Whole()) return std::nullopt;
  return r;
}

std::string EncodeHttpResponse(const HttpResponse& response) {
  std::string out;
  PutNumber(&out, kResponse);
  PutNumber(&out, static_cast<uint64_t>(static_cast<int64_t>(response.status)));
  PutText(&out, response.content_type);
  PutText(&out, response.body);
  return out;
}

std::string EncodeHttpError(const HttpError& error) {
  std::string out;
  PutNumber(&out, kError);
  PutNumber(&out, static_cast<uint64_t>(error.kind()));
  PutText(&out, error.what());
  return out;
}

HttpResponse DecodeHttpOutcome(std::string_view bytes) {
  Reader in(bytes);
  const uint64_t outcome = in.Number();
  if (outcome == kResponse) {
    HttpResponse response;
    response.status = static_cast<int>(in.Signed());
    response.content_type = in.Text();
    response.body = in.Text();
    if (in.Whole()) return response;
  } else if (outcome == kError) {
    const uint64_t kind = in.Number();
    std::string message = in.Text();
    if (in.Whole() && kind <= static_cast<uint64_t>(HttpError::Kind::kCancelled)) {
      throw HttpError(static_cast<HttpError::Kind>(kind), message);
    }
  }
  throw HttpError(HttpError::Kind::kTransport,
                  "The HTTP transfer helper's reply is incomplete or malformed");
}

HttpError CancelledHttpError(const HttpRequest& request) {
  return HttpError(HttpError::Kind::kCancelled,
                   "Transfer of " + request.url + " abandoned: the service is stopping");
}

}  // namespace quarrin
