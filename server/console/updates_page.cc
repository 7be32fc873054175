#include "server/console/layout.h"
#include "server/console/pages.h"

namespace quarrin {

void AddUpdatePages(Console& console, ConsoleContext& /*context*/) {
  console.AddPage("GET", "/console/updates", Role::kViewer, [](const PageRequest& r, HttpServerReply& reply) {
    ReplyPage(reply, r, "Updates", "<p class=\"muted\">Coming.</p>");
  });
}

}  // namespace quarrin
