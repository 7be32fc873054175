#include "popup/popup_copy.h"

#include <optional>

#include "platform/text/ascii.h"
#include "platform/ui/popup_session.h"
#include "platform/ui/popup_window.h"

namespace quarrin {

bool IsPopupCopy(const std::vector<std::string>& args) {
  for (size_t i = 1; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (!arg.empty() && (arg[0] == '/' || arg[0] == '-') &&
        EqualsIgnoringAsciiCase(std::string_view(arg).substr(1), kPopupSwitch)) {
      return true;
    }
  }
  return false;
}

int RunPopupCopy(const std::vector<std::string>& args) {
  std::optional<PopupHandOver> hand_over = ReceivePopupHandOver(args);
  if (!hand_over) return 2;
  PopupWindow* loop = nullptr;
  std::unique_ptr<PopupWindow> window =
      NewSystemPopupWindow([&loop] { loop->Quit(); }, hand_over->report_shown);
  if (!window) return 1;
  loop = window.get();
  window->Show(hand_over->texts);
  return window->Run() ? 0 : 1;
}

}  // namespace quarrin
