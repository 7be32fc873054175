// How the server tells machines and versions apart.
//
// A machine is its computer name without a domain suffix, in upper case:
// the agent reports the bare computer name, the service desk is asked for
// the name with the organisation's domain suffix, and Windows computer names
// carry no letter case and are unique within a domain. Two machines of the
// same name in two domains count as one.
#ifndef QUARRIN_SERVER_MACHINE_IDENTITY_H_
#define QUARRIN_SERVER_MACHINE_IDENTITY_H_

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace quarrin {

// The key of a machine name: blanks at either end dropped, everything from
// the first "." on dropped, ASCII letters upper case. Empty when nothing is
// left.
std::string MachineKey(std::string_view name);

// The four numbers of a version text "major.minor.release.build" (each 0 to
// 2147483647, blanks around the text ignored); nullopt for any other text,
// which is then kept as text only and not ordered.
std::optional<std::array<int32_t, 4>> VersionNumbers(std::string_view text);

// A version bound of one to four numbers ("17", "17.9", "17.9.0.2"); the
// numbers left out count as 0. Nullopt for any other text.
std::optional<std::array<int32_t, 4>> VersionBound(std::string_view text);

}  // namespace quarrin

#endif  // QUARRIN_SERVER_MACHINE_IDENTITY_H_
