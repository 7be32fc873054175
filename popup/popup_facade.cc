#include "popup/popup_facade.h"

#include <utility>

#include "popup/popup_screen.h"

namespace quarrin {

PopupFacade::PopupFacade(PopupScreen* screen) : screen_(screen) {
  if (screen_ != nullptr) screen_->Create();
}

PopupFacade::~PopupFacade() {
  if (screen_ != nullptr) screen_->Release();
}

// The screen is told under the lock, so that it receives the messages in
// the order that latest() sees them.
void PopupFacade::ShowMessage(PopupMessage message) {
  std::lock_guard lock(mu_);
  latest_ = std::move(message);
  shown_ = true;
  ++count_;
  if (screen_ != nullptr) screen_->Show(latest_);
}

void PopupFacade::Dismiss() {
  std::lock_guard lock(mu_);
  shown_ = false;
  if (screen_ != nullptr) screen_->Hide();
}

bool PopupFacade::shown() const {
  std::lock_guard lock(mu_);
  return screen_ != nullptr ? screen_->shown() : shown_;
}

PopupMessage PopupFacade::latest() const {
  std::lock_guard lock(mu_);
  return latest_;
}

uint64_t PopupFacade::message_count() const {
  std::lock_guard lock(mu_);
  return count_;
}

}  // namespace quarrin
