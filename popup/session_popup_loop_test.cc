// The service's side of popup copies, with a stand-in launcher: which copy
// shows which message, when copies are ended, and what happens where none
// can be shown.
#include "popup/session_popup_loop.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "popup/popup_copy.h"

namespace quarrin {
namespace {

using namespace std::chrono_literals;

struct FakeCopy {
  PopupTexts texts;
  std::atomic<bool> running{true};
  std::atomic<bool> ended{false};
};

class FakeProcess final : public PopupProcess {
 public:
  explicit FakeProcess(std::shared_ptr<FakeCopy> copy) : copy_(std::move(copy)) {}
  bool running() override { return copy_->running; }
  void End(std::chrono::milliseconds) override {
    copy_->ended = true;
    copy_->running = false;
  }

 private:
  std::shared_ptr<FakeCopy> copy_;
};

class FakeLauncher final : public PopupSessionLauncher {
 public:
  PopupLaunch Launch(const PopupTexts& texts, std::chrono::milliseconds,
                     const CancelFlag& cancel) override {
    if (hang_) {
      while (!cancel.IsSet()) std::this_thread::sleep_for(1ms);
      return {PopupLaunch::Outcome::kFailed, "cancelled", nullptr};
    }
    std::lock_guard lock(mu_);
    if (outcome_ != PopupLaunch::Outcome::kShown) return {outcome_, detail_, nullptr};
    auto copy = std::make_shared<FakeCopy>();
    copy->texts = texts;
    copies_.push_back(copy);
    return {PopupLaunch::Outcome::kShown, "", std::make_unique<FakeProcess>(copy)};
  }

  void Fail(PopupLaunch::Outcome outcome, std::string detail) {
    std::lock_guard lock(mu_);
    outcome_ = outcome;
    detail_ = std::move(detail);
  }
  void Hang() { hang_ = true; }
  std::vector<std::shared_ptr<FakeCopy>> copies() {
    std::lock_guard lock(mu_);
    return copies_;
  }
  // Waits until `n` copies were started; the last one.
  std::shared_ptr<FakeCopy> WaitForCopies(size_t n) {
    for (int i = 0; i < 500; ++i) {
      auto all = copies();
      if (all.size() >= n) return all[n - 1];
      std::this_thread::sleep_for(10ms);
    }
    return nullptr;
  }

 private:
  std::mutex mu_;
  PopupLaunch::Outcome outcome_ = PopupLaunch::Outcome::kShown;
  std::string detail_;
  std::vector<std::shared_ptr<FakeCopy>> copies_;
  std::atomic<bool> hang_{false};
};

PopupMessage Message(const std::string& from, const std::string& text) {
  return {"Quarrin 1.2.3.4", "01/02/03 04:05:06.789", from, text};
}

class SessionPopupLoopTest : public ::testing::Test {
 protected:
  void SetUp() override {
    thread_ = std::thread([this] { loop_.Run(); });
  }
  void TearDown() override {
    loop_.Quit();
    thread_.join();
  }

  FakeLauncher launcher_;
  std::mutex notes_mu_;
  std::vector<std::string> notes_;
  SessionPopupLoop loop_{launcher_, [this](const std::string& note) {
                           std::lock_guard lock(notes_mu_);
                           notes_.push_back(note);
                         }};
  std::thread thread_;
};

TEST_F(SessionPopupLoopTest, EachMessageHasOneCopyAndOkEndsTheShowing) {
  loop_.Create();
  EXPECT_FALSE(loop_.shown());
  EXPECT_TRUE(launcher_.copies().empty());

  loop_.Show(Message("10.0.0.1", "one"));
  EXPECT_TRUE(loop_.shown());
  std::shared_ptr<FakeCopy> first = launcher_.WaitForCopies(1);
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(first->texts, (PopupTexts{"Quarrin 1.2.3.4", "01/02/03 04:05:06.789", "10.0.0.1", "one"}));

  // A newer message replaces the copy.
  loop_.Show(Message("10.0.0.2", "two"));
  std::shared_ptr<FakeCopy> second = launcher_.WaitForCopies(2);
  ASSERT_NE(second, nullptr);
  EXPECT_TRUE(first->ended);
  EXPECT_EQ(second->texts.from, "10.0.0.2");
  EXPECT_TRUE(loop_.shown());

  // The user's OK ends the copy: no longer shown, and nothing is restarted.
  second->running = false;
  EXPECT_FALSE(loop_.shown());
  std::this_thread::sleep_for(50ms);
  EXPECT_EQ(launcher_.copies().size(), 2u);

  // Hide (and Release, and the end of the loop) end a copy still showing.
  loop_.Show(Message("10.0.0.3", "three"));
  std::shared_ptr<FakeCopy> third = launcher_.WaitForCopies(3);
  ASSERT_NE(third, nullptr);
  loop_.Release();
  EXPECT_FALSE(loop_.shown());
  for (int i = 0; i < 500 && !third->ended; ++i) std::this_thread::sleep_for(10ms);
  EXPECT_TRUE(third->ended);
  std::lock_guard lock(notes_mu_);
  EXPECT_TRUE(notes_.empty());
}

TEST_F(SessionPopupLoopTest, WhereNoCopyCanShowTheMessageIsKeptAndTheReasonNoted) {
  struct {
    PopupLaunch::Outcome outcome;
    std::string detail;
  } cases[] = {
      {PopupLaunch::Outcome::kNoUser, "no user is logged on at the console"},
      {PopupLaunch::Outcome::kFailed, "CreateProcessAsUser: Access is denied."},
  };
  for (const auto& c : cases) {
    launcher_.Fail(c.outcome, c.detail);
    {
      std::lock_guard lock(notes_mu_);
      notes_.clear();
    }
    loop_.Show(Message("10.0.0.1", "one"));
    for (int i = 0; i < 500; ++i) {
      std::lock_guard lock(notes_mu_);
      if (!notes_.empty()) break;
      std::this_thread::sleep_for(10ms);
    }
    {
      std::lock_guard lock(notes_mu_);
      EXPECT_EQ(notes_, std::vector<std::string>{"Message popup: " + c.detail +
                                                 "; the message is kept but not shown"});
    }
    EXPECT_TRUE(loop_.shown());
    loop_.Hide();
    EXPECT_FALSE(loop_.shown());
  }
  EXPECT_TRUE(launcher_.copies().empty());
}

TEST(SessionPopupLoopStopTest, QuitDoesNotWaitForACopyThatIsSlowToShow) {
  FakeLauncher launcher;
  launcher.Hang();
  SessionPopupLoop loop(launcher, nullptr);
  std::thread thread([&] { loop.Run(); });
  loop.Show(Message("10.0.0.1", "one"));
  std::this_thread::sleep_for(50ms);
  const auto start = std::chrono::steady_clock::now();
  loop.Quit();
  thread.join();
  EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
}

TEST(PopupCopyTest, TheSwitchAndACopyWithoutAHandOver) {
  struct {
    std::vector<std::string> args;
    bool copy;
  } cases[] = {
      {{"QuarrinSrvc"}, false},
      {{"QuarrinSrvc", "-POPUP", "123"}, true},
      {{"QuarrinSrvc", "/popup"}, true},
      {{"QuarrinSrvc", "-INSTALL"}, false},
      {{"QuarrinSrvc", "POPUP"}, false},
      {{"QuarrinSrvc", "-POPUPS"}, false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(IsPopupCopy(c.args), c.copy) << c.args.back();
  }
  // Started by hand, not by the service: nothing was handed over.
  EXPECT_EQ(RunPopupCopy({"QuarrinSrvc", "-POPUP"}), 2);
}

}  // namespace
}  // namespace quarrin
