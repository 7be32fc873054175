// The console's pages, each group added by a function of its own file, and
// what they read and change.
#ifndef QUARRIN_SERVER_CONSOLE_PAGES_H_
#define QUARRIN_SERVER_CONSOLE_PAGES_H_

#include "server/console/console.h"
#include "server/pg_pool.h"
#include "server/settings.h"
#include "server/store.h"
#include "server/update_site.h"

namespace quarrin {

// What pages use. Every member must outlive the console.
struct ConsoleContext {
  PgPool& pool;
  InventoryStore& store;
  UpdateSite& site;
  const ServerSettings& settings;
};

// The number of rows of a list page.
inline constexpr int kPageRows = 50;

void AddFleetPages(Console& console, ConsoleContext& context);         // fleet_page.cc
void AddApplicationPages(Console& console, ConsoleContext& context);   // applications_page.cc
void AddUpdatePages(Console& console, ConsoleContext& context);        // updates_page.cc
void AddEventPages(Console& console, ConsoleContext& context);         // events_page.cc
void AddMachinePages(Console& console, ConsoleContext& context);       // machine_page.cc

// The rollout's state on the updates page: why a rollout halted, or
// nothing (updates_page.cc).
std::string RolloutStatusSection(const PageRequest& request, ConsoleContext& context);

// Every page group above.
void AddConsolePages(Console& console, ConsoleContext& context);

}  // namespace quarrin

#endif  // QUARRIN_SERVER_CONSOLE_PAGES_H_
