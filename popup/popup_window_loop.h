// The main thread's window loop with the message popup: an FLTK event loop
// on the X display named by DISPLAY that owns TfrmMsg and its timer, and
// takes the popup requests of other threads.
//
// Requests are coalesced: other threads only record the state they want
// (window there or not, shown or not, the latest message) and wake the loop
// once; the loop applies the latest state. A burst of messages therefore
// costs one pending message and one wake-up, whatever its length.
//
// Without a display (DISPLAY unset, the server unreachable, or the
// connection lost later, as when the user logs out) the loop only waits for
// Quit and the popup keeps its state without drawing anything.
#ifndef QUARRIN_POPUP_POPUP_WINDOW_LOOP_H_
#define QUARRIN_POPUP_POPUP_WINDOW_LOOP_H_

#include <atomic>
#include <memory>
#include <mutex>
#include <optional>

#include "popup/popup_loop.h"

namespace quarrin {

class TfrmMsg;

class PopupWindowLoop final : public PopupLoop {
 public:
  PopupWindowLoop();
  ~PopupWindowLoop() override;

  // Opens the display on the calling thread, then runs the FLTK loop until
  // Quit. Run at most once, on the thread that is to own the window.
  void Run() override;
  void Quit() override;

  void Create() override;
  void Show(const PopupMessage& message) override;
  void Hide() override;
  void Release() override;
  bool shown() const override;

  // True once Run has opened a display, unless the connection was lost.
  bool has_display() const;
  // The window, or null. REQUIRES: called on the loop's thread, or after
  // Run has returned.
  TfrmMsg* form() { return form_.get(); }

 private:
  // kDisplay only while Run drives the display: requests wake the loop then.
  enum class Mode { kOpening, kDisplay, kNoDisplay };

  bool OpenDisplay();
  // REQUIRES: mu_ held.
  void WakeLocked();
  static void ApplyOnLoop(void* self);
  void Apply();
  void Dismissed();

  mutable std::mutex mu_;
  Mode mode_ = Mode::kOpening;
  bool had_display_ = false;
  bool want_window_ = false;
  bool shown_ = false;
  // The latest message not yet handed to the window.
  std::optional<PopupMessage> pending_;
  bool wake_posted_ = false;

  std::atomic<bool> quit_{false};
  // The loop thread's own.
  std::unique_ptr<TfrmMsg> form_;
};

}  // namespace quarrin

#endif  // QUARRIN_POPUP_POPUP_WINDOW_LOOP_H_
