#include "platform/http_client.h"

#include <cstddef>
#include <memory>
#include <mutex>
#include <string>

#include "platform/embedded_module.h"

// The HTTP module (curl_module_entry.cc and curl_transfer.cc with libcurl),
// embedded at build time.
extern "C" const unsigned char quarrin_curl_module_begin[];
extern "C" const unsigned char quarrin_curl_module_end[];
// Its one export: the client on libcurl, which lives as long as the module.
extern "C" quarrin::HttpClient* QuarrinCurlClient();

namespace quarrin {

namespace {

// libcurl and what it brings (libssh2, Kerberos, LDAP, OpenSSL's libcrypto,
// nghttp2, ...) are a third of an idle agent's memory, and the agent makes
// an exchange a few times a day. So libcurl lives in a module that is loaded
// when an exchange starts and unloaded when the last one running ends.
class ModuleCurlClient final : public HttpClient {
 public:
  HttpResponse Send(const HttpRequest& request) override {
    Lease lease(*this);
    try {
      return lease.client().Send(request);
    } catch (const HttpError& e) {
      // The exception was made by the module's code, which is about to go:
      // the caller gets a copy of our own.
      throw HttpError(e.kind(), e.what());
    }
  }

 private:
  // Keeps the module loaded while an exchange runs.
  class Lease {
   public:
    explicit Lease(ModuleCurlClient& owner) : owner_(owner), client_(owner.Acquire()) {}
    ~Lease() { owner_.Release(); }
    Lease(const Lease&) = delete;
    Lease& operator=(const Lease&) = delete;
    HttpClient& client() { return client_; }

   private:
    ModuleCurlClient& owner_;
    HttpClient& client_;
  };

  HttpClient& Acquire() {
    std::lock_guard lock(mutex_);
    if (users_ == 0) {
      std::string error;
      auto module = EmbeddedModule::Load(
          "quarrin-http", quarrin_curl_module_begin,
          static_cast<size_t>(quarrin_curl_module_end - quarrin_curl_module_begin), &error,
          EmbeddedModule::Lifetime::kOwner);
      HttpClient* client = nullptr;
      if (module != nullptr) {
        if (void* entry = module->Symbol("QuarrinCurlClient", &error)) {
          client = reinterpret_cast<decltype(&QuarrinCurlClient)>(entry)();
        }
      }
      if (client == nullptr) {
        throw HttpError(HttpError::Kind::kTransport, "The HTTP module cannot be loaded: " + error);
      }
      module_ = std::move(module);
      client_ = client;
    }
    ++users_;
    return *client_;
  }

  void Release() {
    std::lock_guard lock(mutex_);
    if (--users_ > 0) return;
    // libcurl has joined its resolver threads by the end of every exchange,
    // so none of its code runs any more.
    client_ = nullptr;
    module_.reset();
  }

  std::mutex mutex_;
  int users_ = 0;  // exchanges running
  std::unique_ptr<EmbeddedModule> module_;
  HttpClient* client_ = nullptr;
};

}  // namespace

HttpClient& CurlHttpClient() {
  static ModuleCurlClient client;
  return client;
}

HttpClient& SystemHttpClient() { return CurlHttpClient(); }

}  // namespace quarrin
