// Value names in the order they were created, where the store keeps that
// order: the SQLite store and Windows' registry do, Wine's registry lists
// values sorted by name instead. Tests check the names in order where the
// order can be seen, and at least the names elsewhere.
#ifndef QUARRIN_TESTS_VALUE_ORDER_H_
#define QUARRIN_TESTS_VALUE_ORDER_H_

#include <gmock/gmock.h>

#include <string>
#include <vector>

#include "platform/registry/registry_store.h"

namespace quarrin::testing {

// True when the store lists values in the order they were created; finds
// out with a key of its own, which it removes again.
inline bool KeepsValueOrder(RegistryStore& store) {
  constexpr char kProbe[] = "Value order probe";
  const RegValue zero{ValueType::kDword, std::string(4, '\0')};
  store.CreateKey(RootKey::kLocalMachine, kProbe);
  store.SetValue(RootKey::kLocalMachine, kProbe, "b", zero);
  store.SetValue(RootKey::kLocalMachine, kProbe, "a", zero);
  const bool kept =
      store.ValueNames(RootKey::kLocalMachine, kProbe) == std::vector<std::string>{"b", "a"};
  store.DeleteKey(RootKey::kLocalMachine, kProbe);
  return kept;
}

// Matches exactly `names` in this order where `store` keeps the order, and
// in any order where it does not.
inline ::testing::Matcher<const std::vector<std::string>&> NamesInCreationOrder(
    RegistryStore& store, const std::vector<std::string>& names) {
  if (KeepsValueOrder(store)) return ::testing::ElementsAreArray(names);
  return ::testing::UnorderedElementsAreArray(names);
}

}  // namespace quarrin::testing

#endif  // QUARRIN_TESTS_VALUE_ORDER_H_
