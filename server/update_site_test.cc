#include "server/update_site.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "server/rollout_guard.h"
#include "update/manifest.h"
#include "update/signing_testing.h"
#include "tests/test_support.h"

namespace quarrin {
namespace {

class UpdateSiteTest : public ::testing::Test {
 protected:
  UpdateSiteTest() : key_(dir_.path(), "maker"), other_(dir_.path(), "other") {
    std::filesystem::create_directories(dir_ / "v100");
    std::filesystem::create_directories(dir_ / "v101");
    std::filesystem::copy_file(testing::BuiltExecutable("QuarrinSrvc"), dir_ / "v100/QuarrinSrvc");
    std::filesystem::copy_file(testing::BuiltExecutable("next/QuarrinSrvc"),
                               dir_ / "v101/QuarrinSrvc");
    key_.Sign(dir_ / "v100/QuarrinSrvc");
    key_.Sign(dir_ / "v101/QuarrinSrvc");
  }

  UpdateSite Site(const std::string& update_key) {
    return UpdateSite({dir_ / "downloads", {"pilot"}, update_key, "ON", "collector.example"});
  }

  static HttpServerReply Get(const UpdateSite& site, const std::string& path) {
    HttpServerRequest request;
    request.Command = "GET";
    request.Path = path;
    HttpServerReply reply;
    site.Handle(request, reply);
    return reply;
  }

  testing::TempDir dir_;
  testing::MinisignKeyPair key_;
  testing::MinisignKeyPair other_;
};

TEST_F(UpdateSiteTest, PublishesOnlyASignedNewerBuild) {
  const std::string build = dir_ / "v100/QuarrinSrvc";
  const std::string signature = build + ".minisig";
  struct Case {
    std::string key, file, signature, error;
  } refused[] = {
      {"", build, signature, "no update_key in the settings"},
      {other_.public_key_line(), build, signature, build + ": the signature " + signature + " does not verify"},
      {key_.public_key_line(), build, dir_ / "absent.minisig", dir_ / "absent.minisig"},
  };
  for (const Case& c : refused) {
    SCOPED_TRACE(c.error);
    try {
      Site(c.key).Publish(c.file, c.signature);
      ADD_FAILURE() << "published";
    } catch (const UpdateSiteError& e) {
      EXPECT_EQ(std::string(e.what()).rfind(c.error, 0), 0u) << e.what();
    }
  }
  // A signed file without a version resource.
  testing::WriteFileText(dir_ / "notes.txt", "not a program");
  key_.Sign(dir_ / "notes.txt");
  EXPECT_THROW(Site(key_.public_key_line()).Publish(dir_ / "notes.txt", dir_ / "notes.txt.minisig"),
               UpdateSiteError);
  EXPECT_FALSE(std::filesystem::exists(dir_ / "downloads/builds/1.0.0.0"));

  UpdateSite site = Site(key_.public_key_line());
  EXPECT_EQ(site.Publish(dir_ / "v101/QuarrinSrvc", dir_ / "v101/QuarrinSrvc.minisig"), "1.0.0.1");
  try {
    site.Publish(build, signature);
    ADD_FAILURE() << "an older build was published";
  } catch (const UpdateSiteError& e) {
    EXPECT_NE(std::string(e.what()).find("version 1.0.0.0 is not newer than the published 1.0.0.1"),
              std::string::npos)
        << e.what();
  }
  EXPECT_THROW(site.Publish(dir_ / "v101/QuarrinSrvc", dir_ / "v101/QuarrinSrvc.minisig"),
               UpdateSiteError);
}

TEST_F(UpdateSiteTest, ARingServesItsBuildUntilTheNextIsPromoted) {
  UpdateSite site = Site(key_.public_key_line());
  site.Publish(dir_ / "v100/QuarrinSrvc", dir_ / "v100/QuarrinSrvc.minisig");
  site.Promote("1.0.0.0", "main");
  site.Publish(dir_ / "v101/QuarrinSrvc", dir_ / "v101/QuarrinSrvc.minisig");
  EXPECT_EQ(site.RingVersion("pilot"), "1.0.0.1");
  EXPECT_EQ(site.RingVersion("main"), "1.0.0.0");

  // The agent's own reading of each ring's manifest, running 1.0.0.0.
  tFileVersion running;
  running.Major = 1;
  running.Text = "1.0.0.0";
  tFileUpdate pilot, main;
  ParseManifestVersion(Get(site, "/downloads/pilot/QuarrinSrvc.xml").body, "VersionInfo", running, &pilot);
  ParseManifestVersion(Get(site, "/downloads/QuarrinSrvc.xml").body, "VersionInfo", running, &main);
  EXPECT_TRUE(pilot.UpdateAvailable);
  EXPECT_EQ(pilot.Text, "1.0.0.1");
  EXPECT_FALSE(main.UpdateAvailable);
  EXPECT_EQ(ParseManifestValue(Get(site, "/downloads/QuarrinSrvc.xml").body, "Syslog"),
            "collector.example");
  EXPECT_EQ(ParseManifestValue(Get(site, "/downloads/QuarrinSrvc.xml").body, "Debug"), "ON");

  const HttpServerReply file = Get(site, "/downloads/pilot/QuarrinSrvc");
  EXPECT_EQ(file.status, 200u);
  EXPECT_EQ(file.body, testing::ReadFileText(dir_ / "v101/QuarrinSrvc"));
  EXPECT_EQ(Get(site, "/downloads/pilot/QuarrinSrvc.minisig").body,
            testing::ReadFileText(dir_ / "v101/QuarrinSrvc.minisig"));
  EXPECT_EQ(Get(site, "/downloads/QuarrinSrvc").body, testing::ReadFileText(dir_ / "v100/QuarrinSrvc"));
  EXPECT_TRUE(UpdateSite::Serves("/Downloads/pilot/QuarrinSrvc"));
  EXPECT_EQ(Get(site, "/Downloads/pilot/QuarrinSrvc").body, file.body);
  for (const char* missing : {"/downloads/beta/QuarrinSrvc.xml", "/downloads/main/QuarrinSrvc.xml",
                              "/downloads/pilot/other", "/downloads/pilot/../rings/main"}) {
    SCOPED_TRACE(missing);
    EXPECT_EQ(Get(site, missing).status, 404u);
  }

  site.Promote("1.0.0.1", "main");
  tFileUpdate promoted;
  ParseManifestVersion(Get(site, "/downloads/QuarrinSrvc.xml").body, "VersionInfo", running, &promoted);
  EXPECT_TRUE(promoted.UpdateAvailable);
  EXPECT_TRUE(std::filesystem::exists(dir_ / "downloads/builds/1.0.0.0/QuarrinSrvc"));  // kept
  EXPECT_THROW(site.Promote("9.9.9.9", "main"), UpdateSiteError);
  EXPECT_THROW(site.Promote("1.0.0.1", "beta"), UpdateSiteError);
}

TEST_F(UpdateSiteTest, AHaltedRingOffersItsPreviousBuildUntilResumed) {
  UpdateSite site = Site(key_.public_key_line());
  EXPECT_THROW(site.Halt("pilot", "no build yet"), UpdateSiteError);
  site.Publish(dir_ / "v100/QuarrinSrvc", dir_ / "v100/QuarrinSrvc.minisig");
  site.Publish(dir_ / "v101/QuarrinSrvc", dir_ / "v101/QuarrinSrvc.minisig");
  const std::optional<RingRollout> rollout = site.Rollout("pilot");
  ASSERT_TRUE(rollout);
  EXPECT_EQ(rollout->version, "1.0.0.1");
  EXPECT_EQ(rollout->previous, "1.0.0.0");
  EXPECT_GT(rollout->started, 1700000000);
  EXPECT_FALSE(site.Rollout("main"));

  site.Halt("pilot", "3 of the 4 machines\nare in trouble");
  tFileVersion running;
  running.Major = 1;
  running.Text = "1.0.0.0";
  tFileUpdate offered;
  ParseManifestVersion(Get(site, "/downloads/pilot/QuarrinSrvc.xml").body, "VersionInfo", running,
                       &offered);
  EXPECT_FALSE(offered.UpdateAvailable);
  EXPECT_EQ(offered.Text, "1.0.0.0");
  EXPECT_EQ(Get(site, "/downloads/pilot/QuarrinSrvc").body,
            testing::ReadFileText(dir_ / "v100/QuarrinSrvc"));
  EXPECT_EQ(RolloutStateText(site, "pilot"),
            "halted: 1.0.0.1 is held back and the ring offers 1.0.0.0; 3 of the 4 machines are in "
            "trouble");
  EXPECT_EQ(RolloutStateText(site, "main"), "no build");

  site.Resume("pilot");
  EXPECT_FALSE(site.Halted("pilot"));
  EXPECT_TRUE(site.Resumed("pilot"));
  EXPECT_EQ(RolloutStateText(site, "pilot"), "serving 1.0.0.1 (resumed by an administrator)");
  ParseManifestVersion(Get(site, "/downloads/pilot/QuarrinSrvc.xml").body, "VersionInfo", running,
                       &offered);
  EXPECT_TRUE(offered.UpdateAvailable);
  EXPECT_THROW(site.Resume("pilot"), UpdateSiteError);
  EXPECT_THROW(site.Resume("beta"), UpdateSiteError);

  // A halt holds back one build: another promoted over it is offered.
  site.Halt("pilot", "again");
  site.Promote("1.0.0.0", "pilot");
  EXPECT_FALSE(site.Halted("pilot"));
  EXPECT_EQ(site.ServedVersion("pilot"), "1.0.0.0");
}

}  // namespace
}  // namespace quarrin
