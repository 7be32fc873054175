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

namespace {
char FoldChar(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }
}  // namespace

std::string FoldName(std::string_view name) {
  std::string folded(name);
  std::transform(folded.begin(), folded.end(), folded.begin(), FoldChar);
  return folded;
}

bool SameName(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return FoldChar(x) == FoldChar(y);
         });
}

}  // namespace quarrin
