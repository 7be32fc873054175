#include "platform/net/http_client.h"

#include <windows.h>
#include <winhttp.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "platform/text/wide_text_windows.h"

namespace quarrin {

namespace {

using Clock = std::chrono::steady_clock;

// How often a waiting exchange looks at its cancel flag and its deadline.
constexpr std::chrono::milliseconds kWaitSlice{100};
constexpr DWORD kReadChunk = 64u << 10;

// WinHTTP runs asynchronously: every step is started on the caller's thread
// and completes in the status callback, while the caller waits in slices and
// gives up on a stop or at the deadline by closing the request handle. Its
// state outlives an abandoned exchange until WinHTTP says the handle is
// gone, so it is shared with the handle.
struct Exchange {
  std::mutex mutex;
  std::condition_variable done_cv;
  bool done = false;
  DWORD error = 0;  // of the step that completed
  DWORD bytes = 0;  // available or read
  std::string body_to_send;
  std::string buffer = std::string(kReadChunk, '\0');
};

void Complete(Exchange& exchange, DWORD error, DWORD bytes) {
  std::lock_guard lock(exchange.mutex);
  exchange.done = true;
  exchange.error = error;
  exchange.bytes = bytes;
  exchange.done_cv.notify_all();
}

void CALLBACK OnStatus(HINTERNET, DWORD_PTR context, DWORD status, void* info, DWORD length) {
  // The handle's own reference to the exchange (see Attach).
  auto* held = reinterpret_cast<std::shared_ptr<Exchange>*>(context);
  if (held == nullptr) return;  // the session's and connection's handles
  Exchange& exchange = **held;
  switch (status) {
    case WINHTTP_CALLBACK_STATUS_SENDREQUEST_COMPLETE:
    case WINHTTP_CALLBACK_STATUS_HEADERS_AVAILABLE:
      Complete(exchange, 0, 0);
      break;
    case WINHTTP_CALLBACK_STATUS_DATA_AVAILABLE:
      Complete(exchange, 0, *static_cast<DWORD*>(info));
      break;
    case WINHTTP_CALLBACK_STATUS_READ_COMPLETE:
      Complete(exchange, 0, length);
      break;
    case WINHTTP_CALLBACK_STATUS_REQUEST_ERROR: {
      const DWORD error = static_cast<WINHTTP_ASYNC_RESULT*>(info)->dwError;
      Complete(exchange, error == 0 ? ERROR_WINHTTP_INTERNAL_ERROR : error, 0);
      break;
    }
    case WINHTTP_CALLBACK_STATUS_HANDLE_CLOSING:
      delete held;
      break;
    default:
      break;
  }
}

struct HandleCloser {
  void operator()(HINTERNET handle) const { WinHttpCloseHandle(handle); }
};
using Handle = std::unique_ptr<void, HandleCloser>;

// WinHTTP's own errors have their texts in its module, the others in the
// system's table.
std::string ErrorText(DWORD code) {
  if (code >= WINHTTP_ERROR_BASE && code <= WINHTTP_ERROR_LAST) {
    wchar_t* buffer = nullptr;
    const DWORD n = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_IGNORE_INSERTS,
        GetModuleHandleW(L"winhttp.dll"), code, 0, reinterpret_cast<wchar_t*>(&buffer), 0,
        nullptr);
    std::string text = n > 0 ? Utf8FromWide(std::wstring_view(buffer, n)) : "";
    if (buffer != nullptr) LocalFree(buffer);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) {
      text.pop_back();
    }
    if (!text.empty()) return text;
    return "WinHTTP error " + std::to_string(code);
  }
  return SystemErrorText(code);
}

HttpError::Kind KindOf(DWORD code) {
  switch (code) {
    case ERROR_WINHTTP_TIMEOUT:
      return HttpError::Kind::kTimeout;
    case ERROR_WINHTTP_REDIRECT_FAILED:
      return HttpError::Kind::kTooManyRedirects;
    default:
      return HttpError::Kind::kTransport;
  }
}

// The system's timer value for a time-out: 0 is WinHTTP's "none".
int TimeoutValue(std::chrono::milliseconds timeout) {
  if (timeout.count() <= 0) return 0;
  return static_cast<int>(std::min<long long>(timeout.count(), 0x7fffffff));
}

class Transfer {
 public:
  explicit Transfer(const HttpRequest& request)
      : request_(request), exchange_(std::make_shared<Exchange>()) {
    if (request.total_timeout.count() > 0) {
      deadline_ = Clock::now() + request.total_timeout;
      has_deadline_ = true;
    }
  }

  HttpResponse Run() {
    if (Cancelled()) throw CancelledError();  // nothing is sent
    Open();
    const std::wstring headers = HeaderLines();
    exchange_->body_to_send = request_.body;
    std::string& body = exchange_->body_to_send;
    Step("Failed to send the request to " + request_.url, [&] {
      return WinHttpSendRequest(request_handle_.get(),
                                headers.empty() ? WINHTTP_NO_ADDITIONAL_HEADERS : headers.c_str(),
                                static_cast<DWORD>(headers.size()),
                                body.empty() ? WINHTTP_NO_REQUEST_DATA : body.data(),
                                static_cast<DWORD>(body.size()), static_cast<DWORD>(body.size()),
                                0);
    });
    Step("Failed to receive the response of " + request_.url,
         [&] { return WinHttpReceiveResponse(request_handle_.get(), nullptr); });

    HttpResponse response;
    DWORD status = 0;
    DWORD size = sizeof status;
    if (!WinHttpQueryHeaders(request_handle_.get(),
                             WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                             WINHTTP_HEADER_NAME_BY_INDEX, &status, &size,
                             WINHTTP_NO_HEADER_INDEX)) {
      Fail("No status in the response of " + request_.url, GetLastError());
    }
    response.status = static_cast<int>(status);
    response.content_type = TextHeader(WINHTTP_QUERY_CONTENT_TYPE);
    DWORD length = 0;
    size = sizeof length;
    if (WinHttpQueryHeaders(request_handle_.get(),
                            WINHTTP_QUERY_CONTENT_LENGTH | WINHTTP_QUERY_FLAG_NUMBER,
                            WINHTTP_HEADER_NAME_BY_INDEX, &length, &size,
                            WINHTTP_NO_HEADER_INDEX) &&
        length > request_.max_body_bytes) {
      throw BodyTooLarge();
    }
    ReadBody(&response.body);
    return response;
  }

 private:
  void Open() {
    const std::optional<std::wstring> url = WideFromUtf8(request_.url);
    if (!url) throw HttpError(HttpError::Kind::kTransport, "URL is not UTF-8: " + request_.url);
    URL_COMPONENTS parts{};
    parts.dwStructSize = sizeof parts;
    parts.dwHostNameLength = static_cast<DWORD>(-1);
    parts.dwUrlPathLength = static_cast<DWORD>(-1);
    parts.dwExtraInfoLength = static_cast<DWORD>(-1);
    if (!WinHttpCrackUrl(url->c_str(), static_cast<DWORD>(url->size()), 0, &parts) ||
        (parts.nScheme != INTERNET_SCHEME_HTTP && parts.nScheme != INTERNET_SCHEME_HTTPS)) {
      throw HttpError(HttpError::Kind::kTransport, "Unsupported URL: " + request_.url);
    }
    const std::wstring host(parts.lpszHostName, parts.dwHostNameLength);
    std::wstring target(parts.lpszUrlPath, parts.dwUrlPathLength);
    target.append(parts.lpszExtraInfo, parts.dwExtraInfoLength);
    if (target.empty()) target = L"/";

    const std::wstring agent = WideFromUtf8Lenient(request_.user_agent);
    // The machine's WinHTTP proxy setting (netsh winhttp), as a service has
    // no user's to take.
    session_.reset(WinHttpOpen(agent.empty() ? nullptr : agent.c_str(),
                               WINHTTP_ACCESS_TYPE_DEFAULT_PROXY, WINHTTP_NO_PROXY_NAME,
                               WINHTTP_NO_PROXY_BYPASS, WINHTTP_FLAG_ASYNC));
    if (!session_) Fail("WinHTTP session could not be opened", GetLastError());
    const int connect = TimeoutValue(request_.connect_timeout);
    // Sending and receiving wait at most the idle time-out, else the total.
    const int transfer = TimeoutValue(request_.idle_timeout.count() > 0 ? request_.idle_timeout
                                                                         : request_.total_timeout);
    if (!WinHttpSetTimeouts(session_.get(), connect, connect, transfer, transfer)) {
      Fail("WinHTTP time-outs could not be set", GetLastError());
    }
    if (WinHttpSetStatusCallback(session_.get(), &OnStatus,
                                 WINHTTP_CALLBACK_FLAG_ALL_COMPLETIONS |
                                     WINHTTP_CALLBACK_FLAG_HANDLES,
                                 0) == WINHTTP_INVALID_STATUS_CALLBACK) {
      Fail("WinHTTP callback could not be set", GetLastError());
    }
    connection_.reset(WinHttpConnect(session_.get(), host.c_str(), parts.nPort, 0));
    if (!connection_) Fail("Failed to connect to " + request_.url, GetLastError());
    const bool secure = parts.nScheme == INTERNET_SCHEME_HTTPS;
    // Certificates are checked by the system, against its store: no
    // security flags loosen that.
    request_handle_.reset(WinHttpOpenRequest(
        connection_.get(), request_.method == HttpMethod::kPost ? L"POST" : L"GET",
        target.c_str(), nullptr, WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES,
        secure ? WINHTTP_FLAG_SECURE : 0));
    if (!request_handle_) Fail("Failed to open the request to " + request_.url, GetLastError());
    Attach();

    DWORD value = 0;
    if (request_.max_redirects <= 0) {
      value = WINHTTP_OPTION_REDIRECT_POLICY_NEVER;
      WinHttpSetOption(request_handle_.get(), WINHTTP_OPTION_REDIRECT_POLICY, &value, sizeof value);
    } else {
      value = static_cast<DWORD>(request_.max_redirects);
      WinHttpSetOption(request_handle_.get(), WINHTTP_OPTION_MAX_HTTP_AUTOMATIC_REDIRECTS, &value,
                       sizeof value);
    }
    if (!request_.cookies) {
      value = WINHTTP_DISABLE_COOKIES;
      WinHttpSetOption(request_handle_.get(), WINHTTP_OPTION_DISABLE_FEATURE, &value, sizeof value);
    }
  }

  // Gives the request handle its reference to the exchange, which the
  // callback drops when the handle closes.
  void Attach() {
    auto* held = new std::shared_ptr<Exchange>(exchange_);
    DWORD_PTR context = reinterpret_cast<DWORD_PTR>(held);
    if (!WinHttpSetOption(request_handle_.get(), WINHTTP_OPTION_CONTEXT_VALUE, &context,
                          sizeof context)) {
      const DWORD error = GetLastError();
      delete held;
      Fail("WinHTTP context could not be set", error);
    }
  }

  std::wstring HeaderLines() const {
    std::string lines;
    for (const auto& [name, value] : request_.headers) {
      lines += name + ":" + (value.empty() ? "" : " " + value) + "\r\n";
    }
    return WideFromUtf8Lenient(lines);
  }

  std::string TextHeader(DWORD query) {
    DWORD size = 0;
    WinHttpQueryHeaders(request_handle_.get(), query, WINHTTP_HEADER_NAME_BY_INDEX,
                        WINHTTP_NO_OUTPUT_BUFFER, &size, WINHTTP_NO_HEADER_INDEX);
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || size == 0) return "";
    std::wstring text(size / sizeof(wchar_t), L'\0');
    if (!WinHttpQueryHeaders(request_handle_.get(), query, WINHTTP_HEADER_NAME_BY_INDEX,
                             text.data(), &size, WINHTTP_NO_HEADER_INDEX)) {
      return "";
    }
    text.resize(size / sizeof(wchar_t));
    return Utf8FromWide(text);
  }

  void ReadBody(std::string* body) {
    Exchange& exchange = *exchange_;
    for (;;) {
      Step("Failed to receive the body of " + request_.url,
           [&] { return WinHttpQueryDataAvailable(request_handle_.get(), nullptr); });
      if (exchange.bytes == 0) return;
      // One byte past the cap is enough to know that the body is too long.
      const size_t room = request_.max_body_bytes - body->size();
      const DWORD want = static_cast<DWORD>(
          std::min<size_t>({exchange.bytes, kReadChunk, room == SIZE_MAX ? room : room + 1}));
      Step("Failed to receive the body of " + request_.url, [&] {
        return WinHttpReadData(request_handle_.get(), exchange.buffer.data(), want, nullptr);
      });
      if (exchange.bytes == 0) return;
      if (exchange.bytes > room) throw BodyTooLarge();
      body->append(exchange.buffer.data(), exchange.bytes);
    }
  }

  // Starts one step and waits for its completion, the cancel flag and the
  // deadline looked at in slices.
  template <typename Start>
  void Step(const std::string& context, Start start) {
    Exchange& exchange = *exchange_;
    {
      std::lock_guard lock(exchange.mutex);
      exchange.done = false;
      exchange.error = 0;
      exchange.bytes = 0;
    }
    if (Cancelled()) Abandon(CancelledError());
    if (!start()) Fail(context, GetLastError());
    // Every step ends as data arrives, so a step that waits longer than the
    // idle time-out has seen none for that long. WinHTTP's receive time-out
    // says the same, but not every implementation keeps it while waiting.
    const bool idle_limit = request_.idle_timeout.count() > 0;
    const Clock::time_point idle_deadline = Clock::now() + request_.idle_timeout;
    std::unique_lock lock(exchange.mutex);
    while (!exchange.done) {
      if (Cancelled()) {
        lock.unlock();
        Abandon(CancelledError());
      }
      const Clock::time_point now = Clock::now();
      if (has_deadline_ && now >= deadline_) {
        lock.unlock();
        Abandon(TimeoutError("timed out after", request_.total_timeout));
      }
      if (idle_limit && now >= idle_deadline) {
        lock.unlock();
        Abandon(TimeoutError("received nothing for", request_.idle_timeout));
      }
      exchange.done_cv.wait_for(lock, kWaitSlice);
    }
    if (exchange.error != 0) {
      const DWORD error = exchange.error;
      lock.unlock();
      Fail(context, error);
    }
  }

  bool Cancelled() const { return request_.cancel != nullptr && request_.cancel->IsSet(); }

  HttpError CancelledError() const {
    return HttpError(HttpError::Kind::kCancelled,
                     "Transfer of " + request_.url + " abandoned: the service is stopping");
  }

  HttpError TimeoutError(const char* what, std::chrono::milliseconds limit) const {
    return HttpError(HttpError::Kind::kTimeout, "Transfer of " + request_.url + " " + what + " " +
                                                    std::to_string(limit.count()) +
                                                    " milliseconds");
  }

  HttpError BodyTooLarge() const {
    return HttpError(HttpError::Kind::kBodyTooLarge,
                     "Response body of " + request_.url + " is larger than " +
                         std::to_string(request_.max_body_bytes) + " bytes");
  }

  // Closing the request handle ends the step in progress; what it still
  // touches is the shared exchange, kept until the handle is gone.
  [[noreturn]] void Abandon(const HttpError& error) {
    request_handle_.reset();
    throw error;
  }

  [[noreturn]] void Fail(const std::string& context, DWORD code) {
    if (Cancelled()) Abandon(CancelledError());
    throw HttpError(KindOf(code), context + ": " + ErrorText(code));
  }

  const HttpRequest& request_;
  std::shared_ptr<Exchange> exchange_;
  Clock::time_point deadline_;
  bool has_deadline_ = false;
  // Closed in reverse: the request first, the session last.
  Handle session_;
  Handle connection_;
  Handle request_handle_;
};

class WinHttpClient final : public HttpClient {
 public:
  HttpResponse Send(const HttpRequest& request) override {
    Transfer transfer(request);
    return transfer.Run();
  }
};

}  // namespace

HttpClient& SystemHttpClient() {
  static WinHttpClient client;
  return client;
}

}  // namespace quarrin
