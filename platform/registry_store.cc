#include "platform/ascii.h"
#include "platform/registry_store.h"

#include <algorithm>

namespace quarrin {

std::string_view RootKeyName(RootKey root) {
  switch (root) {
    case RootKey::kClassesRoot:
      return "HKEY_CLASSES_ROOT";
    case RootKey::kLocalMachine:
      return "HKEY_LOCAL_MACHINE";
    case RootKey::kUsers:
      return "HKEY_USERS";
  }
  return "HKEY_LOCAL_MACHINE";
}

std::string FoldName(std::string_view name) { return LowerAscii(name); }

bool SameName(std::string_view a, std::string_view b) { return EqualsIgnoringAsciiCase(a, b); }

}  // namespace quarrin
