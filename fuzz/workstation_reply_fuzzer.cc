// The service desk's record of a workstation: the two elements the lookup
// reads and the acquisition date's number.
#include <cstddef>
#include <cstdint>
#include <exception>
#include <optional>
#include <pugixml.hpp>
#include <string>

#include "report/workstation_lookup.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  pugi::xml_document doc;
  if (!doc.load_buffer(data, size)) return 0;
  quarrin::WorkstationElementText(doc, "SERVICETAG");
  const std::optional<std::string> ms = quarrin::WorkstationElementText(doc, "ACQUISITIONDATE");
  if (!ms) return 0;
  for (const char* separator : {".", ","}) {
    try {
      quarrin::MillisecondsToLocalDateTime(quarrin::ParseMilliseconds(*ms, separator), 0);
    } catch (const std::exception&) {
    }
  }
  return 0;
}
