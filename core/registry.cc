#include "core/registry.h"

#include <bit>
#include <cstring>
#include <exception>
#include <stdexcept>
#include <string>

#include "platform/text/utf8.h"

namespace quarrin {
namespace {

// The right to set values; read-only levels lack it.
constexpr uint32_t kKeySetValue = 0x0002;

std::string Quoted(std::string_view name) { return "'" + std::string(name) + "'"; }

[[noreturn]] void InvalidType(std::string_view name) {
  throw RegistryError("Invalid data type for " + Quoted(name));
}
[[noreturn]] void GetFailed(std::string_view name) {
  throw RegistryError("Failed to get data for " + Quoted(name));
}
[[noreturn]] void SetFailed(std::string_view name) {
  throw RegistryError("Failed to set data for " + Quoted(name));
}

// Throws `error` with the reason a name is refused nested inside.
[[noreturn]] void RefuseName(const std::string& reason, const RegistryError& error) {
  try {
    throw std::invalid_argument(reason);
  } catch (const std::invalid_argument&) {
    std::throw_with_nested(error);
  }
}

uint64_t LittleEndian(std::string_view bytes) {
  uint64_t v = 0;
  for (size_t i = bytes.size(); i-- > 0;) v = (v << 8) | static_cast<unsigned char>(bytes[i]);
  return v;
}

std::string LittleEndianBytes(uint64_t v, size_t n) {
  std::string bytes(n, '\0');
  for (size_t i = 0; i < n; ++i, v >>= 8) bytes[i] = static_cast<char>(v & 0xff);
  return bytes;
}

}  // namespace

Registry::Registry(RegistryStore& store, uint32_t access) : store_(store), access_(access) {}

Registry::~Registry() { CloseKey(); }

void Registry::SetRootKey(RootKey root) {
  CloseKey();
  root_ = root;
}

std::string Registry::Resolve(std::string_view path) const {
  if (!path.empty() && path.front() == '\\') return std::string(path.substr(1));
  std::string base = open_ ? OpenPath() : std::string();
  if (base.empty()) return std::string(path);
  if (path.empty()) return base;
  return base + '\\' + std::string(path);
}

bool Registry::Open(std::string_view path, bool create, uint32_t access) {
  std::string full = Resolve(path);
  bool found = create ? store_.CreateKey(root_, full) : store_.KeyExists(root_, full);
  if (!found) return false;  // the previous key stays open
  open_ = true;
  open_access_ = access;
  current_path_ = '\\' + full;
  return true;
}

bool Registry::OpenKey(std::string_view path, bool create) { return Open(path, create, access_); }

bool Registry::OpenKeyReadOnly(std::string_view path) {
  // The ladder is read (0x20019), then 0x20009, then query only (1). The
  // store refuses no level, so where the key exists the first one holds.
  return Open(path, false, kAccessRead);
}

bool Registry::CreateKey(std::string_view path) {
  if (auto problem = KeyPathProblem(Resolve(path))) {
    RefuseName(*problem, RegistryError("Failed to create key " + std::string(path)));
  }
  bool created = false;
  try {
    created = store_.CreateKey(root_, Resolve(path));
  } catch (const StoreError&) {
    std::throw_with_nested(RegistryError("Failed to create key " + std::string(path)));
  }
  if (!created) throw RegistryError("Failed to create key " + std::string(path));
  return true;
}

bool Registry::KeyExists(std::string_view path) { return store_.KeyExists(root_, Resolve(path)); }

void Registry::CloseKey() {
  open_ = false;
  open_access_ = 0;
  current_path_.clear();
}

bool Registry::DeleteKey(std::string_view path) { return store_.DeleteKey(root_, Resolve(path)); }

bool Registry::DeleteValue(std::string_view name) {
  if (!open_ || (open_access_ & kKeySetValue) == 0) return false;
  return store_.DeleteValue(root_, OpenPath(), name);
}

std::vector<std::string> Registry::GetValueNames() {
  if (!open_) return {};
  return store_.ValueNames(root_, OpenPath());
}

std::vector<std::string> Registry::GetKeyNames() {
  if (!open_) return {};
  return store_.SubkeyNames(root_, OpenPath());
}

std::vector<NamedValue> Registry::GetValues() {
  if (!open_) return {};
  return store_.Values(root_, OpenPath());
}

bool Registry::ValueExists(std::string_view name) { return Fetch(name).has_value(); }

std::optional<RegValue> Registry::Fetch(std::string_view name) {
  if (!open_) return std::nullopt;
  try {
    return store_.GetValue(root_, OpenPath(), name);
  } catch (const StoreError&) {
    std::throw_with_nested(RegistryError("Failed to get data for " + Quoted(name)));
  }
}

void Registry::Put(std::string_view name, const RegValue& value) {
  if (!open_ || (open_access_ & kKeySetValue) == 0) SetFailed(name);
  if (auto problem = ValueNameProblem(name)) {
    RefuseName(*problem, RegistryError("Failed to set data for " + Quoted(name)));
  }
  bool written = false;
  try {
    written = store_.SetValue(root_, OpenPath(), name, value);
  } catch (const StoreError&) {
    std::throw_with_nested(RegistryError("Failed to set data for " + Quoted(name)));
  }
  if (!written) SetFailed(name);  // the key went away since it was opened
}

std::string Registry::ReadString(std::string_view name) {
  std::optional<RegValue> value = Fetch(name);
  if (!value || value->data.empty()) return "";
  if (value->type != ValueType::kString && value->type != ValueType::kExpandString) {
    InvalidType(name);
  }
  const std::string& data = value->data;
  return data.substr(0, data.find('\0'));
}

int32_t Registry::ReadInteger(std::string_view name) {
  std::optional<RegValue> value = Fetch(name);
  if (!value || value->data.size() > 4) GetFailed(name);
  if (value->type != ValueType::kDword || value->data.size() != 4) InvalidType(name);
  return static_cast<int32_t>(static_cast<uint32_t>(LittleEndian(value->data)));
}

double Registry::ReadFloat(std::string_view name) {
  std::optional<RegValue> value = Fetch(name);
  if (!value || value->data.size() > 8) GetFailed(name);
  double result = 0;
  if (!DecodeFloat(*value, &result)) InvalidType(name);
  return result;
}

void Registry::WriteString(std::string_view name, std::string_view text) {
  Put(name, EncodeString(TextAsUtf8(text)));
}

void Registry::WriteExpandString(std::string_view name, std::string_view text) {
  RegValue value = EncodeString(TextAsUtf8(text));
  value.type = ValueType::kExpandString;
  Put(name, value);
}

void Registry::WriteInteger(std::string_view name, int32_t value) { Put(name, EncodeDword(value)); }

void Registry::WriteFloat(std::string_view name, double value) { Put(name, EncodeFloat(value)); }

void Registry::WriteBinary(std::string_view name, std::string_view bytes) {
  Put(name, RegValue{ValueType::kBinary, std::string(bytes)});
}

bool DecodeFloat(const RegValue& value, double* out) {
  if (value.type != ValueType::kBinary || value.data.size() != 8) return false;
  *out = std::bit_cast<double>(LittleEndian(value.data));
  return true;
}

RegValue EncodeString(std::string_view text) {
  std::string data(text);
  data.push_back('\0');
  return RegValue{ValueType::kString, std::move(data)};
}

RegValue EncodeDword(int32_t value) {
  return RegValue{ValueType::kDword, LittleEndianBytes(static_cast<uint32_t>(value), 4)};
}

RegValue EncodeFloat(double value) {
  return RegValue{ValueType::kBinary, LittleEndianBytes(std::bit_cast<uint64_t>(value), 8)};
}

bool OpenOnly(Registry& reg, std::string_view path) {
  reg.CloseKey();
  return reg.OpenKeyReadOnly(path);
}

}  // namespace quarrin
