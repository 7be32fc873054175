// The Win32 popup dialog on a real desktop (Wine's, on a private Xvfb that
// the test command starts for suites named OnDisplay): its layout, texts,
// foreground timer and the OK button.
#include "platform/ui/popup_window_windows.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#include "platform/ui/popup_window_windows_testing.h"

namespace quarrin {
namespace {

using namespace std::chrono_literals;
using testing::Caption;
using testing::Click;
using testing::DlgText;
using testing::WaitUntil;

// The visible popup window of this process, or null.
HWND VisibleForm() {
  HWND form = FindWindowW(kPopupWindowClass, nullptr);
  return form != nullptr && IsWindowVisible(form) ? form : nullptr;
}

// Runs a popup's loop on a thread of its own, as the popup process's main
// thread does.
class PopupWindowOnDisplayTest : public ::testing::Test {
 protected:
  void SetUp() override {
    window_ = NewSystemPopupWindow([this] { ++dismissed_; });
    ASSERT_NE(window_, nullptr);
    loop_ = std::thread([this] { ran_ = window_->Run(); });
  }
  void TearDown() override {
    window_->Quit();
    loop_.join();
  }

  HWND WaitForForm() {
    HWND form = nullptr;
    WaitUntil([&] { return (form = VisibleForm()) != nullptr; }, 5s);
    return form;
  }

  std::unique_ptr<PopupWindow> window_;
  std::thread loop_;
  std::atomic<bool> ran_{false};
  std::atomic<int> dismissed_{0};
};

TEST_F(PopupWindowOnDisplayTest, ShowsTheTextsInTheDialogLayoutUntilOk) {
  window_->Create();
  ASSERT_TRUE(WaitUntil([] { return FindWindowW(kPopupWindowClass, nullptr) != nullptr; }, 5s))
      << "no window: is there a display?";
  HWND hidden = FindWindowW(kPopupWindowClass, nullptr);
  EXPECT_FALSE(IsWindowVisible(hidden));
  EXPECT_EQ(Caption(hidden), "Quarrin Service");
  EXPECT_EQ(DlgText(hidden, kPopupLabel1Id), "Received");
  EXPECT_EQ(DlgText(hidden, kPopupLabel2Id), "From");

  window_->Show({"Quarrin 1.2.3.4", "01/02/03 04:05:06.789", "10.0.0.7",
                 "Back in 5 minutes \xE2\x82\xAC & more"});
  HWND form = WaitForForm();
  ASSERT_NE(form, nullptr);
  EXPECT_EQ(form, hidden);
  EXPECT_TRUE(window_->shown());
  EXPECT_EQ(Caption(form), "Quarrin 1.2.3.4");
  EXPECT_EQ(DlgText(form, kPopupDateTimeId), "01/02/03 04:05:06.789");
  EXPECT_EQ(DlgText(form, kPopupFromId), "10.0.0.7");
  EXPECT_EQ(DlgText(form, kPopupMessageId), "Back in 5 minutes \xE2\x82\xAC & more");

  // A fixed dialog frame without system menu (so no close, minimise or
  // maximise), its client area 441 x 204, centred on the screen.
  const LONG style = GetWindowLongW(form, GWL_STYLE);
  EXPECT_TRUE(style & WS_CAPTION);
  EXPECT_FALSE(style & (WS_SYSMENU | WS_THICKFRAME | WS_MINIMIZEBOX | WS_MAXIMIZEBOX));
  EXPECT_TRUE(GetWindowLongW(form, GWL_EXSTYLE) & WS_EX_DLGMODALFRAME);
  RECT client;
  GetClientRect(form, &client);
  EXPECT_EQ(client.right, 441);
  EXPECT_EQ(client.bottom, 204);
  RECT frame;
  GetWindowRect(form, &frame);
  EXPECT_NEAR((frame.left + frame.right) / 2, GetSystemMetrics(SM_CXSCREEN) / 2, 1);
  EXPECT_NEAR((frame.top + frame.bottom) / 2, GetSystemMetrics(SM_CYSCREEN) / 2, 1);
  RECT label;
  GetWindowRect(GetDlgItem(form, kPopupMessageId), &label);
  EXPECT_EQ(label.right - label.left, 425);
  EXPECT_EQ(label.bottom - label.top, 125);

  // The close request does nothing; a click beside OK neither; OK hides.
  PostMessageW(form, WM_CLOSE, 0, 0);
  Click(form, 150, 186);
  std::this_thread::sleep_for(300ms);
  EXPECT_TRUE(IsWindowVisible(form));
  EXPECT_TRUE(window_->shown());
  EXPECT_EQ(dismissed_, 0);

  Click(form, kPopupOkX, kPopupOkY);
  EXPECT_TRUE(WaitUntil([&] { return !IsWindowVisible(form); }, 5s));
  EXPECT_TRUE(WaitUntil([&] { return dismissed_ == 1; }, 5s));
  EXPECT_FALSE(window_->shown());
}

TEST_F(PopupWindowOnDisplayTest, ANewerMessageReplacesTheShownOneAndOneOkHidesIt) {
  window_->Show({"Quarrin 1.2.3.4", "t1", "10.0.0.1", "first"});
  HWND form = WaitForForm();
  ASSERT_NE(form, nullptr);
  // Moved by the user: a later message leaves the window where it is.
  SetWindowPos(form, nullptr, 10, 20, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
  window_->Show({"Quarrin 1.2.3.4", "t2", "10.0.0.2", ""});
  ASSERT_TRUE(WaitUntil([&] { return DlgText(form, kPopupFromId) == "10.0.0.2"; }, 5s));
  EXPECT_EQ(DlgText(form, kPopupMessageId), "");
  RECT frame;
  GetWindowRect(form, &frame);
  EXPECT_EQ(frame.left, 10);
  EXPECT_EQ(frame.top, 20);

  // Another window brought to the front loses it again to the timer.
  HWND other = CreateWindowExW(0, L"STATIC", L"other", WS_POPUP | WS_VISIBLE, 0, 0, 50, 50,
                               nullptr, nullptr, nullptr, nullptr);
  ASSERT_NE(other, nullptr);
  SetForegroundWindow(other);
  EXPECT_TRUE(WaitUntil([&] { return GetForegroundWindow() == form; }, 2s));
  DestroyWindow(other);

  Click(form, kPopupOkX, kPopupOkY);
  EXPECT_TRUE(WaitUntil([&] { return !IsWindowVisible(form); }, 5s));
  EXPECT_FALSE(window_->shown());

  window_->Release();
  EXPECT_TRUE(WaitUntil([] { return FindWindowW(kPopupWindowClass, nullptr) == nullptr; }, 5s));
}

}  // namespace
}  // namespace quarrin
