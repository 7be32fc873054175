// The message popup's dialog window as the operating system draws it, on
// the desktop of the session this process runs in. On Linux the popup draws
// with FLTK (popup/popup_window.h) and this has no implementation.
#ifndef QUARRIN_PLATFORM_UI_POPUP_WINDOW_H_
#define QUARRIN_PLATFORM_UI_POPUP_WINDOW_H_

#include <functional>
#include <memory>
#include <string>

namespace quarrin {

// What the popup shows, as UTF-8.
struct PopupTexts {
  std::string caption;
  std::string date_time;
  std::string from;
  std::string text;
  bool operator==(const PopupTexts&) const = default;
};

// A window loop owning the one dialog (hidden until a message arrives) and
// its foreground timer. Requests from other threads return at once and are
// applied by the loop in the order they were made.
// Safe for concurrent use by multiple threads.
class PopupWindow {
 public:
  virtual ~PopupWindow() = default;

  // Runs the window's message loop on the calling thread until Quit. Run at
  // most once. Returns false at once when no window can be made (no desktop).
  virtual bool Run() = 0;
  virtual void Quit() = 0;

  // Creates the window, hidden, with the caption "Quarrin Service".
  virtual void Create() = 0;
  // Replaces the caption and the three texts, switches the timer on and
  // shows the window (centred on the screen when it was hidden).
  virtual void Show(const PopupTexts& texts) = 0;
  // What OK does: the timer off and the window hidden.
  virtual void Hide() = 0;
  // Hides the window and destroys it.
  virtual void Release() = 0;
  // True from Show until Hide, Release or the user's OK.
  virtual bool shown() const = 0;
};

// The system's dialog; `on_dismissed` runs on the loop's thread after the
// user's OK has hidden it, `on_shown` each time the window has been shown.
// Null where the popup is drawn otherwise (Linux: popup/popup_window.h).
std::unique_ptr<PopupWindow> NewSystemPopupWindow(std::function<void()> on_dismissed = {},
                                                  std::function<void()> on_shown = {});

}  // namespace quarrin

#endif  // QUARRIN_PLATFORM_UI_POPUP_WINDOW_H_
