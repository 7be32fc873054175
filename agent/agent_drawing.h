// The drawing code as the agent's executable carries it, and the main
// thread's popup loop drawn with it. Each system's build picks one
// implementation: a module inside the executable, loaded when it first
// draws (agent_drawing_module.cc), or the drawing code linked in
// (agent_drawing_linked.cc).
#ifndef QUARRIN_AGENT_AGENT_DRAWING_H_
#define QUARRIN_AGENT_AGENT_DRAWING_H_

#include <memory>

#include "agent/drawing.h"
#include "popup/popup_loop.h"

namespace quarrin {

std::unique_ptr<Drawing> OpenAgentDrawing();

// Whether this system has somewhere to show the popup; says why not on
// standard error.
bool CanShowPopup();

// The loop that shows the popup; one that only keeps the popup's state
// when there is nowhere to show it or the window's loop cannot be made
// (said on standard error). (agent_drawing.cc)
std::unique_ptr<PopupLoop> OpenPopupLoop(Drawing& drawing);

}  // namespace quarrin

#endif  // QUARRIN_AGENT_AGENT_DRAWING_H_
