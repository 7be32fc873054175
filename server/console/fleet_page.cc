#include "server/console/layout.h"
#include "server/console/pages.h"

namespace quarrin {

void AddFleetPages(Console& console, ConsoleContext& /*context*/) {
  console.AddPage("GET", "/console/fleet", Role::kViewer, [](const PageRequest& r, HttpServerReply& reply) {
    ReplyPage(reply, r, "Fleet", "<p class=\"muted\">Coming.</p>");
  });
}

}  // namespace quarrin
