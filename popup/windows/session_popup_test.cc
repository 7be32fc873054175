// The popup as the Windows service shows it: the facade's messages reach a
// copy of this test program, started in the console's session, which shows
// them until OK is pressed on its dialog.
#include <gtest/gtest.h>
#include <windows.h>
#include <wtsapi32.h>

#include <mutex>
#include <thread>

#include "platform/files/paths.h"
#include "platform/ui/popup_window_windows_testing.h"
#include "platform/ui/session_launcher_windows.h"
#include "popup/popup_copy.h"
#include "popup/popup_facade.h"
#include "popup/session_popup_loop.h"

namespace quarrin {
namespace {

using namespace std::chrono_literals;

// The copy, as the program runs it with the popup switch.
TEST(PopupCopyProcess, ShowsTheMessageUntilOk) {
  const std::vector<std::string> args = testing::ProgramArgs();
  if (!IsPopupCopy(args)) GTEST_SKIP() << "runs as a popup copy only";
  EXPECT_EQ(RunPopupCopy(args), 0);
}

// The visible dialog whose sender is `from`.
HWND FormFrom(const std::string& from) {
  HWND form = FindWindowW(kPopupWindowClass, nullptr);
  if (form == nullptr || !IsWindowVisible(form)) return nullptr;
  return testing::DlgText(form, kPopupFromId) == from ? form : nullptr;
}

TEST(SessionPopupOnDisplayTest, MessagesAreShownByCopiesUntilOk) {
  auto launcher = NewWtsPopupLauncher(ExecutablePath(), {"--gtest_filter=PopupCopyProcess.*"},
                                      [] { return static_cast<uint32_t>(WTSGetActiveConsoleSessionId()); });
  std::mutex mu;
  std::vector<std::string> notes;
  SessionPopupLoop loop(*launcher, [&](const std::string& note) {
    std::lock_guard lock(mu);
    notes.push_back(note);
  });
  std::thread main_thread([&] { loop.Run(); });
  {
    PopupFacade popup(&loop);
    popup.ShowMessage({"Quarrin 1.2.3.4", "01/02/03 04:05:06.789", "10.0.0.1", "first"});
    HWND form = nullptr;
    EXPECT_TRUE(testing::WaitUntil([&] { return (form = FormFrom("10.0.0.1")) != nullptr; }, 30s));
    popup.ShowMessage({"Quarrin 1.2.3.4", "01/02/03 04:05:07.000", "10.0.0.2", "second"});
    EXPECT_TRUE(testing::WaitUntil([&] { return (form = FormFrom("10.0.0.2")) != nullptr; }, 30s));
    ASSERT_NE(form, nullptr);
    EXPECT_EQ(testing::DlgText(form, kPopupMessageId), "second");
    EXPECT_EQ(testing::Caption(form), "Quarrin 1.2.3.4");
    // One dialog: the copy of the first message was ended.
    EXPECT_TRUE(testing::WaitUntil([] { return FormFrom("10.0.0.1") == nullptr; }, 5s));
    EXPECT_TRUE(popup.shown());

    testing::Click(form, kPopupOkX, kPopupOkY);
    EXPECT_TRUE(testing::WaitUntil([&] { return !popup.shown(); }, 10s));
  }
  loop.Quit();
  main_thread.join();
  std::lock_guard lock(mu);
  EXPECT_TRUE(notes.empty()) << notes.front();
}

}  // namespace
}  // namespace quarrin
