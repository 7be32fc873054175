#include <memory>
#include <string>
#include <vector>

#include "platform/system_facts.h"

namespace quarrin {
namespace {

// Answers nothing yet: every key reads as not a fact key, so the registry
// holds only what is stored.
class LinuxFacts final : public SystemFacts {
 public:
  bool HasKey(RootKey, std::string_view) override { return false; }
  std::vector<std::string> SubkeyNames(RootKey, std::string_view) override { return {}; }
  std::vector<NamedValue> Values(RootKey, std::string_view) override { return {}; }
};

}  // namespace

std::unique_ptr<SystemFacts> LinuxSystemFacts() { return std::make_unique<LinuxFacts>(); }

}  // namespace quarrin
