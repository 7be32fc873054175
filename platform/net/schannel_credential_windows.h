// The server certificate of the TLS front as Schannel takes it: found in
// the machine's personal store by thumbprint, or imported from a PFX file,
// with the credentials acquired for it.
#ifndef QUARRIN_PLATFORM_NET_SCHANNEL_CREDENTIAL_WINDOWS_H_
#define QUARRIN_PLATFORM_NET_SCHANNEL_CREDENTIAL_WINDOWS_H_

#define SECURITY_WIN32
#include <windows.h>
#include <security.h>
#include <wincrypt.h>

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/net/tls_front.h"

namespace quarrin {

// The 20 bytes a thumbprint names; nullopt when it is not 40 hexadecimal
// digits once blanks, colons and the invisible left-to-right mark that the
// certificate dialog puts in front of a copied thumbprint are left out.
std::optional<std::vector<unsigned char>> ParseThumbprint(std::string_view text);

class SchannelCredential {
 public:
  // Null with the reason in *error: no such certificate, a PFX file that
  // cannot be read or opened (a wrong password), a certificate without its
  // private key, or one that Schannel refuses.
  static std::unique_ptr<SchannelCredential> Load(const TlsCertificateSource& source,
                                                  std::string* error);
  // Frees the credentials; a key that the PFX import stored is deleted.
  ~SchannelCredential();
  SchannelCredential(const SchannelCredential&) = delete;
  SchannelCredential& operator=(const SchannelCredential&) = delete;

  CredHandle* handle() { return &handle_; }

 private:
  SchannelCredential() = default;

  HCERTSTORE store_ = nullptr;
  PCCERT_CONTEXT certificate_ = nullptr;
  bool imported_ = false;  // its key was stored by the PFX import
  CredHandle handle_{};
  bool acquired_ = false;
};

}  // namespace quarrin

#endif  // QUARRIN_PLATFORM_NET_SCHANNEL_CREDENTIAL_WINDOWS_H_
