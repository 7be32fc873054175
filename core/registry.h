// The registry accessor: one open key at a time over a RegistryStore, with
// the value encodings and failure messages the rest of the agent relies on.
//
//   text    REG_SZ     the bytes followed by one zero byte
//   number  REG_DWORD  4 bytes little-endian, signed when read back
//   float   REG_BINARY 8 bytes, the IEEE-754 double little-endian
//
// An accessor belongs to one thread and is used for one short sequence of
// operations; the store serialises concurrent accessors.
#ifndef QUARRIN_CORE_REGISTRY_H_
#define QUARRIN_CORE_REGISTRY_H_

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "platform/registry/registry_store.h"

namespace quarrin {

// A failed registry operation. The message is one of
//   "Failed to create key %s", "Invalid data type for '%s'",
//   "Failed to get data for '%s'", "Failed to set data for '%s'"
// with the key path or value name exactly as the caller passed it. When the
// store itself failed (locked, disk full), the StoreError with its detail is
// nested inside (std::rethrow_if_nested); other store failures pass through
// as StoreError. A key path or value name beyond the limits of names
// (KeyPathProblem, ValueNameProblem) fails the same way, with a
// std::invalid_argument saying why nested inside.
class RegistryError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Access levels. The store grants every level; they are kept so that the
// read-only ladder and the callers' intent stay visible.
enum RegistryAccess : uint32_t {
  kAccessFull = 0xF003F,
  kAccessReadWrite = 0x2001F,
  kAccessRead = 0x20019,
};

class Registry {
 public:
  explicit Registry(RegistryStore& store, uint32_t access = kAccessFull);
  ~Registry();
  Registry(const Registry&) = delete;
  Registry& operator=(const Registry&) = delete;

  // Sets the root for the following operations and closes any open key.
  void SetRootKey(RootKey root);
  RootKey root_key() const { return root_; }

  // Opens the key; a path beginning with "\" is taken from the root, any
  // other from the open key (or the root when none is open). With create, a
  // missing key is created. On failure the previously open key stays open.
  bool OpenKey(std::string_view path, bool create);
  // As OpenKey without create, trying the read-only access levels in turn.
  // Writes to a key opened this way fail as they would without write access.
  bool OpenKeyReadOnly(std::string_view path);
  // Creates the key and any missing keys above it and closes it again; the
  // open key does not change. Throws "Failed to create key %s".
  // OpenKey with create returns false for a path beyond the limits of names.
  bool CreateKey(std::string_view path);
  bool KeyExists(std::string_view path);
  void CloseKey();
  // Deletes the key with everything below it. True when deleted.
  bool DeleteKey(std::string_view path);
  // Deletes a value of the open key. True when deleted.
  bool DeleteValue(std::string_view name);

  bool HasOpenKey() const { return open_; }
  // Full path of the open key, beginning with "\"; empty when none is open.
  const std::string& CurrentPath() const { return current_path_; }

  // Value names of the open key in creation order; empty when none is open.
  std::vector<std::string> GetValueNames();
  // Subkey names of the open key; empty when none is open.
  std::vector<std::string> GetKeyNames();
  // All values of the open key as one consistent snapshot.
  std::vector<NamedValue> GetValues();
  bool ValueExists(std::string_view name);

  // Empty for a missing value or one without bytes; the text ends at the
  // first zero byte; REG_EXPAND_SZ comes back unexpanded. Any other type
  // throws "Invalid data type for '%s'".
  std::string ReadString(std::string_view name);
  // Missing or longer than 4 bytes: "Failed to get data for '%s'"; a type
  // other than REG_DWORD: "Invalid data type for '%s'".
  int32_t ReadInteger(std::string_view name);
  // Missing or longer than 8 bytes: "Failed to get data for '%s'"; a type
  // other than REG_BINARY, or fewer bytes: "Invalid data type for '%s'".
  double ReadFloat(std::string_view name);

  // Each throws "Failed to set data for '%s'" on any failure (no open key
  // included). Text is stored as UTF-8: bytes that are not are taken as
  // Windows-1252 and converted (TextAsUtf8).
  void WriteString(std::string_view name, std::string_view text);
  void WriteExpandString(std::string_view name, std::string_view text);
  void WriteInteger(std::string_view name, int32_t value);
  void WriteFloat(std::string_view name, double value);
  void WriteBinary(std::string_view name, std::string_view bytes);

 private:
  // The absolute store path (without leading "\") that path names.
  std::string Resolve(std::string_view path) const;
  bool Open(std::string_view path, bool create, uint32_t access);
  // The value, or nullopt when it or the open key is missing.
  std::optional<RegValue> Fetch(std::string_view name);
  void Put(std::string_view name, const RegValue& value);
  std::string OpenPath() const { return current_path_.empty() ? "" : current_path_.substr(1); }

  RegistryStore& store_;
  uint32_t access_;
  RootKey root_ = RootKey::kLocalMachine;
  bool open_ = false;
  uint32_t open_access_ = 0;  // the level the open key was opened with
  std::string current_path_;  // with a leading "\"
};

// Decoders of the value encodings, shared with tools that print values.
// Each returns false when the value does not have the encoding's shape.
bool DecodeFloat(const RegValue& value, double* out);
RegValue EncodeString(std::string_view text);
RegValue EncodeDword(int32_t value);
RegValue EncodeFloat(double value);

// Leaves only `path` open, read-only, or nothing when it does not open: a
// failed open must not leave the previous key in place, since every value of
// a key that cannot be opened then reads as missing.
bool OpenOnly(Registry& reg, std::string_view path);

}  // namespace quarrin

#endif  // QUARRIN_CORE_REGISTRY_H_
