#include "server/agent_pages.h"

#include <pugixml.hpp>

#include "platform/text/utf8.h"

namespace quarrin {

AgentFacts AgentMenuFacts(std::string_view page) {
  // A Windows agent writes its code page, a Linux one UTF-8.
  const std::string text = TextAsUtf8(page);
  const std::string_view html = text;
  AgentFacts facts;
  constexpr std::string_view kOpen = "<b>", kClose = ": </b>", kEnd = "<br />";
  size_t at = 0;
  while ((at = html.find(kOpen, at)) != std::string_view::npos) {
    const size_t label = at + kOpen.size();
    const size_t close = html.find(kClose, label);
    const size_t line_end = html.find('\n', label);
    // A link line ("<b><a href=...") has no ": </b>" before its line ends.
    if (close == std::string_view::npos || (line_end != std::string_view::npos && close > line_end)) {
      at = label;
      continue;
    }
    const size_t value = close + kClose.size();
    const size_t end = html.find(kEnd, value);
    if (end == std::string_view::npos) break;
    facts.emplace_back(std::string(html.substr(label, close - label)),
                       std::string(html.substr(value, end - value)));
    at = end;
  }
  return facts;
}

std::optional<AgentFacts> AgentXmlFacts(std::string_view xml) {
  pugi::xml_document document;
  // The agent's documents declare no encoding: a Windows agent writes its
  // code page, a Linux one UTF-8.
  const std::string text = TextAsUtf8(xml);
  if (!document.load_buffer(text.data(), text.size(), pugi::parse_default, pugi::encoding_utf8)) {
    return std::nullopt;
  }
  const pugi::xml_node root = document.document_element();
  if (!root) return std::nullopt;
  AgentFacts facts;
  for (const pugi::xml_node& child : root.children()) {
    if (child.type() != pugi::node_element) continue;
    facts.emplace_back(child.name(), child.child_value());
  }
  return facts;
}

}  // namespace quarrin
