#include "agent/agent_drawing.h"

#include <cstdio>
#include <exception>

#include "popup/headless_popup_loop.h"

namespace quarrin {

std::unique_ptr<PopupLoop> OpenPopupLoop(Drawing& drawing) {
  if (!CanShowPopup()) return std::make_unique<HeadlessPopupLoop>();
  try {
    return drawing.NewPopupLoop();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "Message popup: %s; messages are kept but not shown\n", e.what());
    return std::make_unique<HeadlessPopupLoop>();
  }
}

}  // namespace quarrin
