#include "core/deployment.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "core/registry.h"
#include "platform/registry/scratch_registry_double.h"
#include "tests/test_support.h"

namespace quarrin {
namespace {

constexpr char kKey[] = "SOFTWARE\\TARN\\QuarrinSrvc\\Deployment";

class DeploymentTest : public ::testing::Test {
 protected:
  void Set(const char* name, const RegValue& value) {
    ASSERT_TRUE(store_->CreateKey(RootKey::kLocalMachine, kKey));
    ASSERT_TRUE(store_->SetValue(RootKey::kLocalMachine, kKey, name, value));
  }

  testing::TempDir dir_;
  std::unique_ptr<RegistryStore> store_ = OpenScratchRegistryStore(dir_.path());
};

TEST_F(DeploymentTest, MissingKeyGivesTheBuildDefaultsAndCreatesNothing) {
  DeploymentSettings s = ReadDeploymentSettings(*store_);
  EXPECT_EQ(s.manifest_url, QUARRIN_DEFAULT_MANIFEST_URL);
  EXPECT_EQ(s.default_download_url, QUARRIN_DEFAULT_DOWNLOAD_URL);
  EXPECT_EQ(s.inventory_url, QUARRIN_DEFAULT_INVENTORY_URL);
  EXPECT_EQ(s.lookup_ping_host, QUARRIN_DEFAULT_LOOKUP_PING_HOST);
  EXPECT_EQ(s.lookup_web_host, QUARRIN_DEFAULT_LOOKUP_WEB_HOST);
  EXPECT_EQ(s.lookup_domain_suffix, QUARRIN_DEFAULT_LOOKUP_DOMAIN_SUFFIX);
  EXPECT_EQ(s.http_port, 88);
  EXPECT_EQ(s.syslog_port, 514);
  EXPECT_EQ(s.http_address, "");
  EXPECT_EQ(s.allowed_clients, "");
  EXPECT_EQ(s.update_public_key, QUARRIN_DEFAULT_UPDATE_PUBLIC_KEY);
  EXPECT_FALSE(store_->KeyExists(RootKey::kLocalMachine, "SOFTWARE\\TARN"));
}

TEST_F(DeploymentTest, ValuesOverrideDefaultsAndEmptyValuesDoNot) {
  Set("ManifestURL", EncodeString("http://127.0.0.1:8080/downloads/QuarrinSrvc.xml"));
  Set("defaultdownloadurl", EncodeString("http://127.0.0.1:8080/Downloads"));
  Set("InventoryURL", EncodeString("http://inventory.example/soap"));
  Set("LookupPingHost", EncodeString(""));
  Set("LookupWebHost", EncodeString("desk.example:8081"));
  Set("LookupDomainSuffix", EncodeString(".example"));
  Set("HTTPPort", EncodeString("8088"));
  Set("SyslogPort", EncodeString(""));
  Set("HTTPAddress", EncodeString("127.0.0.1"));
  Set("AllowedClients", EncodeString("10.0.0.0/8, ::1"));
  Set("AllowedReaders", EncodeString("192.168.0.0/16"));
  Set("HTTPCertificateFile", EncodeString("/etc/quarrin/agent.crt"));
  Set("HTTPKeyFile", EncodeString("/etc/quarrin/agent.key"));
  Set("HTTPCertificateThumbprint", EncodeString("3b 1f 0c"));
  Set("HTTPPfxFile", EncodeString("C:\\agent.pfx"));
  Set("HTTPPfxPassword", EncodeString("secret"));
  Set("UpdatePublicKey", EncodeString("RWQ+xuHrHpcTYhh35zS7gRCF9dpYec6oSx+ZDhutLgSHztsOXZmUjKIM"));

  DeploymentSettings s = ReadDeploymentSettings(*store_);
  EXPECT_EQ(s.manifest_url, "http://127.0.0.1:8080/downloads/QuarrinSrvc.xml");
  EXPECT_EQ(s.default_download_url, "http://127.0.0.1:8080/Downloads");
  EXPECT_EQ(s.inventory_url, "http://inventory.example/soap");
  EXPECT_EQ(s.lookup_ping_host, QUARRIN_DEFAULT_LOOKUP_PING_HOST);
  EXPECT_EQ(s.lookup_web_host, "desk.example:8081");
  EXPECT_EQ(s.lookup_domain_suffix, ".example");
  EXPECT_EQ(s.http_port, 8088);
  EXPECT_EQ(s.syslog_port, 514);
  EXPECT_EQ(s.http_address, "127.0.0.1");
  EXPECT_EQ(s.allowed_clients, "10.0.0.0/8, ::1");
  EXPECT_EQ(s.allowed_readers, "192.168.0.0/16");
  EXPECT_EQ(s.http_certificate_file, "/etc/quarrin/agent.crt");
  EXPECT_EQ(s.http_key_file, "/etc/quarrin/agent.key");
  EXPECT_EQ(s.http_certificate_thumbprint, "3b 1f 0c");
  EXPECT_EQ(s.http_pfx_file, "C:\\agent.pfx");
  EXPECT_EQ(s.http_pfx_password, "secret");
  EXPECT_EQ(s.update_public_key, "RWQ+xuHrHpcTYhh35zS7gRCF9dpYec6oSx+ZDhutLgSHztsOXZmUjKIM");
  EXPECT_EQ(ReadUpdatePublicKey(*store_), s.update_public_key);
  // Alone, it is read even when another value is unusable.
  Set("HTTPPort", EncodeString("not a port"));
  EXPECT_EQ(ReadUpdatePublicKey(*store_), s.update_public_key);
}

TEST_F(DeploymentTest, PortsMustBeNumbersFrom1To65535) {
  struct {
    const char* text;
    int port;  // 0: rejected
  } cases[] = {
      {"1", 1},     {"65535", 65535}, {" 5514 ", 5514}, {"00514", 514}, {"0", 0},
      {"65536", 0}, {"-1", 0},        {"+88", 0},       {"88a", 0},     {"abc", 0},
      {"8 8", 0},   {"999999999999", 0}, {"0x58", 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    Set("SyslogPort", EncodeString(c.text));
    if (c.port != 0) {
      EXPECT_EQ(ReadDeploymentSettings(*store_).syslog_port, c.port);
      continue;
    }
    try {
      ReadDeploymentSettings(*store_);
      ADD_FAILURE() << "accepted";
    } catch (const DeploymentError& e) {
      EXPECT_EQ(std::string(e.what()),
                std::string("Deployment value 'SyslogPort' is not a port number from 1 to 65535: '") +
                    c.text + "'");
    }
  }
}

TEST_F(DeploymentTest, ValueOfAnotherTypeIsAnError) {
  Set("HTTPPort", EncodeDword(8088));
  try {
    ReadDeploymentSettings(*store_);
    FAIL() << "accepted";
  } catch (const RegistryError& e) {
    EXPECT_STREQ(e.what(), "Invalid data type for 'HTTPPort'");
  }
}

}  // namespace
}  // namespace quarrin
