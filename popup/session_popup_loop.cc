#include "popup/session_popup_loop.h"

#include <utility>

namespace quarrin {

SessionPopupLoop::SessionPopupLoop(PopupSessionLauncher& launcher,
                                   std::function<void(const std::string&)> note)
    : launcher_(launcher), note_(std::move(note)) {}

bool SessionPopupLoop::WorkLocked() const {
  return quit_ || pending_.has_value() || (!shown_ && copy_ != nullptr);
}

void SessionPopupLoop::Run() {
  std::unique_lock lock(mu_);
  while (true) {
    cv_.wait(lock, [this] { return WorkLocked(); });
    // The copy showing an older message, or one no longer wanted.
    std::unique_ptr<PopupProcess> old = std::move(copy_);
    std::optional<PopupMessage> message = quit_ ? std::nullopt : std::exchange(pending_, std::nullopt);
    const bool quit = quit_;
    lock.unlock();
    if (old) old->End(kPopupEndLimit);
    if (quit) return;
    if (message) {
      PopupLaunch launch = launcher_.Launch(
          {message->caption, message->date_time, message->from, message->text}, kPopupLaunchLimit,
          quitting_);
      if (launch.outcome != PopupLaunch::Outcome::kShown && note_) {
        note_("Message popup: " + launch.detail + "; the message is kept but not shown");
      }
      lock.lock();
      copy_ = std::move(launch.process);
      continue;
    }
    lock.lock();
  }
}

void SessionPopupLoop::Quit() {
  quitting_.Set();
  std::lock_guard lock(mu_);
  quit_ = true;
  cv_.notify_all();
}

void SessionPopupLoop::Show(const PopupMessage& message) {
  std::lock_guard lock(mu_);
  shown_ = true;
  pending_ = message;
  cv_.notify_all();
}

void SessionPopupLoop::Hide() {
  std::lock_guard lock(mu_);
  shown_ = false;
  pending_.reset();
  cv_.notify_all();
}

void SessionPopupLoop::Release() { Hide(); }

bool SessionPopupLoop::shown() const {
  std::lock_guard lock(mu_);
  return shown_ && (pending_ || copy_ == nullptr || copy_->running());
}

}  // namespace quarrin
