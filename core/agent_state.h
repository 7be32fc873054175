// What the agent knows of itself while it runs, shared by its subsystems.
#ifndef QUARRIN_CORE_AGENT_STATE_H_
#define QUARRIN_CORE_AGENT_STATE_H_

#include <mutex>
#include <string>

#include "core/attributes.h"
#include "core/deployment.h"

namespace quarrin {

// Process-wide values built at start-up. Everything but the attributes is
// written before the HTTP server starts and only read afterwards.
struct AgentState {
  std::string version_text;
  std::string exe_name;
  std::string local_machine_name;
  std::string syslog_host;
  DeploymentSettings deployment;

  tRegAttributes attributes() const;
  void set_attributes(const tRegAttributes& a);

 private:
  mutable std::mutex attributes_mu_;
  tRegAttributes attributes_;
};

}  // namespace quarrin

#endif  // QUARRIN_CORE_AGENT_STATE_H_
