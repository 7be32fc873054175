#include "platform/net/schannel_credential_windows.h"

#include <ncrypt.h>
#include <schannel.h>

#include <cerrno>
#include <cstdio>

#include "platform/files/file_io.h"
#include "platform/text/wide_text_windows.h"

namespace quarrin {

namespace {

// A PFX file larger than this is no certificate file.
constexpr size_t kPfxLimit = 1u << 20;

std::string Hex(uint32_t status) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08lX", static_cast<unsigned long>(status));
  return text;
}

// "0x8009030E (No credentials are available in the security package)".
std::string StatusText(uint32_t status) {
  return Hex(status) + " (" + SystemErrorText(status) + ")";
}

bool HasPrivateKey(PCCERT_CONTEXT certificate) {
  DWORD size = 0;
  for (DWORD property : {CERT_KEY_PROV_INFO_PROP_ID, CERT_KEY_CONTEXT_PROP_ID,
                         CERT_NCRYPT_KEY_HANDLE_PROP_ID}) {
    if (CertGetCertificateContextProperty(certificate, property, nullptr, &size)) return true;
  }
  return false;
}

// The key that a PFX import stored in a key container, deleted: the file
// stays the one place that holds it.
void DeleteStoredKey(PCCERT_CONTEXT certificate) {
  DWORD size = 0;
  if (!CertGetCertificateContextProperty(certificate, CERT_KEY_PROV_INFO_PROP_ID, nullptr,
                                         &size)) {
    return;
  }
  std::vector<unsigned char> bytes(size);
  auto* info = reinterpret_cast<CRYPT_KEY_PROV_INFO*>(bytes.data());
  if (!CertGetCertificateContextProperty(certificate, CERT_KEY_PROV_INFO_PROP_ID, info, &size)) {
    return;
  }
  if (info->dwProvType == 0) {
    // A key of a CNG storage provider.
    NCRYPT_PROV_HANDLE provider = 0;
    if (NCryptOpenStorageProvider(&provider, info->pwszProvName, 0) != ERROR_SUCCESS) return;
    NCRYPT_KEY_HANDLE key = 0;
    if (NCryptOpenKey(provider, &key, info->pwszContainerName, 0,
                      info->dwFlags & NCRYPT_MACHINE_KEY_FLAG) == ERROR_SUCCESS) {
      NCryptDeleteKey(key, 0);  // frees the handle too
    }
    NCryptFreeObject(provider);
    return;
  }
  HCRYPTPROV provider = 0;
  CryptAcquireContextW(&provider, info->pwszContainerName, info->pwszProvName, info->dwProvType,
                       CRYPT_DELETEKEYSET | (info->dwFlags & CRYPT_MACHINE_KEYSET));
}

}  // namespace

std::optional<std::vector<unsigned char>> ParseThumbprint(std::string_view text) {
  std::string digits;
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == ' ' || c == ':' || c == '\t') continue;
    if (text.substr(i, 3) == "\xE2\x80\x8E") {  // U+200E
      i += 2;
      continue;
    }
    digits += c;
  }
  if (digits.size() != 40) return std::nullopt;
  std::vector<unsigned char> bytes;
  for (size_t i = 0; i < digits.size(); i += 2) {
    unsigned value = 0;
    for (char c : digits.substr(i, 2)) {
      value <<= 4;
      if (c >= '0' && c <= '9') {
        value |= static_cast<unsigned>(c - '0');
      } else if ((c | 0x20) >= 'a' && (c | 0x20) <= 'f') {
        value |= static_cast<unsigned>((c | 0x20) - 'a' + 10);
      } else {
        return std::nullopt;
      }
    }
    bytes.push_back(static_cast<unsigned char>(value));
  }
  return bytes;
}

std::unique_ptr<SchannelCredential> SchannelCredential::Load(const TlsCertificateSource& source,
                                                             std::string* error) {
  auto fail = [&](const std::string& why) {
    if (error) *error = why;
    return nullptr;
  };
  std::unique_ptr<SchannelCredential> credential(new SchannelCredential);
  std::string named;  // the certificate as the messages name it
  if (!source.thumbprint.empty()) {
    named = "the certificate with thumbprint " + source.thumbprint;
    const std::optional<std::vector<unsigned char>> hash = ParseThumbprint(source.thumbprint);
    if (!hash) return fail("certificate thumbprint '" + source.thumbprint +
                           "' is not 40 hexadecimal digits");
    credential->store_ =
        CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0,
                      CERT_SYSTEM_STORE_LOCAL_MACHINE | CERT_STORE_OPEN_EXISTING_FLAG |
                          CERT_STORE_READONLY_FLAG,
                      L"MY");
    const std::string not_there = "no certificate with thumbprint " + source.thumbprint +
                                  " in the machine's personal store (LocalMachine\\My)";
    if (credential->store_ == nullptr) {
      // A machine on which no certificate was ever added may not have the
      // store at all: it holds no certificate then.
      const DWORD e = GetLastError();
      if (e == ERROR_FILE_NOT_FOUND) return fail(not_there);
      return fail("the machine's personal certificate store (LocalMachine\\My) cannot be opened: " +
                  SystemErrorText(e));
    }
    CRYPT_HASH_BLOB blob{static_cast<DWORD>(hash->size()), const_cast<BYTE*>(hash->data())};
    credential->certificate_ =
        CertFindCertificateInStore(credential->store_, X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, 0,
                                   CERT_FIND_SHA1_HASH, &blob, nullptr);
    if (credential->certificate_ == nullptr) return fail(not_there);
  } else {
    named = "the certificate of PFX file '" + source.pfx_file + "'";
    std::string bytes;
    bool cut = false;
    if (const int e = ReadFileCapped(source.pfx_file, kPfxLimit, &bytes, &cut); e != 0) {
      return fail(ErrnoMessage("PFX file '" + source.pfx_file + "'", e));
    }
    CRYPT_DATA_BLOB blob{static_cast<DWORD>(bytes.size()),
                         reinterpret_cast<BYTE*>(bytes.data())};
    if (cut || !PFXIsPFXBlob(&blob)) {
      return fail("'" + source.pfx_file + "' is not a PFX (PKCS #12) file");
    }
    const std::wstring password = WideFromUtf8Lenient(source.pfx_password);
    // The key goes to a key container of the service's account, where
    // Schannel reads it; the destructor deletes it again.
    credential->store_ = PFXImportCertStore(&blob, password.c_str(), 0);
    if (credential->store_ == nullptr && password.empty()) {
      // A file made without a password has none rather than an empty one.
      credential->store_ = PFXImportCertStore(&blob, nullptr, 0);
    }
    if (credential->store_ == nullptr) {
      const DWORD e = GetLastError();
      // Wine's import gives no error code for a wrong password.
      if (e == ERROR_INVALID_PASSWORD || e == ERROR_SUCCESS) {
        return fail("PFX file '" + source.pfx_file + "': wrong password");
      }
      return fail("PFX file '" + source.pfx_file + "' cannot be opened: " + SystemErrorText(e));
    }
    for (PCCERT_CONTEXT c = nullptr;
         (c = CertEnumCertificatesInStore(credential->store_, c)) != nullptr;) {
      if (HasPrivateKey(c)) {
        credential->certificate_ = CertDuplicateCertificateContext(c);
        CertFreeCertificateContext(c);
        break;
      }
    }
    if (credential->certificate_ == nullptr) {
      return fail("PFX file '" + source.pfx_file + "' holds no certificate with its private key");
    }
    credential->imported_ = true;
  }
  if (!HasPrivateKey(credential->certificate_)) return fail(named + " has no private key");

  SCHANNEL_CRED settings{};
  settings.dwVersion = SCHANNEL_CRED_VERSION;
  settings.cCreds = 1;
  settings.paCred = &credential->certificate_;
  settings.grbitEnabledProtocols = SP_PROT_TLS1_2_SERVER;
  settings.dwFlags = SCH_USE_STRONG_CRYPTO;
  const SECURITY_STATUS status = AcquireCredentialsHandleW(
      nullptr, const_cast<wchar_t*>(UNISP_NAME_W), SECPKG_CRED_INBOUND, nullptr, &settings,
      nullptr, nullptr, &credential->handle_, nullptr);
  if (status != SEC_E_OK) {
    return fail("Schannel cannot serve " + named + " (is its private key readable by the " +
                "service, and of a kind Schannel takes?): " +
                StatusText(static_cast<uint32_t>(status)));
  }
  credential->acquired_ = true;
  return credential;
}

SchannelCredential::~SchannelCredential() {
  if (acquired_) FreeCredentialsHandle(&handle_);
  if (certificate_ != nullptr) {
    if (imported_) DeleteStoredKey(certificate_);
    CertFreeCertificateContext(certificate_);
  }
  if (store_ != nullptr) CertCloseStore(store_, 0);
}

}  // namespace quarrin
