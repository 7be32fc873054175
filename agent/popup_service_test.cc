// The message popup of the real agent: installed in a temporary QUARRIN_ROOT
// and started by the built-in service manager with DISPLAY naming a private
// Xvfb, as an administrator would start it, then driven over HTTP and read
// back from the X server: which windows are mapped, their stacking order,
// their titles and properties, and their pixels.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "core/file_version.h"
#include "http/raw_http_client_testing.h"
#include "platform/eventlog/event_log.h"
#include "tests/test_support.h"
#include "tests/xvfb.h"

namespace quarrin {
namespace {

using namespace std::chrono_literals;
using testing::BuiltExecutable;
using testing::FreePort;
using testing::CommandResult;
using testing::MappedTopLevels;
using testing::OpenProbeDisplay;
using testing::MappedWindowsTitled;
using testing::Rgb;
using testing::RunCommand;
using testing::TextProperty;
using testing::WaitUntil;
using testing::WindowPixels;
using testing::XvfbServer;

class PopupServiceTest : public ::testing::Test {
 protected:
  static constexpr int kLeft = (XvfbServer::kWidth - 441) / 2;
  static constexpr int kTop = (XvfbServer::kHeight - 204) / 2;

  void SetUp() override {
    port_ = FreePort();
    env_ = {"QUARRIN_ROOT=" + root_.path(), "QUARRIN_LIVE_FACTS=0", "NOTIFY_SOCKET="};
    const std::string deployment = "HKLM\\SOFTWARE\\TARN\\QuarrinSrvc\\Deployment";
    Ctl({"reg", "set", deployment, "HTTPPort", "REG_SZ", std::to_string(port_)});
    Ctl({"reg", "set", deployment, "ManifestURL", "REG_SZ",
         "http://127.0.0.1:" + std::to_string(FreePort()) + "/downloads/QuarrinSrvc.xml"});
    // Without the live view the details collected at start-up need this.
    Ctl({"reg", "set", "HKLM\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion", "InstallDate",
         "REG_DWORD", "0"});
    CommandResult install = RunCommand({BuiltExecutable("QuarrinSrvc"), "-INSTALL", "-SILENT"}, env_);
    ASSERT_EQ(install.exit_status, 0) << install.err;
    version_ = GetFileVersion(BuiltExecutable("QuarrinSrvc")).Text;
  }

  void TearDown() override {
    // Never leave a service process behind.
    RunCommand({BuiltExecutable("quarrinctl"), "sc", "stop", "TARNQuarrinSrvc"}, env_);
    WaitForState("STOPPED", 10s);
    if (probe_) XCloseDisplay(probe_);
  }

  void Ctl(std::vector<std::string> args, std::vector<std::string> extra_env = {}) {
    args.insert(args.begin(), BuiltExecutable("quarrinctl"));
    std::vector<std::string> env = env_;
    env.insert(env.end(), extra_env.begin(), extra_env.end());
    CommandResult r = RunCommand(args, env);
    EXPECT_EQ(r.exit_status, 0) << r.err;
  }

  bool WaitForState(const std::string& state, std::chrono::milliseconds limit) {
    return WaitUntil(
        [&] {
          return RunCommand({BuiltExecutable("quarrinctl"), "sc", "query", "TARNQuarrinSrvc"}, env_)
                     .out == state + "\n";
        },
        limit);
  }

  std::string ServiceLog() {
    return testing::ReadFileText(root_.path() + "/var/lib/quarrin/TARNQuarrinSrvc.log");
  }

  // What an administrator does: the service inherits DISPLAY from the
  // command that starts it.
  void StartService(const std::string& display) {
    Ctl({"sc", "start", "TARNQuarrinSrvc"}, {"DISPLAY=" + display});
    ASSERT_TRUE(WaitUntil([&] { return testing::RawConnection(port_).valid(); }, 20s)) << ServiceLog();
  }

  void StartXvfb() {
    xvfb_ = std::make_unique<XvfbServer>();
    ASSERT_FALSE(xvfb_->display().empty()) << "Xvfb did not start";
    probe_ = OpenProbeDisplay(xvfb_->display());
    ASSERT_NE(probe_, nullptr);
  }

  // Sends the message command from `source` (a loopback address); the
  // HTTP status, or -1.
  int SendMessage(const std::string& source, const std::string& query) {
    CommandResult r =
        RunCommand({"curl", "-s", "-o", "/dev/null", "-w", "%{http_code}", "--max-time", "10",
                    "--interface", source,
                    "http://127.0.0.1:" + std::to_string(port_) + "/?msg=" + query});
    return r.exit_status == 0 ? std::atoi(r.out.c_str()) : -1;
  }

  std::vector<std::string> MessageEntries() {
    std::vector<std::string> out;
    auto events = OpenEventLog(root_.path() + "/var/lib/quarrin/eventlog.db")->Read("TARNQuarrinSrvc");
    for (const auto& e : events) {
      if (e.id == 100) out.push_back(e.text);
    }
    return out;
  }

  std::vector<Window> Popups() { return MappedWindowsTitled(probe_, "Quarrin " + version_); }

  testing::TempDir root_;
  std::vector<std::string> env_;
  uint16_t port_ = 0;
  std::string version_;
  std::unique_ptr<XvfbServer> xvfb_;
  Display* probe_ = nullptr;
};

TEST_F(PopupServiceTest, ShowsTheLatestMessageInFrontUntilOkIsPressed) {
  if (!testing::OnPath("Xvfb")) GTEST_SKIP() << "Xvfb is not installed";
  ASSERT_TRUE(testing::OnPath("xdotool")) << "scripts/install-deps.sh installs xdotool";
  StartXvfb();
  StartService(xvfb_->display());
  // Created hidden at start-up.
  std::this_thread::sleep_for(300ms);
  EXPECT_TRUE(MappedWindowsTitled(probe_, "Quarrin").empty());

  ASSERT_EQ(SendMessage("127.0.0.1", "First%20message"), 200);
  ASSERT_EQ(SendMessage("127.0.0.2", "Second%20one,%20a+b"), 200);
  // The message is the text the popup publishes last.
  const Window popup = testing::WaitForSoleWindow(
      probe_, "Quarrin", "_QUARRIN_POPUP_MESSAGE",
      [](const std::string& shown) { return shown == "Second one, a+b"; }, 10s);
  ASSERT_NE(popup, 0u) << ServiceLog();
  EXPECT_EQ(testing::WindowTitle(probe_, popup), "Quarrin " + version_);
  EXPECT_EQ(TextProperty(probe_, popup, "_QUARRIN_POPUP_FROM"), "127.0.0.2");
  EXPECT_EQ(MessageEntries(), (std::vector<std::string>{version_ + " Message: First message",
                                                        version_ + " Message: Second one, a+b"}));

  // Centred, with the client area of the layout.
  XWindowAttributes attributes;
  ASSERT_TRUE(XGetWindowAttributes(probe_, popup, &attributes));
  EXPECT_EQ(attributes.width, 441);
  EXPECT_EQ(attributes.height, 204);
  int x = 0, y = 0;
  Window child;
  XTranslateCoordinates(probe_, popup, DefaultRootWindow(probe_), 0, 0, &x, &y, &child);
  EXPECT_EQ(x, kLeft);
  EXPECT_EQ(y, kTop);

  {
    std::this_thread::sleep_for(300ms);  // drawn
    if (const char* path = std::getenv("QUARRIN_POPUP_SCREENSHOT")) {
      RunCommand({"import", "-display", xvfb_->display(), "-window", "root", path});
    }
    WindowPixels pixels(probe_, popup);
    ASSERT_TRUE(pixels.valid());
    const Rgb face{212, 208, 200};
    const Rgb white{255, 255, 255};
    EXPECT_EQ(pixels.At(2, 2), face);
    EXPECT_EQ(pixels.At(438, 200), face);
    // The message area: white from 8,44 to 432,168, face colour around it.
    for (auto [px, py] : {std::pair{432, 44}, {432, 168}, {8, 168}, {300, 100}}) {
      EXPECT_EQ(pixels.At(px, py), white) << px << "," << py;
    }
    for (auto [px, py] : {std::pair{7, 100}, {433, 100}, {200, 43}, {200, 169}}) {
      EXPECT_EQ(pixels.At(px, py), face) << px << "," << py;
    }
    EXPECT_GT(pixels.CountUnlike(8, 44, 425, 20, white), 50);  // the text's first line
    // Label1 and lblDateTime on the first row, Label2 and lblFrom on the
    // second: ink in each label's box, none in the gaps between them.
    EXPECT_GT(pixels.CountUnlike(8, 4, 55, 13, face), 40);
    EXPECT_EQ(pixels.CountUnlike(63, 4, 9, 13, face), 0);
    EXPECT_GT(pixels.CountUnlike(72, 4, 153, 13, face), 40);
    EXPECT_EQ(pixels.CountUnlike(225, 4, 216, 13, face), 0);
    EXPECT_EQ(pixels.CountUnlike(8, 17, 433, 7, face), 0);
    EXPECT_GT(pixels.CountUnlike(8, 24, 28, 13, face), 20);
    EXPECT_EQ(pixels.CountUnlike(36, 24, 36, 13, face), 0);
    EXPECT_GT(pixels.CountUnlike(72, 24, 261, 13, face), 30);
    EXPECT_EQ(pixels.CountUnlike(333, 24, 108, 13, face), 0);
    // spbOK: its frame on the rectangle 196,176 45x21, face colour outside.
    EXPECT_NE(pixels.At(196, 186), face);
    EXPECT_NE(pixels.At(240, 186), face);
    EXPECT_NE(pixels.At(218, 176), face);
    EXPECT_NE(pixels.At(218, 196), face);
    EXPECT_EQ(pixels.At(195, 186), face);
    EXPECT_EQ(pixels.At(241, 186), face);
    EXPECT_EQ(pixels.At(218, 175), face);
    EXPECT_EQ(pixels.At(218, 197), face);
    EXPECT_GT(pixels.CountUnlike(197, 177, 43, 19, face), 20);  // "OK"
  }

  // Another window brought to the front loses it again.
  {
    Display* other = OpenProbeDisplay(xvfb_->display());
    ASSERT_NE(other, nullptr);
    Window cover = XCreateSimpleWindow(other, DefaultRootWindow(other), 200, 200, 640, 400, 0, 0,
                                       0x336699);
    XMapRaised(other, cover);
    XSync(other, False);
    auto start = std::chrono::steady_clock::now();
    auto on_top = [&](Window w) {
      auto stack = MappedTopLevels(probe_);
      return !stack.empty() && stack.back() == w;
    };
    bool cover_was_on_top = on_top(cover);
    EXPECT_TRUE(WaitUntil([&] { return on_top(popup); }, 2s));
    auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - start);
    EXPECT_TRUE(cover_was_on_top);
    EXPECT_LE(elapsed.count(), 300) << "the popup came back to the front after " << elapsed.count()
                                    << " ms";
    XDestroyWindow(other, cover);
    XCloseDisplay(other);
  }

  // OK hides it, and the timer no longer brings it back.
  const std::string ok_x = std::to_string(kLeft + 196 + 22);
  const std::string ok_y = std::to_string(kTop + 176 + 10);
  CommandResult click = RunCommand({"xdotool", "mousemove", "--sync", ok_x, ok_y, "click", "1"},
                                   {"DISPLAY=" + xvfb_->display()});
  ASSERT_EQ(click.exit_status, 0) << click.err;
  EXPECT_TRUE(WaitUntil([&] { return MappedWindowsTitled(probe_, "Quarrin").empty(); }, 2s));
  std::this_thread::sleep_for(400ms);
  EXPECT_TRUE(MappedWindowsTitled(probe_, "Quarrin").empty());

  // A later message shows it again; stopping the service takes it away.
  ASSERT_EQ(SendMessage("127.0.0.1", "Third"), 200);
  EXPECT_TRUE(WaitUntil([&] { return Popups().size() == 1; }, 5s));
  Ctl({"sc", "stop", "TARNQuarrinSrvc"});
  EXPECT_TRUE(WaitForState("STOPPED", 10s));
  EXPECT_TRUE(MappedWindowsTitled(probe_, "Quarrin").empty());
}

TEST_F(PopupServiceTest, WithoutADisplayMessagesAreStillLoggedAndAnswered) {
  // A display that no server answers, which FLTK on its own would exit for.
  StartService(":59999");
  EXPECT_EQ(SendMessage("127.0.0.1", "Nobody%20sees%20this"), 200);
  EXPECT_EQ(MessageEntries(), (std::vector<std::string>{version_ + " Message: Nobody sees this"}));
  EXPECT_TRUE(WaitForState("RUNNING", 2s));
  Ctl({"sc", "stop", "TARNQuarrinSrvc"});
  EXPECT_TRUE(WaitForState("STOPPED", 10s));
  EXPECT_NE(ServiceLog().find("cannot open display :59999"), std::string::npos) << ServiceLog();
}

TEST_F(PopupServiceTest, LosingTheDisplayLeavesTheServiceRunning) {
  if (!testing::OnPath("Xvfb")) GTEST_SKIP() << "Xvfb is not installed";
  StartXvfb();
  StartService(xvfb_->display());
  ASSERT_EQ(SendMessage("127.0.0.1", "Before"), 200);
  ASSERT_TRUE(WaitUntil([&] { return Popups().size() == 1; }, 10s)) << ServiceLog();
  XCloseDisplay(probe_);
  probe_ = nullptr;
  xvfb_->Stop();  // as when the user's session ends

  EXPECT_TRUE(WaitUntil(
      [&] { return ServiceLog().find("connection to the display was lost") != std::string::npos; },
      5s))
      << ServiceLog();
  EXPECT_EQ(SendMessage("127.0.0.1", "After"), 200);
  EXPECT_EQ(MessageEntries().size(), 2u);
  EXPECT_TRUE(WaitForState("RUNNING", 2s));
  Ctl({"sc", "stop", "TARNQuarrinSrvc"});
  EXPECT_TRUE(WaitForState("STOPPED", 10s)) << ServiceLog();
}

}  // namespace
}  // namespace quarrin
