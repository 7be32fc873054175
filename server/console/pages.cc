#include "server/console/pages.h"

namespace quarrin {

void AddConsolePages(Console& console, ConsoleContext& context) {
  AddFleetPages(console, context);
  AddApplicationPages(console, context);
  AddUpdatePages(console, context);
  AddEventPages(console, context);
  AddMachinePages(console, context);
}

}  // namespace quarrin
