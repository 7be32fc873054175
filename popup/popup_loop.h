// The main thread's loop that owns the popup's window.
#ifndef QUARRIN_POPUP_POPUP_LOOP_H_
#define QUARRIN_POPUP_POPUP_LOOP_H_

#include "popup/popup_screen.h"
#include "service/window_loop.h"

namespace quarrin {

class PopupLoop : public WindowLoop, public PopupScreen {};

}  // namespace quarrin

#endif  // QUARRIN_POPUP_POPUP_LOOP_H_
