// The agent's HTTP server with HTTPS on Schannel, for the tests that reach
// it from Linux (https_windows_test.py). Every request is answered 200 with
// "<client address> <path>". Runs until its standard input ends.
//
//   https_test_server --pfx FILE [--password TEXT] | --thumbprint HEX
//                     [--head-timeout-ms N] [--per-client-limit N]
//       prints "port N" once listening, or "error: ..." and exits 2
//   https_test_server --add-to-store FILE PASSWORD
//       puts the certificate of the PFX file, with its key, into the
//       machine's personal store and prints its thumbprint
//   https_test_server --probe FILE PASSWORD
//       prints "status 0x...": what Schannel's AcceptSecurityContext answers
//       to the start of a client hello with the PFX file's certificate (a
//       Schannel without a server side answers SEC_E_UNSUPPORTED_FUNCTION,
//       0x80090302)
#define SECURITY_WIN32
#include <windows.h>
#include <wincrypt.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "http/http_server.h"
#include "platform/net/schannel_credential_windows.h"
#include "platform/text/wide_text_windows.h"

namespace {

using quarrin::HttpServer;
using quarrin::HttpServerOptions;
using quarrin::HttpServerReply;
using quarrin::HttpServerRequest;

int AddToStore(const std::string& file, const std::string& password) {
  std::string bytes;
  if (FILE* in = std::fopen(file.c_str(), "rb")) {
    char chunk[4096];
    for (size_t n; (n = std::fread(chunk, 1, sizeof chunk, in)) > 0;) bytes.append(chunk, n);
    std::fclose(in);
  }
  CRYPT_DATA_BLOB blob{static_cast<DWORD>(bytes.size()), reinterpret_cast<BYTE*>(bytes.data())};
  const std::wstring wide = quarrin::WideFromUtf8Lenient(password);
  HCERTSTORE pfx = PFXImportCertStore(&blob, wide.c_str(), 0);
  if (pfx == nullptr) {
    std::printf("error: PFXImportCertStore: %s\n",
                quarrin::SystemErrorText(GetLastError()).c_str());
    return 2;
  }
  HCERTSTORE my = CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0,
                                CERT_SYSTEM_STORE_LOCAL_MACHINE, L"MY");
  if (my == nullptr) {
    std::printf("error: CertOpenStore: %s\n", quarrin::SystemErrorText(GetLastError()).c_str());
    return 2;
  }
  for (PCCERT_CONTEXT c = nullptr; (c = CertEnumCertificatesInStore(pfx, c)) != nullptr;) {
    DWORD size = 0;
    if (!CertGetCertificateContextProperty(c, CERT_KEY_PROV_INFO_PROP_ID, nullptr, &size)) {
      continue;
    }
    if (!CertAddCertificateContextToStore(my, c, CERT_STORE_ADD_REPLACE_EXISTING, nullptr)) {
      std::printf("error: CertAddCertificateContextToStore: %s\n",
                  quarrin::SystemErrorText(GetLastError()).c_str());
      return 2;
    }
    BYTE hash[20];
    size = sizeof hash;
    CertGetCertificateContextProperty(c, CERT_SHA1_HASH_PROP_ID, hash, &size);
    for (BYTE b : hash) std::printf("%02X", b);
    std::printf("\n");
    // The system store is written when it is closed.
    CertCloseStore(my, 0);
    return 0;
  }
  std::printf("error: no certificate with a key in %s\n", file.c_str());
  return 2;
}

int Probe(const std::string& file, const std::string& password) {
  std::string error;
  std::unique_ptr<quarrin::SchannelCredential> credential =
      quarrin::SchannelCredential::Load({"", file, password}, &error);
  if (credential == nullptr) {
    std::printf("error: %s\n", error.c_str());
    return 2;
  }
  char hello[] = "\x16\x03\x01\x00\x40\x01\x00\x00\x3c\x03\x03";
  SecBuffer in[2] = {{sizeof hello - 1, SECBUFFER_TOKEN, hello}, {0, SECBUFFER_EMPTY, nullptr}};
  SecBufferDesc in_desc{SECBUFFER_VERSION, 2, in};
  SecBuffer out{0, SECBUFFER_TOKEN, nullptr};
  SecBufferDesc out_desc{SECBUFFER_VERSION, 1, &out};
  CtxtHandle context{};
  ULONG attributes = 0;
  const SECURITY_STATUS status = AcceptSecurityContext(
      credential->handle(), nullptr, &in_desc, ASC_REQ_ALLOCATE_MEMORY | ASC_REQ_STREAM, 0,
      &context, &out_desc, &attributes, nullptr);
  std::printf("status 0x%08lX\n", static_cast<unsigned long>(status));
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  HttpServerOptions options;
  options.address = "127.0.0.1";
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    auto next = [&]() -> std::string { return i + 1 < argc ? argv[++i] : ""; };
    if (arg == "--add-to-store" && i + 2 < argc) return AddToStore(argv[i + 1], argv[i + 2]);
    if (arg == "--probe" && i + 2 < argc) return Probe(argv[i + 1], argv[i + 2]);
    if (arg == "--pfx") {
      options.tls_certificate.pfx_file = next();
    } else if (arg == "--password") {
      options.tls_certificate.pfx_password = next();
    } else if (arg == "--thumbprint") {
      options.tls_certificate.thumbprint = next();
    } else if (arg == "--head-timeout-ms") {
      options.head_timeout = std::chrono::milliseconds(std::atoi(next().c_str()));
    } else if (arg == "--per-client-limit") {
      options.per_client_limit = static_cast<unsigned>(std::atoi(next().c_str()));
    } else {
      std::printf("error: unknown argument %s\n", arg.c_str());
      return 2;
    }
  }
  HttpServer server([](const HttpServerRequest& request, HttpServerReply& reply) {
    reply.content_type = "text/plain";
    reply.body = request.RemoteIP + " " + request.Path;
  });
  std::string error;
  if (!server.Start(options, &error)) {
    std::printf("error: %s\n", error.c_str());
    return 2;
  }
  std::printf("port %u\n", server.port());
  std::fflush(stdout);
  char chunk[256];
  while (std::fread(chunk, 1, sizeof chunk, stdin) > 0) {
  }
  server.Stop();
  return 0;
}
