// The popup copy's launcher: what Wine's session functions answer, the
// paths where nothing is shown, and (on a display) a copy of this test
// program that shows the handed-over texts until its OK is pressed.
#include "platform/ui/session_launcher_windows.h"

#include <gtest/gtest.h>
#include <windows.h>
#include <wtsapi32.h>

#include <chrono>

#include "platform/files/paths.h"
#include "platform/ui/popup_window_windows_testing.h"
#include "platform/text/wide_text_windows.h"

namespace quarrin {
namespace {

using namespace std::chrono_literals;

uint32_t ConsoleSession() { return static_cast<uint32_t>(WTSGetActiveConsoleSessionId()); }

const CancelFlag kNoStop{};
const PopupTexts kTexts{"Quarrin 1.2.3.4", "01/02/03 04:05:06.789", "10.0.0.9",
                        "line one\r\nline \"two\" \\ \xE2\x82\xAC"};

// Wine answers as a session with a logged-on user: its processes run in
// session 1, which is the console's, and WTSQueryUserToken gives a token.
TEST(PopupLauncherTest, WineHasAConsoleSessionWithAUser) {
  const uint32_t console = ConsoleSession();
  DWORD own = kNoConsoleSession;
  ProcessIdToSessionId(GetCurrentProcessId(), &own);
  HANDLE token = nullptr;
  const bool user = WTSQueryUserToken(console, &token);
  std::printf("console session %u, own session %lu, WTSQueryUserToken %s\n", console,
              static_cast<unsigned long>(own), user ? "gives a token" : "fails");
  EXPECT_NE(console, kNoConsoleSession);
  if (token != nullptr) CloseHandle(token);
}

TEST(PopupLauncherTest, WithoutAConsoleSessionNothingIsStarted) {
  auto launcher = NewWtsPopupLauncher(ExecutablePath(), {}, [] { return kNoConsoleSession; });
  const PopupLaunch launch = launcher->Launch(kTexts, 5s, kNoStop);
  EXPECT_EQ(launch.outcome, PopupLaunch::Outcome::kNoUser);
  EXPECT_EQ(launch.detail, "no session is attached to the console");
  EXPECT_EQ(launch.process, nullptr);
}

TEST(PopupLauncherTest, AProgramThatCannotStartFailsWithTheReason) {
  auto launcher = NewWtsPopupLauncher("C:\\nowhere\\QuarrinSrvc.exe", {}, ConsoleSession);
  const PopupLaunch launch = launcher->Launch(kTexts, 5s, kNoStop);
  EXPECT_EQ(launch.outcome, PopupLaunch::Outcome::kFailed);
  EXPECT_EQ(launch.detail.rfind("CreateProcessAsUser: ", 0), 0u) << launch.detail;
  EXPECT_EQ(launch.process, nullptr);
}

// A copy that has no desktop to show its window on (this test's own session
// has none) ends, and the launch says so without waiting out its limit.
TEST(PopupLauncherTest, ACopyWithoutADesktopFails) {
  auto launcher = NewWtsPopupLauncher(ExecutablePath(), {"--gtest_filter=PopupCopy.*"}, ConsoleSession);
  const auto start = std::chrono::steady_clock::now();
  const PopupLaunch launch = launcher->Launch(kTexts, 60s, kNoStop);
  if (launch.process) {
    launch.process->End(5s);
    GTEST_SKIP() << "this Wine session has a desktop (DISPLAY was set when it started)";
  }
  EXPECT_EQ(launch.outcome, PopupLaunch::Outcome::kFailed);
  EXPECT_EQ(launch.detail, "the popup process ended without showing its window");
  EXPECT_LT(std::chrono::steady_clock::now() - start, 30s);
}

// The copy's side, as the program runs it with the popup switch: skipped
// when this runner was started otherwise.
TEST(PopupCopy, ShowsWhatTheServiceHandsOver) {
  std::optional<PopupHandOver> hand_over = ReceivePopupHandOver(testing::ProgramArgs());
  if (!hand_over) GTEST_SKIP() << "runs as a popup copy only";
  PopupWindow* loop = nullptr;
  std::unique_ptr<PopupWindow> window =
      NewSystemPopupWindow([&loop] { loop->Quit(); }, hand_over->report_shown);
  loop = window.get();
  window->Show(hand_over->texts);
  EXPECT_TRUE(window->Run());
}

TEST(PopupLauncherOnDisplayTest, TheCopyShowsTheTextsUntilOkAndCanBeEnded) {
  auto launcher = NewWtsPopupLauncher(ExecutablePath(), {"--gtest_filter=PopupCopy.*"}, ConsoleSession);
  PopupLaunch launch = launcher->Launch(kTexts, 60s, kNoStop);
  ASSERT_EQ(launch.outcome, PopupLaunch::Outcome::kShown) << launch.detail;
  ASSERT_NE(launch.process, nullptr);
  HWND form = FindWindowW(kPopupWindowClass, nullptr);
  ASSERT_NE(form, nullptr);
  EXPECT_TRUE(IsWindowVisible(form));
  EXPECT_EQ(testing::Caption(form), kTexts.caption);
  EXPECT_EQ(testing::DlgText(form, kPopupFromId), kTexts.from);
  EXPECT_EQ(testing::DlgText(form, kPopupMessageId), kTexts.text);
  EXPECT_TRUE(launch.process->running());

  testing::Click(form, kPopupOkX, kPopupOkY);
  EXPECT_TRUE(testing::WaitUntil([&] { return !launch.process->running(); }, 10s));

  // A copy the service no longer wants is ended.
  launch = launcher->Launch(kTexts, 60s, kNoStop);
  ASSERT_EQ(launch.outcome, PopupLaunch::Outcome::kShown) << launch.detail;
  launch.process->End(5s);
  EXPECT_FALSE(launch.process->running());
}

}  // namespace
}  // namespace quarrin
