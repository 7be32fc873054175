// The drawing code as a module inside the executable (cairo, pango and FLTK
// are loaded only when the agent first draws); the popup on the X display
// named by DISPLAY.
#include <cstddef>

#include "agent/agent_drawing.h"
#include "agent/module_drawing.h"
#include "popup/headless_popup_loop.h"

// The drawing module, embedded at build time.
extern "C" const unsigned char quarrin_drawing_module_begin[];
extern "C" const unsigned char quarrin_drawing_module_end[];

namespace quarrin {

std::unique_ptr<Drawing> OpenAgentDrawing() {
  return std::make_unique<ModuleDrawing>(
      quarrin_drawing_module_begin,
      static_cast<size_t>(quarrin_drawing_module_end - quarrin_drawing_module_begin));
}

bool CanShowPopup() { return NamedDisplay() != nullptr; }

}  // namespace quarrin
