// The drawing code linked into the executable; where the popup shows is the
// popup window's own concern.
#include "agent/agent_drawing.h"
#include "agent/linked_drawing.h"

namespace quarrin {

std::unique_ptr<Drawing> OpenAgentDrawing() { return std::make_unique<LinkedDrawing>(); }

bool CanShowPopup() { return true; }

}  // namespace quarrin
