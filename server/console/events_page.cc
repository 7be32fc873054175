#include "server/console/layout.h"
#include "server/console/pages.h"

namespace quarrin {

void AddEventPages(Console& console, ConsoleContext& /*context*/) {
  console.AddPage("GET", "/console/events", Role::kViewer, [](const PageRequest& r, HttpServerReply& reply) {
    ReplyPage(reply, r, "Events", "<p class=\"muted\">Coming.</p>");
  });
}

}  // namespace quarrin
