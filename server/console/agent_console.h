// The console's way to an agent and the actions on it (operators), and the
// audit log they write:
//
//   GET  /console/agent/NAME/PAGE    PAGE: menu and info, the agent's facts
//                                    as a console page; disk_d, disk_w,
//                                    disk_m, disk_y and mapdisk, the agent's
//                                    JPEG, or when there is none an SVG
//                                    image saying why (status 502)
//   POST /console/machines/NAME/ACTION  operators; ACTION: message (field
//                                    text), update-check, comment, serial
//                                    (field value), acquisition (field
//                                    date, yyyy-mm-dd); answers with the
//                                    outcome, 502 when the agent did not
//                                    take it, 400 for a value it could not
//   GET  /console/audit              the audit log, newest first; fields
//                                    machine, actor, before (paging)
//   POST /console/updates/resume     administrators; field ring: lets a
//                                    halted rollout go on
//
// The agent is always reached at the address its machine last reported
// from (agent_link.h), never one a request names.
#ifndef QUARRIN_SERVER_CONSOLE_AGENT_CONSOLE_H_
#define QUARRIN_SERVER_CONSOLE_AGENT_CONSOLE_H_

#include <string>

#include "server/agent_link.h"
#include "server/audit_log.h"
#include "server/console/machine_page.h"
#include "server/machine_actions.h"
#include "server/update_site.h"

namespace quarrin {

// What these pages use. Every member must outlive the console.
struct AgentConsoleContext {
  InventoryStore& store;
  const AgentLink& agents;
  MachineActions& actions;
  AuditLog& audit;
  int retention_days;
};

void AddAgentPages(Console& console, AgentConsoleContext& context);
void AddActionPages(Console& console, AgentConsoleContext& context);
void AddAuditPages(Console& console, AgentConsoleContext& context);
void AddRolloutPages(Console& console, UpdateSite& site);

// The Updates page's part on rollouts: each ring's state, why a halted one
// halted, and for administrators the button that resumes it.
std::string RolloutSection(const PageRequest& request, const UpdateSite& site);

// The machine page's sections: the agent's charts and live pages; the
// actions (forms for operators only) and the machine's latest audit entries.
std::string AgentSection(const MachineSectionInput& in);
std::string ActionsSection(const MachineSectionInput& in);

// An SVG image of one line of text: what the console shows where an
// agent's chart would be.
std::string MessageImage(const std::string& text);

}  // namespace quarrin

#endif  // QUARRIN_SERVER_CONSOLE_AGENT_CONSOLE_H_
