// The popup of a service that has no desktop of its own: each message is
// shown by a copy of the program in the console user's session, started by
// a PopupSessionLauncher on the loop's thread so that no request waits for
// it. A newer message replaces the copy, the user's OK ends it, and Hide,
// Release and Quit end it too. Where no user is logged on, or the copy
// cannot be started, the popup keeps its state as it does without a display
// and `note` says why.
#ifndef QUARRIN_POPUP_SESSION_POPUP_LOOP_H_
#define QUARRIN_POPUP_SESSION_POPUP_LOOP_H_

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "platform/sync/cancel_flag.h"
#include "platform/ui/popup_session.h"
#include "popup/popup_loop.h"

namespace quarrin {

// How long a copy may take to show its window, and to end.
inline constexpr std::chrono::milliseconds kPopupLaunchLimit{10000};
inline constexpr std::chrono::milliseconds kPopupEndLimit{2000};

class SessionPopupLoop final : public PopupLoop {
 public:
  // REQUIRES: `launcher` outlives this.
  SessionPopupLoop(PopupSessionLauncher& launcher, std::function<void(const std::string&)> note);

  // Starts and ends the copies on the calling thread until Quit, then ends
  // the one still running.
  void Run() override;
  void Quit() override;

  void Create() override {}
  void Show(const PopupMessage& message) override;
  void Hide() override;
  void Release() override;
  // False too once the copy has ended by the user's OK.
  bool shown() const override;

 private:
  // REQUIRES: mu_ held.
  bool WorkLocked() const;

  PopupSessionLauncher& launcher_;
  const std::function<void(const std::string&)> note_;
  CancelFlag quitting_;
  mutable std::mutex mu_;
  std::condition_variable cv_;
  bool quit_ = false;
  bool shown_ = false;
  std::optional<PopupMessage> pending_;
  std::unique_ptr<PopupProcess> copy_;
};

}  // namespace quarrin

#endif  // QUARRIN_POPUP_SESSION_POPUP_LOOP_H_
