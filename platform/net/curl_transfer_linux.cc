#include "platform/net/curl_transfer_linux.h"

#include <curl/curl.h>
#include <dlfcn.h>
#include <unistd.h>

#include <memory>
#include <mutex>
#include <string>

#include "platform/files/paths.h"

namespace quarrin {

namespace {

// libcurl brings libssh2, whose set-up initialises OpenSSL's libcrypto
// (about 1.5 MB of pages touched, on every start of the transfer helper).
// Only SCP and SFTP would use it, and they are not allowed here, so libssh2
// is set up first without its crypto; libcurl's own set-up then only counts
// one more.
void SetUpSshWithoutCrypto() {
  void* ssh = dlopen("libssh2.so.1", RTLD_NOW | RTLD_NOLOAD);
  if (ssh == nullptr) return;  // a libcurl built without it
  constexpr int kInitNoCrypto = 0x1;  // LIBSSH2_INIT_NO_CRYPTO
  if (auto init = reinterpret_cast<int (*)(int)>(dlsym(ssh, "libssh2_init"))) init(kInitNoCrypto);
  dlclose(ssh);  // only drops the reference RTLD_NOLOAD took
}

// curl_global_init is not safe to race with other threads starting up, so
// it runs exactly once, before the first handle is made.
struct GlobalSetUp {
  CURLcode result = CURLE_OK;
  bool done = false;
  ~GlobalSetUp() {
    if (done && result == CURLE_OK) curl_global_cleanup();
  }
};
GlobalSetUp global_set_up;

CURLcode GlobalInit() {
  static std::once_flag once;
  std::call_once(once, [] {
    SetUpSshWithoutCrypto();
    global_set_up.result = curl_global_init(CURL_GLOBAL_DEFAULT);
    global_set_up.done = true;
  });
  return global_set_up.result;
}

struct EasyDeleter {
  void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
};
struct ListDeleter {
  void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};
using EasyHandle = std::unique_ptr<CURL, EasyDeleter>;
using HeaderSlist = std::unique_ptr<curl_slist, ListDeleter>;

struct BodySink {
  std::string* body;
  size_t limit;
  bool over_limit = false;
};

size_t WriteBody(char* data, size_t size, size_t count, void* user) {
  auto* sink = static_cast<BodySink*>(user);
  size_t bytes = size * count;
  if (bytes > sink->limit - sink->body->size()) {
    sink->over_limit = true;
    return 0;  // makes libcurl stop with CURLE_WRITE_ERROR
  }
  sink->body->append(data, bytes);
  return bytes;
}

// libcurl calls this about once a second while waiting, and more often
// while data flows; a non-zero return ends the exchange.
int CheckCancel(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
  return static_cast<const CancelFlag*>(user)->IsSet() ? 1 : 0;
}

HttpError CancelledError(const HttpRequest& request) {
  return HttpError(HttpError::Kind::kCancelled,
                   "Transfer of " + request.url + " abandoned: the service is stopping");
}

void Append(HeaderSlist* list, const std::string& line) {
  curl_slist* grown = curl_slist_append(list->get(), line.c_str());
  if (grown == nullptr) throw HttpError(HttpError::Kind::kTransport, "out of memory");
  (void)list->release();  // grown is the same list, or a new one when it was empty
  list->reset(grown);
}

HttpError::Kind KindOf(CURLcode code) {
  switch (code) {
    case CURLE_OPERATION_TIMEDOUT:
      return HttpError::Kind::kTimeout;
    case CURLE_FILESIZE_EXCEEDED:
      return HttpError::Kind::kBodyTooLarge;
    case CURLE_TOO_MANY_REDIRECTS:
      return HttpError::Kind::kTooManyRedirects;
    default:
      return HttpError::Kind::kTransport;
  }
}

std::string BodyTooLargeMessage(const HttpRequest& request) {
  return "Response body of " + request.url + " is larger than " +
         std::to_string(request.max_body_bytes) + " bytes";
}

class CurlClient final : public HttpClient {
 public:
  HttpResponse Send(const HttpRequest& request) override {
    if (request.cancel != nullptr && request.cancel->IsSet()) throw CancelledError(request);
    CURLcode init = GlobalInit();
    if (init != CURLE_OK) {
      throw HttpError(HttpError::Kind::kTransport,
                      std::string("libcurl set-up failed: ") + curl_easy_strerror(init));
    }
    EasyHandle easy(curl_easy_init());
    if (!easy) throw HttpError(HttpError::Kind::kTransport, "libcurl handle could not be made");
    CURL* h = easy.get();

    HttpResponse response;
    BodySink sink{&response.body, request.max_body_bytes};
    char error_text[CURL_ERROR_SIZE] = "";

    HeaderSlist headers;
    for (const auto& [name, value] : request.headers) {
      // libcurl sends "Name;" as a header with an empty value.
      Append(&headers, value.empty() ? name + ";" : name + ": " + value);
    }
    // No "Expect: 100-continue" round trip before a larger POST body.
    Append(&headers, "Expect:");

    curl_easy_setopt(h, CURLOPT_URL, request.url.c_str());
    // HTTPS servers are checked against the system's certificate store,
    // always. Below a QUARRIN_ROOT that holds the store's bundle at the same
    // place under it, that bundle is taken instead, so that tests bring their
    // own authority.
    curl_easy_setopt(h, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(h, CURLOPT_SSL_VERIFYHOST, 2L);
    if (!QuarrinRoot().empty()) {
      char* system_file = nullptr;
      char* system_path = nullptr;
      curl_easy_getinfo(h, CURLINFO_CAINFO, &system_file);
      curl_easy_getinfo(h, CURLINFO_CAPATH, &system_path);
      // Debian's libcurl names only the folder; the bundle lies in it.
      const std::string bundle =
          system_file != nullptr   ? Rooted(system_file)
          : system_path != nullptr ? Rooted(std::string(system_path) + "/ca-certificates.crt")
                                   : std::string();
      if (!bundle.empty() && access(bundle.c_str(), R_OK) == 0) {
        curl_easy_setopt(h, CURLOPT_CAINFO, bundle.c_str());
        curl_easy_setopt(h, CURLOPT_CAPATH, nullptr);
      }
    }
    curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(h, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);  // threads: no SIGALRM for time-outs
    curl_easy_setopt(h, CURLOPT_ERRORBUFFER, error_text);
    curl_easy_setopt(h, CURLOPT_HTTPHEADER, headers.get());
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, &WriteBody);
    curl_easy_setopt(h, CURLOPT_WRITEDATA, &sink);
    curl_easy_setopt(h, CURLOPT_MAXFILESIZE_LARGE,
                     static_cast<curl_off_t>(request.max_body_bytes));
    if (request.method == HttpMethod::kPost) {
      curl_easy_setopt(h, CURLOPT_POST, 1L);
      curl_easy_setopt(h, CURLOPT_POSTFIELDS, request.body.data());
      curl_easy_setopt(h, CURLOPT_POSTFIELDSIZE_LARGE,
                       static_cast<curl_off_t>(request.body.size()));
    } else {
      curl_easy_setopt(h, CURLOPT_HTTPGET, 1L);
    }
    if (request.connect_timeout.count() > 0) {
      curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT_MS,
                       static_cast<long>(request.connect_timeout.count()));
    }
    if (request.total_timeout.count() > 0) {
      curl_easy_setopt(h, CURLOPT_TIMEOUT_MS, static_cast<long>(request.total_timeout.count()));
    }
    if (request.idle_timeout.count() > 0) {
      curl_easy_setopt(h, CURLOPT_LOW_SPEED_LIMIT, 1L);
      curl_easy_setopt(h, CURLOPT_LOW_SPEED_TIME,
                       static_cast<long>((request.idle_timeout.count() + 999) / 1000));
    }
    if (request.max_redirects > 0) {
      curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 1L);
      curl_easy_setopt(h, CURLOPT_MAXREDIRS, static_cast<long>(request.max_redirects));
    }
    if (request.cancel != nullptr) {
      curl_easy_setopt(h, CURLOPT_XFERINFOFUNCTION, &CheckCancel);
      // libcurl passes the pointer back as it was given; the callback only reads.
      curl_easy_setopt(h, CURLOPT_XFERINFODATA, const_cast<CancelFlag*>(request.cancel));
      curl_easy_setopt(h, CURLOPT_NOPROGRESS, 0L);
    }
    if (request.cookies) curl_easy_setopt(h, CURLOPT_COOKIEFILE, "");
    if (!request.user_agent.empty()) {
      curl_easy_setopt(h, CURLOPT_USERAGENT, request.user_agent.c_str());
    }

    CURLcode code = curl_easy_perform(h);
    if (code != CURLE_OK) {
      if (code == CURLE_ABORTED_BY_CALLBACK) throw CancelledError(request);
      if (sink.over_limit || code == CURLE_FILESIZE_EXCEEDED) {
        throw HttpError(HttpError::Kind::kBodyTooLarge, BodyTooLargeMessage(request));
      }
      std::string message = error_text[0] != '\0' ? error_text : curl_easy_strerror(code);
      throw HttpError(KindOf(code), message);
    }

    long status = 0;
    curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &status);
    response.status = static_cast<int>(status);
    char* content_type = nullptr;
    curl_easy_getinfo(h, CURLINFO_CONTENT_TYPE, &content_type);
    if (content_type != nullptr) response.content_type = content_type;
    return response;
  }
};

}  // namespace

HttpClient& LibcurlClient() {
  static CurlClient client;
  return client;
}

}  // namespace quarrin
