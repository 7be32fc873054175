#include "http/popup_facade.h"

#include <utility>

namespace quarrin {

void PopupFacade::ShowMessage(PopupMessage message) {
  std::lock_guard lock(mu_);
  latest_ = std::move(message);
  shown_ = true;
  ++count_;
}

void PopupFacade::Dismiss() {
  std::lock_guard lock(mu_);
  shown_ = false;
}

bool PopupFacade::shown() const {
  std::lock_guard lock(mu_);
  return shown_;
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
