#include "core/deployment.h"

#include "core/registry.h"

namespace quarrin {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

}  // namespace

uint16_t ParsePortSetting(const std::string& value_name, const std::string& text) {
  size_t begin = 0, end = text.size();
  while (begin < end && IsBlank(text[begin])) ++begin;
  while (end > begin && IsBlank(text[end - 1])) --end;
  uint32_t port = 0;
  bool valid = begin < end && end - begin <= 5;
  for (size_t i = begin; valid && i < end; ++i) {
    valid = text[i] >= '0' && text[i] <= '9';
    port = port * 10 + static_cast<uint32_t>(text[i] - '0');
  }
  if (!valid || port < 1 || port > 65535) {
    throw DeploymentError("Deployment value '" + value_name + "' is not a port number from 1 to "
                          "65535: '" + text + "'");
  }
  return static_cast<uint16_t>(port);
}

std::string ReadUpdatePublicKey(RegistryStore& store) {
  Registry registry(store, kAccessRead);
  registry.SetRootKey(RootKey::kLocalMachine);
  std::string key;
  if (registry.OpenKeyReadOnly(kDeploymentKey)) key = registry.ReadString("UpdatePublicKey");
  return key.empty() ? DeploymentSettings().update_public_key : key;
}

DeploymentSettings ReadDeploymentSettings(RegistryStore& store) {
  DeploymentSettings settings;
  Registry registry(store, kAccessRead);
  registry.SetRootKey(RootKey::kLocalMachine);
  if (!registry.OpenKeyReadOnly(kDeploymentKey)) return settings;

  auto text = [&](const char* name, std::string* field) {
    std::string value = registry.ReadString(name);
    if (!value.empty()) *field = value;
  };
  auto port = [&](const char* name, uint16_t* field) {
    std::string value = registry.ReadString(name);
    if (!value.empty()) *field = ParsePortSetting(name, value);
  };
  text("ManifestURL", &settings.manifest_url);
  text("DefaultDownloadURL", &settings.default_download_url);
  text("InventoryURL", &settings.inventory_url);
  text("LookupPingHost", &settings.lookup_ping_host);
  text("LookupWebHost", &settings.lookup_web_host);
  text("LookupDomainSuffix", &settings.lookup_domain_suffix);
  port("HTTPPort", &settings.http_port);
  port("SyslogPort", &settings.syslog_port);
  text("HTTPAddress", &settings.http_address);
  text("AllowedClients", &settings.allowed_clients);
  text("AllowedReaders", &settings.allowed_readers);
  text("HTTPCertificateFile", &settings.http_certificate_file);
  text("HTTPKeyFile", &settings.http_key_file);
  text("HTTPCertificateThumbprint", &settings.http_certificate_thumbprint);
  text("HTTPPfxFile", &settings.http_pfx_file);
  text("HTTPPfxPassword", &settings.http_pfx_password);
  text("UpdatePublicKey", &settings.update_public_key);
  registry.CloseKey();
  return settings;
}

}  // namespace quarrin
