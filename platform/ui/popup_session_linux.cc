// Linux: the service draws the popup on the display it is given; there are
// no copies to start.
#include "platform/ui/popup_session.h"

namespace quarrin {

std::unique_ptr<PopupSessionLauncher> NewSystemPopupSessionLauncher() { return nullptr; }

std::optional<PopupHandOver> ReceivePopupHandOver(const std::vector<std::string>&) {
  return std::nullopt;
}

std::unique_ptr<PopupWindow> NewSystemPopupWindow(std::function<void()>, std::function<void()>) {
  return nullptr;
}

}  // namespace quarrin
