#include "report/xml_text.h"

namespace quarrin {

std::string XmlTextContent(pugi::xml_node node) {
  // A walk without recursion: a reply nested a million deep must not
  // exhaust the stack.
  std::string text;
  pugi::xml_node at = node.first_child();
  while (at) {
    if (at.type() == pugi::node_pcdata || at.type() == pugi::node_cdata) text.append(at.value());
    if (at.type() == pugi::node_element && at.first_child()) {
      at = at.first_child();
      continue;
    }
    while (at != node && !at.next_sibling()) at = at.parent();
    if (at == node) break;
    at = at.next_sibling();
  }
  return text;
}

std::string_view TrimControls(std::string_view text) {
  auto blank = [](char c) { return static_cast<unsigned char>(c) <= 32; };
  while (!text.empty() && blank(text.front())) text.remove_prefix(1);
  while (!text.empty() && blank(text.back())) text.remove_suffix(1);
  return text;
}

std::string Clip(std::string_view text, size_t limit) {
  if (text.size() <= limit) return std::string(text);
  return std::string(text.substr(0, limit)) + "...";
}

}  // namespace quarrin
