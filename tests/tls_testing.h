// Certificates for TLS tests, made with the openssl program: a test
// certificate authority, a server certificate it signed for 127.0.0.1 and
// localhost, and a self-signed one for the same names that nobody trusts.
#ifndef QUARRIN_TESTS_TLS_TESTING_H_
#define QUARRIN_TESTS_TLS_TESTING_H_

#include <stdexcept>
#include <string>
#include <vector>

#include "tests/test_support.h"

namespace quarrin::testing {

class TestCertificates {
 public:
  // Writes the files into `folder`, which must exist.
  explicit TestCertificates(const std::string& folder) : folder_(folder) {
    WriteFileText(Path("server.ext"), "subjectAltName=IP:127.0.0.1,DNS:localhost\n");
    Run({"req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256", "-nodes",
         "-keyout", Path("ca.key"), "-out", ca_file(), "-days", "2", "-subj", "/CN=Quarrin Test CA",
         "-addext", "basicConstraints=critical,CA:TRUE", "-addext",
         "keyUsage=critical,keyCertSign,cRLSign"});
    Run({"req", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256", "-nodes", "-keyout",
         server_key(), "-out", Path("server.csr"), "-subj", "/CN=localhost"});
    Run({"x509", "-req", "-in", Path("server.csr"), "-CA", ca_file(), "-CAkey", Path("ca.key"),
         "-CAcreateserial", "-out", server_certificate(), "-days", "2", "-extfile",
         Path("server.ext")});
    Run({"req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256", "-nodes",
         "-keyout", untrusted_key(), "-out", untrusted_certificate(), "-days", "2", "-subj",
         "/CN=localhost", "-addext", "subjectAltName=IP:127.0.0.1,DNS:localhost"});
  }

  // PEM files.
  std::string ca_file() const { return Path("ca.crt"); }
  std::string server_certificate() const { return Path("server.crt"); }
  std::string server_key() const { return Path("server.key"); }
  std::string untrusted_certificate() const { return Path("untrusted.crt"); }
  std::string untrusted_key() const { return Path("untrusted.key"); }

 private:
  std::string Path(const std::string& name) const { return folder_ + "/" + name; }

  static void Run(std::vector<std::string> args) {
    args.insert(args.begin(), "openssl");
    CommandResult r = RunCommand(args);
    if (r.exit_status != 0) {
      throw std::runtime_error("openssl failed (is it installed? scripts/install-deps.sh): " +
                               r.err);
    }
  }

  std::string folder_;
};

}  // namespace quarrin::testing

#endif  // QUARRIN_TESTS_TLS_TESTING_H_
