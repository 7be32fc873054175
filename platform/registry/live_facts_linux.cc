// The live view: stored keys and values first, facts of the machine for what
// the store does not hold.
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "platform/registry/registry_store.h"
#include "platform/registry/system_facts.h"

namespace quarrin {
namespace {

// `first` followed by the names of `second` that are not already in it.
std::vector<std::string> Union(std::vector<std::string> first,
                               const std::vector<std::string>& second) {
  const size_t stored = first.size();
  for (const std::string& name : second) {
    bool seen = false;
    for (size_t i = 0; i < stored && !seen; ++i) seen = SameName(first[i], name);
    if (!seen) first.push_back(name);
  }
  return first;
}

class LiveFactsStore final : public RegistryStore {
 public:
  LiveFactsStore(RegistryStore& stored, SystemFacts& facts) : stored_(stored), facts_(facts) {}

  bool KeyExists(RootKey root, std::string_view path) override {
    return stored_.KeyExists(root, path) || facts_.HasKey(root, path);
  }
  bool CreateKey(RootKey root, std::string_view path) override {
    return stored_.CreateKey(root, path);
  }
  // A fact key cannot be deleted: only what is stored over it goes.
  bool DeleteKey(RootKey root, std::string_view path) override {
    return stored_.DeleteKey(root, path);
  }
  std::vector<std::string> SubkeyNames(RootKey root, std::string_view path) override {
    return Union(stored_.SubkeyNames(root, path), facts_.SubkeyNames(root, path));
  }
  std::optional<RegValue> GetValue(RootKey root, std::string_view path,
                                   std::string_view name) override {
    if (auto value = stored_.GetValue(root, path, name)) return value;
    for (NamedValue& fact : facts_.Values(root, path)) {
      if (SameName(fact.name, name)) return std::move(fact.value);
    }
    return std::nullopt;
  }
  bool SetValue(RootKey root, std::string_view path, std::string_view name,
                const RegValue& value) override {
    if (stored_.SetValue(root, path, name, value)) return true;
    // A key only the facts have is stored on its first write.
    if (!facts_.HasKey(root, path) || !stored_.CreateKey(root, path)) return false;
    return stored_.SetValue(root, path, name, value);
  }
  bool DeleteValue(RootKey root, std::string_view path, std::string_view name) override {
    return stored_.DeleteValue(root, path, name);
  }
  std::vector<std::string> ValueNames(RootKey root, std::string_view path) override {
    std::vector<std::string> facts;
    for (const NamedValue& fact : facts_.Values(root, path)) facts.push_back(fact.name);
    return Union(stored_.ValueNames(root, path), facts);
  }
  std::vector<NamedValue> Values(RootKey root, std::string_view path) override {
    std::vector<NamedValue> values = stored_.Values(root, path);
    const size_t stored = values.size();
    for (NamedValue& fact : facts_.Values(root, path)) {
      bool seen = false;
      for (size_t i = 0; i < stored && !seen; ++i) seen = SameName(values[i].name, fact.name);
      if (!seen) values.push_back(std::move(fact));
    }
    return values;
  }
  void Atomically(const std::function<void(RegistryStore&)>& changes) override {
    stored_.Atomically([&](RegistryStore& transaction) {
      LiveFactsStore view(transaction, facts_);
      changes(view);
    });
  }

 private:
  RegistryStore& stored_;
  SystemFacts& facts_;
};

}  // namespace

std::unique_ptr<RegistryStore> WithLiveFacts(RegistryStore& stored, SystemFacts& facts) {
  return std::make_unique<LiveFactsStore>(stored, facts);
}

bool LiveFactsEnabled() {
  const char* value = std::getenv("QUARRIN_LIVE_FACTS");
  return value == nullptr || std::strcmp(value, "0") != 0;
}

}  // namespace quarrin
