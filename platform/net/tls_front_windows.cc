// The TLS front on Schannel. One thread polls every connection: the
// client's (cipher text) and, once its handshake is done, our end of the
// loopback connection whose other end the server reads (plain text). Each
// side's bytes wait in a bounded buffer until the other side takes them,
// so a client or server that stops reading stops the other side's reads,
// never the thread.
#include "platform/net/tls_front.h"

#include <winsock2.h>

#include "platform/net/schannel_credential_windows.h"

#include <schannel.h>

#include <algorithm>
#include <list>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/net/loopback_pair_windows.h"

namespace quarrin {

namespace {

using SteadyClock = std::chrono::steady_clock;

constexpr ULONG kContextFlags = ASC_REQ_SEQUENCE_DETECT | ASC_REQ_REPLAY_DETECT |
                                ASC_REQ_CONFIDENTIALITY | ASC_REQ_EXTENDED_ERROR |
                                ASC_REQ_ALLOCATE_MEMORY | ASC_REQ_STREAM;
// What one side may have waiting for the other: a few TLS records.
constexpr size_t kBufferLimit = 64u << 10;
// The longest handshake message accepted, and what may wait undecrypted.
constexpr size_t kCipherLimit = 2 * kBufferLimit;
// How long bytes for the client may wait unsent (a client that does not
// read) before the connection is dropped.
constexpr std::chrono::seconds kSendStall{10};

constexpr ULONG_PTR kNoHandle = ~ULONG_PTR{0};

SOCKET AsSocket(TcpSocket s) { return static_cast<SOCKET>(s); }

struct Session {
  TcpSocket client = kNoTcpSocket;
  TcpSocket plain = kNoTcpSocket;  // ours; the server has the other end
  // Schannel's "no handle" until the first AcceptSecurityContext makes one.
  CtxtHandle context{kNoHandle, kNoHandle};
  bool has_context = false;
  bool open = false;  // the handshake is done
  SteadyClock::time_point deadline;  // of the handshake
  TlsFront::Ready ready;             // empty once told
  std::string cipher_in;   // from the client, not yet decrypted
  std::string cipher_out;  // for the client
  std::string plain_out;   // for the server
  SecPkgContext_StreamSizes sizes{};
  bool client_ended = false;  // nothing more comes from the client
  bool server_ended = false;  // nothing more comes from the server
  bool plain_shut = false;    // the server has been told the client's end
  bool closing_sent = false;  // close_notify queued
  SteadyClock::time_point last_sent;  // since bytes wait for the client
  short client_events = 0;  // what the last wait saw
  short plain_events = 0;
  bool dead = false;
};

// Appends a token that Schannel allocated and frees it.
void TakeToken(SecBuffer& buffer, std::string* out) {
  if (buffer.pvBuffer == nullptr) return;
  out->append(static_cast<const char*>(buffer.pvBuffer), buffer.cbBuffer);
  FreeContextBuffer(buffer.pvBuffer);
  buffer.pvBuffer = nullptr;
}

// The bytes of `in` that Schannel did not use: the last `extra`.
void KeepExtra(std::string* in, const SecBuffer& extra) {
  if (extra.BufferType == SECBUFFER_EXTRA && extra.cbBuffer <= in->size()) {
    in->erase(0, in->size() - extra.cbBuffer);
  } else {
    in->clear();
  }
}

}  // namespace

class TlsFront::Impl {
 public:
  explicit Impl(std::unique_ptr<SchannelCredential> credential)
      : credential_(std::move(credential)) {}
  ~Impl() { Stop(); }

  bool Start(std::string* error) {
    if (!wake_.Open(error)) return false;
    thread_ = std::thread(&Impl::Run, this);
    return true;
  }

  void Add(TcpSocket connection, SteadyClock::time_point deadline, Ready ready) {
    {
      std::lock_guard lock(mu_);
      if (!stopping_) {
        Session s;
        s.client = connection;
        s.deadline = deadline;
        s.ready = std::move(ready);
        arrivals_.push_back(std::move(s));
        wake_.Signal();
        return;
      }
    }
    CloseTcp(connection);
    ready(kNoTcpSocket);
  }

  void Stop() {
    if (!thread_.joinable()) return;
    {
      std::lock_guard lock(mu_);
      stopping_ = true;
    }
    wake_.Signal();
    thread_.join();
    for (Session& s : sessions_) Close(s);
    sessions_.clear();
    for (Session& s : arrivals_) Close(s);
    arrivals_.clear();
    wake_.Close();
  }

 private:
  void Run();
  // One pass over a session after its sockets were polled.
  void Serve(Session& s, SteadyClock::time_point now);
  void Handshake(Session& s);
  void Decrypt(Session& s);
  void Encrypt(Session& s, const char* data, size_t size);
  void QueueCloseNotify(Session& s);
  // Closes both sides; a session still in its handshake is told so.
  void Close(Session& s);

  std::unique_ptr<SchannelCredential> credential_;
  TcpWakeup wake_;
  std::thread thread_;
  std::list<Session> sessions_;  // the thread's own
  std::vector<char> scratch_ = std::vector<char>(16u << 10);

  std::mutex mu_;
  bool stopping_ = false;
  std::list<Session> arrivals_;
};

void TlsFront::Impl::Run() {
  std::vector<WSAPOLLFD> polled;
  std::vector<short*> events;  // where each entry's result goes
  for (;;) {
    const SteadyClock::time_point now = SteadyClock::now();
    polled.assign(1, {AsSocket(wake_.socket()), POLLRDNORM, 0});
    events.assign(1, nullptr);
    SteadyClock::time_point next = SteadyClock::time_point::max();
    for (Session& s : sessions_) {
      s.client_events = s.plain_events = 0;
      short client = 0;
      if (!s.client_ended && s.plain_out.size() < kBufferLimit &&
          s.cipher_in.size() < kCipherLimit) {
        client |= POLLRDNORM;
      }
      if (!s.cipher_out.empty()) {
        client |= POLLWRNORM;
        if (s.last_sent != SteadyClock::time_point()) next = std::min(next, s.last_sent + kSendStall);
      }
      short plain = 0;
      if (s.open && !s.server_ended && s.cipher_out.size() < kBufferLimit) plain |= POLLRDNORM;
      if (s.open && !s.plain_out.empty()) plain |= POLLWRNORM;
      if (!s.open) next = std::min(next, s.deadline);
      // WSAPoll takes no placeholders: a side with nothing to wait for is
      // left out.
      if (client != 0) {
        polled.push_back({AsSocket(s.client), client, 0});
        events.push_back(&s.client_events);
      }
      if (plain != 0) {
        polled.push_back({AsSocket(s.plain), plain, 0});
        events.push_back(&s.plain_events);
      }
    }
    int timeout = -1;
    if (next != SteadyClock::time_point::max()) {
      const auto wait = std::chrono::ceil<std::chrono::milliseconds>(next - now).count();
      timeout = static_cast<int>(std::clamp<int64_t>(wait, 0, 60000));
    }
    if (WSAPoll(polled.data(), static_cast<ULONG>(polled.size()), timeout) == SOCKET_ERROR) {
      // Out of memory for a moment, say: the front must not end for it.
      Sleep(10);
      continue;
    }
    for (size_t i = 1; i < polled.size(); ++i) *events[i] = polled[i].revents;
    if (polled[0].revents != 0) {
      wake_.Clear();
      std::lock_guard lock(mu_);
      if (stopping_) return;
      sessions_.splice(sessions_.end(), arrivals_);
    }
    const SteadyClock::time_point then = SteadyClock::now();
    for (auto it = sessions_.begin(); it != sessions_.end();) {
      Serve(*it, then);
      if (it->dead) {
        Close(*it);
        it = sessions_.erase(it);
      } else {
        ++it;
      }
    }
  }
}

void TlsFront::Impl::Serve(Session& s, SteadyClock::time_point now) {
  const size_t room = kCipherLimit - std::min(kCipherLimit, s.cipher_in.size());
  if (!s.client_ended && room > 0 && (s.client_events & (POLLRDNORM | POLLHUP | POLLERR))) {
    const int n = recv(AsSocket(s.client), scratch_.data(),
                       static_cast<int>(std::min(room, scratch_.size())), 0);
    if (n > 0) {
      s.cipher_in.append(scratch_.data(), static_cast<size_t>(n));
    } else if (n == 0 || WSAGetLastError() != WSAEWOULDBLOCK) {
      s.client_ended = true;
      if (n != 0) s.dead = true;  // reset: nothing more can be sent either
    }
  }
  if (!s.dead && !s.open) Handshake(s);
  if (!s.dead && s.open) Decrypt(s);
  if (!s.dead && s.open && !s.server_ended &&
      (s.plain_events & (POLLRDNORM | POLLHUP | POLLERR))) {
    const size_t chunk = std::min<size_t>(s.sizes.cbMaximumMessage, scratch_.size());
    const int n = recv(AsSocket(s.plain), scratch_.data(), static_cast<int>(chunk), 0);
    if (n > 0) {
      Encrypt(s, scratch_.data(), static_cast<size_t>(n));
    } else if (n == 0 || WSAGetLastError() != WSAEWOULDBLOCK) {
      s.server_ended = true;
      QueueCloseNotify(s);
    }
  }
  if (!s.dead && s.open && !s.plain_out.empty()) {
    const int n = send(AsSocket(s.plain), s.plain_out.data(),
                       static_cast<int>(std::min<size_t>(s.plain_out.size(), 1u << 30)), 0);
    if (n > 0) {
      s.plain_out.erase(0, static_cast<size_t>(n));
    } else if (WSAGetLastError() != WSAEWOULDBLOCK) {
      s.dead = true;  // the server has gone
    }
  }
  if (!s.dead && !s.cipher_out.empty()) {
    if (s.last_sent == SteadyClock::time_point()) s.last_sent = now;
    const int n = send(AsSocket(s.client), s.cipher_out.data(),
                       static_cast<int>(std::min<size_t>(s.cipher_out.size(), 1u << 30)), 0);
    if (n > 0) {
      s.cipher_out.erase(0, static_cast<size_t>(n));
      s.last_sent = now;
    } else if (WSAGetLastError() != WSAEWOULDBLOCK) {
      s.dead = true;
    }
  }
  if (s.dead) return;
  if (s.cipher_out.empty()) {
    s.last_sent = SteadyClock::time_point();
  } else if (now - s.last_sent >= kSendStall) {
    s.dead = true;  // a client that does not take what it is sent
    return;
  }
  if (!s.open) {
    if (now >= s.deadline || s.client_ended) s.dead = true;
    return;
  }
  if (s.client_ended && s.plain_out.empty() && !s.plain_shut) {
    // The server reads the end of the request's stream.
    shutdown(AsSocket(s.plain), SD_SEND);
    s.plain_shut = true;
  }
  if (s.server_ended && s.cipher_out.empty()) s.dead = true;  // all said
}

void TlsFront::Impl::Handshake(Session& s) {
  while (!s.open && !s.dead && !s.cipher_in.empty()) {
    SecBuffer in[2] = {{static_cast<ULONG>(s.cipher_in.size()), SECBUFFER_TOKEN, s.cipher_in.data()},
                       {0, SECBUFFER_EMPTY, nullptr}};
    SecBufferDesc in_desc{SECBUFFER_VERSION, 2, in};
    SecBuffer out[2] = {{0, SECBUFFER_TOKEN, nullptr}, {0, SECBUFFER_ALERT, nullptr}};
    SecBufferDesc out_desc{SECBUFFER_VERSION, 2, out};
    ULONG attributes = 0;
    const SECURITY_STATUS status = AcceptSecurityContext(
        credential_->handle(), s.has_context ? &s.context : nullptr, &in_desc, kContextFlags, 0,
        &s.context, &out_desc, &attributes, nullptr);
    s.has_context = s.context.dwLower != kNoHandle || s.context.dwUpper != kNoHandle;
    TakeToken(out[0], &s.cipher_out);
    TakeToken(out[1], &s.cipher_out);
    if (status == SEC_E_INCOMPLETE_MESSAGE) return;
    if (status != SEC_E_OK && status != SEC_I_CONTINUE_NEEDED) {
      // Whatever alert Schannel made goes out; the client learns no more.
      s.client_ended = true;
      s.server_ended = true;
      s.cipher_in.clear();
      return;
    }
    KeepExtra(&s.cipher_in, in[1]);
    if (status == SEC_I_CONTINUE_NEEDED) continue;
    if (QueryContextAttributesW(&s.context, SECPKG_ATTR_STREAM_SIZES, &s.sizes) != SEC_E_OK) {
      s.dead = true;
      return;
    }
    TcpSocket theirs = kNoTcpSocket;
    if (!OpenLoopbackPair(&s.plain, &theirs, nullptr)) {
      s.dead = true;
      return;
    }
    s.open = true;
    Ready ready = std::move(s.ready);
    s.ready = nullptr;
    ready(theirs);
  }
}

void TlsFront::Impl::Decrypt(Session& s) {
  while (!s.dead && !s.client_ended && !s.cipher_in.empty()) {
    SecBuffer b[4] = {{static_cast<ULONG>(s.cipher_in.size()), SECBUFFER_DATA, s.cipher_in.data()},
                      {0, SECBUFFER_EMPTY, nullptr},
                      {0, SECBUFFER_EMPTY, nullptr},
                      {0, SECBUFFER_EMPTY, nullptr}};
    SecBufferDesc desc{SECBUFFER_VERSION, 4, b};
    const SECURITY_STATUS status = DecryptMessage(&s.context, &desc, 0, nullptr);
    if (status == SEC_E_INCOMPLETE_MESSAGE) return;
    if (status == SEC_I_CONTEXT_EXPIRED) {
      // close_notify: the client sends no more.
      s.client_ended = true;
      s.cipher_in.clear();
      return;
    }
    if (status != SEC_E_OK) {
      // A record that does not decrypt, or a renegotiation, which is not
      // served.
      s.dead = true;
      return;
    }
    const SecBuffer* extra = nullptr;
    for (const SecBuffer& x : b) {
      if (x.BufferType == SECBUFFER_DATA && x.pvBuffer != nullptr) {
        s.plain_out.append(static_cast<const char*>(x.pvBuffer), x.cbBuffer);
      } else if (x.BufferType == SECBUFFER_EXTRA) {
        extra = &x;
      }
    }
    if (extra == nullptr) {
      s.cipher_in.clear();
    } else {
      KeepExtra(&s.cipher_in, *extra);
    }
  }
}

void TlsFront::Impl::Encrypt(Session& s, const char* data, size_t size) {
  const SecPkgContext_StreamSizes& z = s.sizes;
  std::string record(z.cbHeader + size + z.cbTrailer, '\0');
  std::copy(data, data + size, record.begin() + z.cbHeader);
  SecBuffer b[4] = {{z.cbHeader, SECBUFFER_STREAM_HEADER, record.data()},
                    {static_cast<ULONG>(size), SECBUFFER_DATA, record.data() + z.cbHeader},
                    {z.cbTrailer, SECBUFFER_STREAM_TRAILER, record.data() + z.cbHeader + size},
                    {0, SECBUFFER_EMPTY, nullptr}};
  SecBufferDesc desc{SECBUFFER_VERSION, 4, b};
  if (EncryptMessage(&s.context, 0, &desc, 0) != SEC_E_OK) {
    s.dead = true;
    return;
  }
  s.cipher_out.append(record.data(), b[0].cbBuffer + b[1].cbBuffer + b[2].cbBuffer);
}

void TlsFront::Impl::QueueCloseNotify(Session& s) {
  if (s.closing_sent || !s.has_context) return;
  s.closing_sent = true;
  DWORD type = SCHANNEL_SHUTDOWN;
  SecBuffer token{sizeof type, SECBUFFER_TOKEN, &type};
  SecBufferDesc token_desc{SECBUFFER_VERSION, 1, &token};
  if (ApplyControlToken(&s.context, &token_desc) != SEC_E_OK) return;
  SecBuffer out{0, SECBUFFER_TOKEN, nullptr};
  SecBufferDesc out_desc{SECBUFFER_VERSION, 1, &out};
  ULONG attributes = 0;
  AcceptSecurityContext(credential_->handle(), &s.context, nullptr, kContextFlags, 0, nullptr,
                        &out_desc, &attributes, nullptr);
  TakeToken(out, &s.cipher_out);
}

void TlsFront::Impl::Close(Session& s) {
  if (s.ready) {
    Ready ready = std::move(s.ready);
    s.ready = nullptr;
    ready(kNoTcpSocket);
  }
  if (s.has_context) DeleteSecurityContext(&s.context);
  s.has_context = false;
  CloseTcp(s.plain);
  // What the client sent last and was not read (its own close_notify)
  // would make the close a reset, which may cost it the reply's end.
  if (s.server_ended) SendFinalTcp(s.client, {});
  CloseTcp(s.client);
  s.plain = s.client = kNoTcpSocket;
}

std::unique_ptr<TlsFront> TlsFront::Open(const TlsCertificateSource& source, std::string* error) {
  std::unique_ptr<SchannelCredential> credential = SchannelCredential::Load(source, error);
  if (credential == nullptr) return nullptr;
  auto impl = std::make_unique<Impl>(std::move(credential));
  if (!impl->Start(error)) return nullptr;
  return std::unique_ptr<TlsFront>(new TlsFront(std::move(impl)));
}

TlsFront::TlsFront(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

TlsFront::~TlsFront() { Stop(); }

void TlsFront::Add(TcpSocket connection, std::chrono::steady_clock::time_point handshake_deadline,
                   Ready ready) {
  impl_->Add(connection, handshake_deadline, std::move(ready));
}

void TlsFront::Stop() { impl_->Stop(); }

}  // namespace quarrin
