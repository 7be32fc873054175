// Showing the popup from a service that has no desktop of its own: the
// service starts a copy of its program in the session of the user at the
// console, hands it the texts, and the copy shows the dialog there until the
// user presses OK. Where the service shares the user's desktop (Linux), the
// popup is drawn by the service process itself and none of this is used.
#ifndef QUARRIN_PLATFORM_UI_POPUP_SESSION_H_
#define QUARRIN_PLATFORM_UI_POPUP_SESSION_H_

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/sync/cancel_flag.h"
#include "platform/ui/popup_window.h"

namespace quarrin {

// The switch (after "/" or "-") that makes the program a popup copy.
inline constexpr char kPopupSwitch[] = "POPUP";

// A running copy.
class PopupProcess {
 public:
  virtual ~PopupProcess() = default;
  // False once the copy has ended, as it does when the user presses OK.
  virtual bool running() = 0;
  // Ends the copy and waits for it, at most `limit`.
  virtual void End(std::chrono::milliseconds limit) = 0;
};

struct PopupLaunch {
  enum class Outcome { kShown, kNoUser, kFailed };
  Outcome outcome = Outcome::kFailed;
  std::string detail;                      // why not, for the log
  std::unique_ptr<PopupProcess> process;  // set when shown
};

// Safe for concurrent use by multiple threads.
class PopupSessionLauncher {
 public:
  virtual ~PopupSessionLauncher() = default;
  // Starts a copy in the console user's session with `texts`, and waits, at
  // most `limit` and only until `cancel` is set, for it to report its window
  // shown. kNoUser when no user is logged on at the console; kFailed when
  // the copy could not be started or did not show its window in time (it is
  // ended then).
  virtual PopupLaunch Launch(const PopupTexts& texts, std::chrono::milliseconds limit,
                             const CancelFlag& cancel) = 0;
};

// The launcher of this program's copies, or null where the service shows the
// popup itself.
std::unique_ptr<PopupSessionLauncher> NewSystemPopupSessionLauncher();

// In a copy: what the service handed over, and the call that tells it the
// window is shown. Nullopt when `args` (the program's arguments, the
// program's name first) do not make this process a copy, or the hand-over
// cannot be read.
struct PopupHandOver {
  PopupTexts texts;
  std::function<void()> report_shown;
};
std::optional<PopupHandOver> ReceivePopupHandOver(const std::vector<std::string>& args);

}  // namespace quarrin

#endif  // QUARRIN_PLATFORM_UI_POPUP_SESSION_H_
