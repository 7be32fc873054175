// The persistent hierarchical store behind the registry accessor.
//
// Keys are addressed by a root and a path of names joined by "\" without a
// leading backslash; the empty path is the root itself. Key and value names
// compare without regard to ASCII case and keep the case they were created
// with. Values enumerate in the order they were first created.
#ifndef QUARRIN_PLATFORM_REGISTRY_REGISTRY_STORE_H_
#define QUARRIN_PLATFORM_REGISTRY_REGISTRY_STORE_H_

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace quarrin {

enum class RootKey { kClassesRoot, kLocalMachine, kUsers };

// "HKEY_LOCAL_MACHINE" and so on; HKEY_CURRENT_USER is HKEY_USERS\.DEFAULT.
std::string_view RootKeyName(RootKey root);

// The form in which names compare: ASCII letters in lower case, every other
// byte as it is.
std::string FoldName(std::string_view name);
// True iff the names are equal without regard to ASCII case.
bool SameName(std::string_view a, std::string_view b);

// The limits of names: a key name of 1 to 255 characters, a value name of
// at most 16,383, a key at most 512 levels below its root; no name holds a
// zero byte. Characters count as in Utf8CharCount.
inline constexpr size_t kMaxKeyNameChars = 255;
inline constexpr size_t kMaxValueNameChars = 16383;
inline constexpr size_t kMaxKeyDepth = 512;

// Why `path` (names joined by "\") cannot name a key, for example "key name
// 'x...' is longer than 255 characters"; nullopt when it can.
std::optional<std::string> KeyPathProblem(std::string_view path);
// Why `name` cannot name a value; nullopt when it can.
std::optional<std::string> ValueNameProblem(std::string_view name);

enum class ValueType : uint32_t {
  kNone = 0,
  kString = 1,        // REG_SZ
  kExpandString = 2,  // REG_EXPAND_SZ
  kBinary = 3,        // REG_BINARY
  kDword = 4,         // REG_DWORD
};

struct RegValue {
  ValueType type = ValueType::kNone;
  std::string data;  // the raw bytes as stored
  bool operator==(const RegValue&) const = default;
};

struct NamedValue {
  std::string name;  // as created
  RegValue value;
};

// A store that cannot be used: not a database, locked past the wait, disk
// full. The message names the file.
class StoreError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Safe for concurrent use by multiple threads, and by several processes on
// one file. Every write is atomic and, once it returns, survives a crash of
// the process; a reader never sees part of a write. Operations throw
// StoreError when the store itself fails.
class RegistryStore {
 public:
  virtual ~RegistryStore() = default;

  virtual bool KeyExists(RootKey root, std::string_view path) = 0;
  // Creates the key and any missing keys above it. Returns false only when
  // the path is not within the limits of names (KeyPathProblem).
  virtual bool CreateKey(RootKey root, std::string_view path) = 0;
  // Deletes the key and everything below it. False when it did not exist.
  virtual bool DeleteKey(RootKey root, std::string_view path) = 0;
  // Names of the direct subkeys, in creation order, as created.
  virtual std::vector<std::string> SubkeyNames(RootKey root, std::string_view path) = 0;

  virtual std::optional<RegValue> GetValue(RootKey root, std::string_view path,
                                           std::string_view name) = 0;
  // Writes one value of an existing key (a new name goes last in the order,
  // an existing one keeps its place and its case). False when the key is
  // missing or the name is not within the limits (ValueNameProblem).
  virtual bool SetValue(RootKey root, std::string_view path, std::string_view name,
                        const RegValue& value) = 0;
  virtual bool DeleteValue(RootKey root, std::string_view path, std::string_view name) = 0;
  // Value names in creation order; empty when the key is missing.
  virtual std::vector<std::string> ValueNames(RootKey root, std::string_view path) = 0;
  // All values of the key, read as one consistent snapshot.
  virtual std::vector<NamedValue> Values(RootKey root, std::string_view path) = 0;

  // Runs `changes` against a view of this store in which all its operations
  // form one transaction: either every write takes effect or, when it
  // throws, none does (the exception is passed on). Other threads and
  // processes wait while it runs; keep it short. REQUIRES: `changes` uses
  // only the view it is given. This default runs the operations one by one,
  // for stores that have no transactions.
  virtual void Atomically(const std::function<void(RegistryStore&)>& changes) { changes(*this); }
};

// Opens (creating when missing) the SQLite store at db_path. Throws StoreError
// naming the file when it is not a database (or a database of something
// else) or cannot be opened; such a file is left as it was. A write that
// finds the store locked by another process waits up to busy_timeout_ms, then
// throws StoreError "<file>: locked by another process".
std::unique_ptr<RegistryStore> OpenSqliteRegistryStore(const std::string& db_path,
                                                       int busy_timeout_ms = 5000);

}  // namespace quarrin

#endif  // QUARRIN_PLATFORM_REGISTRY_REGISTRY_STORE_H_
