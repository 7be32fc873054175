// One machine's page, /console/machines/NAME: a list of sections, each a
// function that writes its part of the page from one snapshot of the
// database. The sections appear in the order of MachineSections().
#ifndef QUARRIN_SERVER_CONSOLE_MACHINE_PAGE_H_
#define QUARRIN_SERVER_CONSOLE_MACHINE_PAGE_H_

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "server/console/pages.h"

namespace quarrin {

// The machine a page is about.
struct MachineView {
  int64_t id = 0;
  std::string key;           // name_key
  std::string machine_name;  // as it last reported
  std::string last_address;  // where it last reported from; empty when unknown
};

// What a section gets: the request, the machine, the page's read-only
// transaction, and the console's context.
struct MachineSectionInput {
  const PageRequest& request;
  const MachineView& machine;
  PgTransaction& tx;
  ConsoleContext& context;
};

using MachineSection = std::function<std::string(const MachineSectionInput&)>;

// The path of a machine's page.
std::string MachinePath(const std::string& key);

// The sections of the page, in order.
std::vector<MachineSection> MachineSections();

// The sections themselves (machine_sections.cc).
std::string DetailsSection(const MachineSectionInput& in);
std::string ApplicationsSection(const MachineSectionInput& in);
std::string HistorySection(const MachineSectionInput& in);
std::string EventsSection(const MachineSectionInput& in);

}  // namespace quarrin

#endif  // QUARRIN_SERVER_CONSOLE_MACHINE_PAGE_H_
