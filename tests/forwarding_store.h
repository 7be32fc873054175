// A registry store that passes every operation to another one, for test
// doubles that change one or two operations only.
#ifndef QUARRIN_TESTS_FORWARDING_STORE_H_
#define QUARRIN_TESTS_FORWARDING_STORE_H_

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/registry/registry_store.h"

namespace quarrin::testing {

class ForwardingStore : public RegistryStore {
 public:
  explicit ForwardingStore(RegistryStore& base) : base_(base) {}

  bool KeyExists(RootKey r, std::string_view p) override { return base_.KeyExists(r, p); }
  bool CreateKey(RootKey r, std::string_view p) override { return base_.CreateKey(r, p); }
  bool DeleteKey(RootKey r, std::string_view p) override { return base_.DeleteKey(r, p); }
  std::vector<std::string> SubkeyNames(RootKey r, std::string_view p) override {
    return base_.SubkeyNames(r, p);
  }
  std::optional<RegValue> GetValue(RootKey r, std::string_view p, std::string_view n) override {
    return base_.GetValue(r, p, n);
  }
  bool SetValue(RootKey r, std::string_view p, std::string_view n, const RegValue& v) override {
    return base_.SetValue(r, p, n, v);
  }
  bool DeleteValue(RootKey r, std::string_view p, std::string_view n) override {
    return base_.DeleteValue(r, p, n);
  }
  std::vector<std::string> ValueNames(RootKey r, std::string_view p) override {
    return base_.ValueNames(r, p);
  }
  std::vector<NamedValue> Values(RootKey r, std::string_view p) override {
    return base_.Values(r, p);
  }
  void Atomically(const std::function<void(RegistryStore&)>& changes) override {
    base_.Atomically(changes);
  }

 protected:
  RegistryStore& base_;
};

}  // namespace quarrin::testing

#endif  // QUARRIN_TESTS_FORWARDING_STORE_H_
