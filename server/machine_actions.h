// The actions an operator takes on a machine from the console, each through
// the agent's own HTTP command at the address the machine last reported
// from, and each written to the audit log with the agent's answer:
//
//   message         "/?msg=TEXT": the agent shows TEXT to its user
//   update-check    "/update": the agent checks for a newer build now
//   set-comment     "/setcomment=VALUE"
//   set-serial      "/setserialno=VALUE", also kept in the asset register
//   set-acquisition "/setaquisitiondate=DATE" (DATE in the agent's short date
//                   format), also kept in the asset register (yyyy-mm-dd)
//
// A value the agent could not take (see agent_link.h) and a machine the
// server does not know are refused before anything is sent or recorded.
#ifndef QUARRIN_SERVER_MACHINE_ACTIONS_H_
#define QUARRIN_SERVER_MACHINE_ACTIONS_H_

#include <stdexcept>
#include <string>

#include "server/agent_link.h"
#include "server/audit_log.h"
#include "server/store.h"

namespace quarrin {

// An action refused before it reached the agent; what() says why.
class ActionRefused : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct ActionOutcome {
  bool ok = false;      // the agent answered 200
  std::string summary;  // one line for the operator
  int64_t audit_id = 0;
};

// Safe for concurrent use by multiple threads.
class MachineActions {
 public:
  // `agent_date_format` is the agents' short date format ("dd/MM/yyyy").
  MachineActions(InventoryStore& store, AuditLog& audit, const AgentLink& agents,
                 std::string agent_date_format)
      : store_(store), audit_(audit), agents_(agents), date_format_(std::move(agent_date_format)) {}

  // Each throws ActionRefused; PgError when the database fails.
  ActionOutcome ShowMessage(const std::string& actor, const std::string& machine,
                            const std::string& text);
  ActionOutcome CheckForUpdate(const std::string& actor, const std::string& machine);
  ActionOutcome SetComment(const std::string& actor, const std::string& machine,
                           const std::string& value);
  ActionOutcome SetSerialNumber(const std::string& actor, const std::string& machine,
                                const std::string& value);
  // `date` is yyyy-mm-dd.
  ActionOutcome SetAcquisitionDate(const std::string& actor, const std::string& machine,
                                   const std::string& date);

 private:
  InventoryStore::Reachable Find(const std::string& machine);
  ActionOutcome Run(const std::string& actor, const InventoryStore::Reachable& target,
                    const std::string& action, const std::string& detail,
                    const std::string& agent_target, bool slow);
  // Keeps the register's other field.
  void PutAsset(const std::string& machine_name, const std::string* serial, const std::string* date);

  InventoryStore& store_;
  AuditLog& audit_;
  const AgentLink& agents_;
  const std::string date_format_;
};

}  // namespace quarrin

#endif  // QUARRIN_SERVER_MACHINE_ACTIONS_H_
