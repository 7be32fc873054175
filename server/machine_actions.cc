#include "server/machine_actions.h"

#include <charconv>

#include "platform/regional/regional_settings.h"
#include "server/agent_pages.h"
#include "server/assets.h"

namespace quarrin {

namespace {

// One line for the operator: the elements of the agent's XML reply, or the
// start of whatever else it sent.
std::string Summary(const AgentAnswer& answer) {
  if (!answer.ok) return answer.problem;
  std::string text;
  if (std::optional<AgentFacts> facts = AgentXmlFacts(answer.body)) {
    for (const auto& [name, value] : *facts) {
      text += (text.empty() ? "" : ", ") + name + " " + value;
    }
  } else {
    text = answer.body.substr(0, 300);
    if (answer.body.size() > text.size()) text += "...";
  }
  return "the agent answered: " + text;
}

// yyyy-mm-dd as a day count. REQUIRES: IsIsoDate(date).
DateTime DayOf(const std::string& date) {
  const auto number = [&](size_t at, size_t length) {
    int n = 0;
    std::from_chars(date.data() + at, date.data() + at + length, n);
    return n;
  };
  CivilTime c;
  c.year = number(0, 4);
  c.month = number(5, 2);
  c.day = number(8, 2);
  return EncodeDateTime(c);
}

// The agent's request target, or ActionRefused with why there is none.
template <typename Make>
std::string TargetOrRefuse(Make make) {
  try {
    return make();
  } catch (const AgentValueError& e) {
    throw ActionRefused(e.what());
  }
}

}  // namespace

InventoryStore::Reachable MachineActions::Find(const std::string& machine) {
  std::optional<InventoryStore::Reachable> target = store_.MachineAddress(machine);
  if (!target) throw ActionRefused("the server knows no machine '" + machine + "'");
  return *target;
}

ActionOutcome MachineActions::Run(const std::string& actor, const InventoryStore::Reachable& target,
                                  const std::string& action, const std::string& detail,
                                  const std::string& agent_target, bool slow) {
  AgentAnswer answer;
  if (target.address.empty()) {
    answer.problem = "the machine has not reported from an address the server knows";
  } else {
    answer = agents_.Get(target.address, agent_target, slow);
  }
  AuditEntry entry;
  entry.actor = actor;
  entry.action = action;
  entry.detail = detail;
  entry.machine_name = target.machine_name;
  entry.address = target.address;
  entry.ok = answer.ok;
  if (answer.status != 0) entry.agent_status = answer.status;
  entry.answer = answer.ok ? answer.body : answer.problem;
  ActionOutcome outcome;
  outcome.ok = answer.ok;
  outcome.summary = Summary(answer);
  outcome.audit_id = audit_.Record(entry);
  return outcome;
}

ActionOutcome MachineActions::ShowMessage(const std::string& actor, const std::string& machine,
                                          const std::string& text) {
  const std::string target = TargetOrRefuse([&] { return MessageTarget(text); });
  return Run(actor, Find(machine), "message", text, target, false);
}

ActionOutcome MachineActions::CheckForUpdate(const std::string& actor, const std::string& machine) {
  return Run(actor, Find(machine), "update-check", "", "/update", true);
}

ActionOutcome MachineActions::SetComment(const std::string& actor, const std::string& machine,
                                         const std::string& value) {
  const std::string target = TargetOrRefuse([&] { return SetterTarget("setcomment", value); });
  return Run(actor, Find(machine), "set-comment", value, target, false);
}

ActionOutcome MachineActions::SetSerialNumber(const std::string& actor, const std::string& machine,
                                              const std::string& value) {
  const std::string target = TargetOrRefuse([&] { return SetterTarget("setserialno", value); });
  const InventoryStore::Reachable found = Find(machine);
  PutAsset(found.machine_name, &value, nullptr);
  return Run(actor, found, "set-serial", value, target, false);
}

ActionOutcome MachineActions::SetAcquisitionDate(const std::string& actor,
                                                 const std::string& machine,
                                                 const std::string& date) {
  if (!IsIsoDate(date)) throw ActionRefused("'" + date + "' is not a day written yyyy-mm-dd");
  const std::string agent_date = FormatDateTimePattern(date_format_, DayOf(date), RegionalSettings());
  const std::string target =
      TargetOrRefuse([&] { return SetterTarget("setaquisitiondate", agent_date); });
  const InventoryStore::Reachable found = Find(machine);
  PutAsset(found.machine_name, nullptr, &date);
  return Run(actor, found, "set-acquisition", date, target, false);
}

void MachineActions::PutAsset(const std::string& machine_name, const std::string* serial,
                              const std::string* date) {
  AssetRecord record{machine_name, "", ""};
  if (std::optional<AssetRecord> old = store_.FindAsset(machine_name)) record = *old;
  record.machine_name = machine_name;
  if (serial) record.service_tag = *serial;
  if (date) record.acquisition_date = *date;
  store_.PutAssets({record});
}

}  // namespace quarrin
