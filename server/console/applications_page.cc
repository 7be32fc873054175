#include "server/console/layout.h"
#include "server/console/pages.h"

namespace quarrin {

void AddApplicationPages(Console& console, ConsoleContext& /*context*/) {
  console.AddPage("GET", "/console/applications", Role::kViewer, [](const PageRequest& r, HttpServerReply& reply) {
    ReplyPage(reply, r, "Applications", "<p class=\"muted\">Coming.</p>");
  });
}

}  // namespace quarrin
