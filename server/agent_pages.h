// What the console shows of an agent's own pages: the facts they hold, as
// (label, value) pairs, for the console to write out escaped. Nothing of
// the agent's HTML goes to the browser as it is: its values are not escaped
// and its links would send the browser to the agent itself.
#ifndef QUARRIN_SERVER_AGENT_PAGES_H_
#define QUARRIN_SERVER_AGENT_PAGES_H_

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace quarrin {

using AgentFacts = std::vector<std::pair<std::string, std::string>>;

// The menu page's "<b>Label: </b>value<br />" lines (time, version, host
// name and the attributes set), in order, without the colon.
AgentFacts AgentMenuFacts(std::string_view page);

// The elements of an XML reply's root (the info document, a command's
// answer), in order; nullopt when it is not XML.
std::optional<AgentFacts> AgentXmlFacts(std::string_view xml);

}  // namespace quarrin

#endif  // QUARRIN_SERVER_AGENT_PAGES_H_
