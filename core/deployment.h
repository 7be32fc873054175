// Deployment settings: the hosts and ports that differ between
// organisations. Each has a build-time default and may be overridden by a
// REG_SZ value of HKEY_LOCAL_MACHINE\SOFTWARE\TARN\QuarrinSrvc\Deployment.
#ifndef QUARRIN_CORE_DEPLOYMENT_H_
#define QUARRIN_CORE_DEPLOYMENT_H_

#include <cstdint>
#include <stdexcept>
#include <string>

#include "platform/registry/registry_store.h"

namespace quarrin {

inline constexpr char kDeploymentKey[] = "\\SOFTWARE\\TARN\\QuarrinSrvc\\Deployment";

struct DeploymentSettings {
  std::string manifest_url = QUARRIN_DEFAULT_MANIFEST_URL;          // "ManifestURL"
  std::string default_download_url = QUARRIN_DEFAULT_DOWNLOAD_URL;  // "DefaultDownloadURL"
  std::string inventory_url = QUARRIN_DEFAULT_INVENTORY_URL;        // "InventoryURL"
  std::string lookup_ping_host = QUARRIN_DEFAULT_LOOKUP_PING_HOST;  // "LookupPingHost"
  std::string lookup_web_host = QUARRIN_DEFAULT_LOOKUP_WEB_HOST;    // "LookupWebHost", may hold ":port"
  std::string lookup_domain_suffix = QUARRIN_DEFAULT_LOOKUP_DOMAIN_SUFFIX;  // "LookupDomainSuffix"
  uint16_t http_port = 88;     // "HTTPPort"
  uint16_t syslog_port = 514;  // "SyslogPort"

  // Who may reach the agent over HTTP; empty keeps it open to every client.
  std::string http_address;     // "HTTPAddress": the address to listen on; empty: all
  std::string allowed_clients;  // "AllowedClients": may use the commands that act
  std::string allowed_readers;  // "AllowedReaders": may use the read-only ones
  // "HTTPCertificateFile", "HTTPKeyFile": PEM files; both set: HTTPS on the port.
  std::string http_certificate_file;
  std::string http_key_file;
  // Windows, where the system's TLS serves it: "HTTPCertificateThumbprint",
  // a certificate of the machine's personal store (LocalMachine\My), or
  // "HTTPPfxFile" with "HTTPPfxPassword", a PKCS #12 file and its password.
  // One of them set: HTTPS on the port.
  std::string http_certificate_thumbprint;
  std::string http_pfx_file;
  std::string http_pfx_password;
  // "UpdatePublicKey": the minisign public key line that downloaded updates
  // must be signed with; empty: updates are not verified.
  std::string update_public_key = QUARRIN_DEFAULT_UPDATE_PUBLIC_KEY;
};

// A deployment value that cannot be used; the message names the value and
// what it holds.
class DeploymentError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The defaults with every value of the Deployment key that is present and
// not empty put in their place. Reads only: a missing key gives the
// defaults and nothing is created or written. Throws RegistryError
// "Invalid data type for '%s'" for a value that is not text, and
// DeploymentError for a port that is not a whole number from 1 to 65535.
DeploymentSettings ReadDeploymentSettings(RegistryStore& store);

// The update public key alone: the Deployment value "UpdatePublicKey" when
// present and not empty, else the key built in. Unlike
// ReadDeploymentSettings it does not fail on the other values.
std::string ReadUpdatePublicKey(RegistryStore& store);

// The port that text names: decimal digits, blanks around them allowed,
// 1 to 65535. Throws DeploymentError naming value_name and the text.
uint16_t ParsePortSetting(const std::string& value_name, const std::string& text);

}  // namespace quarrin

#endif  // QUARRIN_CORE_DEPLOYMENT_H_
