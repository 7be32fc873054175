// Linux serves HTTPS inside libmicrohttpd (GnuTLS) from PEM files; it has no
// certificate store and no front.
#include "platform/net/tls_front.h"

namespace quarrin {

class TlsFront::Impl {};

std::unique_ptr<TlsFront> TlsFront::Open(const TlsCertificateSource& /*source*/,
                                         std::string* error) {
  if (error) {
    *error = "a certificate from the machine's store or a PFX file is served on Windows only";
  }
  return nullptr;
}

TlsFront::TlsFront(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

TlsFront::~TlsFront() = default;

void TlsFront::Add(TcpSocket connection, std::chrono::steady_clock::time_point /*deadline*/,
                   Ready ready) {
  CloseTcp(connection);
  ready(kNoTcpSocket);
}

void TlsFront::Stop() {}

}  // namespace quarrin
