// The desktop side of the message popup: the one window that shows the
// latest message, driven from the HTTP threads and the service thread while
// the window itself lives on the thread that runs the window loop.
#ifndef QUARRIN_POPUP_POPUP_SCREEN_H_
#define QUARRIN_POPUP_POPUP_SCREEN_H_

#include "popup/popup_facade.h"

namespace quarrin {

// Every call returns at once; the window follows on its own thread, applying
// the requests in the order they were made. Without a display the state
// below is kept all the same and nothing is drawn.
// Safe for concurrent use by multiple threads.
class PopupScreen {
 public:
  virtual ~PopupScreen() = default;

  // Creates the window, hidden, with the caption "Quarrin Service".
  virtual void Create() = 0;
  // Replaces the caption and the three texts, switches the foreground timer
  // on and shows the window. Creates it first when it does not exist.
  virtual void Show(const PopupMessage& message) = 0;
  // What OK does: the timer off and the window hidden.
  virtual void Hide() = 0;
  // Hides the window and destroys it.
  virtual void Release() = 0;
  // True from Show until Hide, Release or the user's OK.
  virtual bool shown() const = 0;
};

}  // namespace quarrin

#endif  // QUARRIN_POPUP_POPUP_SCREEN_H_
