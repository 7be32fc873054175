// The live view of the registry: system keys that the inventory reads are
// answered from the running machine when the store does not hold them.
#ifndef QUARRIN_PLATFORM_REGISTRY_SYSTEM_FACTS_H_
#define QUARRIN_PLATFORM_REGISTRY_SYSTEM_FACTS_H_

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/registry/registry_store.h"

namespace quarrin {

// Facts of the running machine, shaped as registry keys and values.
// Safe for concurrent use by multiple threads.
class SystemFacts {
 public:
  virtual ~SystemFacts() = default;
  virtual bool HasKey(RootKey root, std::string_view path) = 0;
  virtual std::vector<std::string> SubkeyNames(RootKey root, std::string_view path) = 0;
  // The facts of one key; empty when the key is not a fact key.
  virtual std::vector<NamedValue> Values(RootKey root, std::string_view path) = 0;
};

// A store that answers from `stored` first and from `facts` for what is not
// stored, so an administrator or a test can pin any fact. Writes go to
// `stored` (a fact key is created there on the first write). Both must
// outlive the result.
std::unique_ptr<RegistryStore> WithLiveFacts(RegistryStore& stored, SystemFacts& facts);

// The facts of this Linux machine.
std::unique_ptr<SystemFacts> LinuxSystemFacts();

// False when QUARRIN_LIVE_FACTS=0 switches the live view off.
bool LiveFactsEnabled();

}  // namespace quarrin

#endif  // QUARRIN_PLATFORM_REGISTRY_SYSTEM_FACTS_H_
