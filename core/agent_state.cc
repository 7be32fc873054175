#include "core/agent_state.h"

namespace quarrin {

tRegAttributes AgentState::attributes() const {
  std::lock_guard lock(attributes_mu_);
  return attributes_;
}

void AgentState::set_attributes(const tRegAttributes& a) {
  std::lock_guard lock(attributes_mu_);
  attributes_ = a;
}

}  // namespace quarrin
