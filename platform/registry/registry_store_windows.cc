#include <windows.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cstring>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/registry/scratch_registry_double.h"
#include "platform/text/wide_text_windows.h"
#include "platform/registry/registry_store_windows.h"

namespace quarrin {

namespace {

// An open key, closed when it goes.
class Key {
 public:
  Key() = default;
  ~Key() {
    if (handle_ != nullptr) RegCloseKey(handle_);
  }
  Key(const Key&) = delete;
  Key& operator=(const Key&) = delete;
  HKEY* out() { return &handle_; }
  HKEY get() const { return handle_; }

 private:
  HKEY handle_ = nullptr;
};

// Where a root of the store lives: a predefined key and the path below it
// ("" for the root itself).
struct RootPlace {
  HKEY base = nullptr;
  std::wstring prefix;
};

// The UTF-16 path of a store path: its names joined by "\", none empty.
// nullopt for an empty name or text that is not UTF-8.
std::optional<std::wstring> WidePath(std::string_view path) {
  if (!path.empty() && (path.front() == '\\' || path.back() == '\\' ||
                        path.find("\\\\") != std::string_view::npos)) {
    return std::nullopt;
  }
  return WideFromUtf8(path);
}

// Text values are UTF-8 in the store and UTF-16 in the registry.
bool IsText(DWORD type) { return type == REG_SZ || type == REG_EXPAND_SZ; }

std::string StoredData(DWORD type, const std::vector<BYTE>& bytes, DWORD size) {
  if (!IsText(type)) return std::string(reinterpret_cast<const char*>(bytes.data()), size);
  std::wstring wide(size / sizeof(wchar_t), L'\0');
  std::memcpy(wide.data(), bytes.data(), wide.size() * sizeof(wchar_t));
  return Utf8FromWide(wide);
}

std::vector<BYTE> RegistryData(const RegValue& value) {
  const auto type = static_cast<DWORD>(value.type);
  if (!IsText(type)) return std::vector<BYTE>(value.data.begin(), value.data.end());
  const std::wstring wide = WideFromUtf8Lenient(value.data);
  std::vector<BYTE> bytes(wide.size() * sizeof(wchar_t));
  std::memcpy(bytes.data(), wide.data(), bytes.size());
  return bytes;
}

class WindowsRegistryStore : public RegistryStore {
 public:
  explicit WindowsRegistryStore(std::array<RootPlace, 3> roots) : roots_(std::move(roots)) {}

  bool KeyExists(RootKey root, std::string_view path) override {
    Key key;
    return Open(root, path, KEY_READ, &key);
  }

  bool CreateKey(RootKey root, std::string_view path) override {
    // The same limits on every system, whatever this one would take.
    if (KeyPathProblem(path)) return false;
    const std::optional<std::wstring> full = FullPath(root, path);
    if (!full) return false;
    if (full->empty()) return true;  // a predefined root
    Key key;
    const LSTATUS rc =
        RegCreateKeyExW(Place(root).base, full->c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                        KEY_READ, nullptr, key.out(), nullptr);
    if (rc == ERROR_INVALID_PARAMETER || rc == ERROR_BAD_PATHNAME) return false;
    Check(rc, root, path);
    return true;
  }

  bool DeleteKey(RootKey root, std::string_view path) override {
    if (path.empty()) return false;  // a root stays
    const size_t slash = path.rfind('\\');
    const std::string_view parent = slash == std::string_view::npos ? "" : path.substr(0, slash);
    const std::optional<std::wstring> name = WidePath(path.substr(slash + 1));
    Key key;
    if (!name || name->empty() || !Open(root, parent, KEY_READ | KEY_WRITE | DELETE, &key)) {
      return false;
    }
    const LSTATUS rc = RegDeleteTreeW(key.get(), name->c_str());
    if (rc == ERROR_FILE_NOT_FOUND) return false;
    Check(rc, root, path);
    return true;
  }

  std::vector<std::string> SubkeyNames(RootKey root, std::string_view path) override {
    std::vector<std::string> names;
    Key key;
    if (!Open(root, path, KEY_READ, &key)) return names;
    DWORD count = 0, longest = 0;
    Check(RegQueryInfoKeyW(key.get(), nullptr, nullptr, nullptr, &count, &longest, nullptr, nullptr,
                           nullptr, nullptr, nullptr, nullptr),
          root, path);
    std::wstring name(longest + 1, L'\0');
    for (DWORD i = 0;; ++i) {
      DWORD length = static_cast<DWORD>(name.size());
      const LSTATUS rc =
          RegEnumKeyExW(key.get(), i, name.data(), &length, nullptr, nullptr, nullptr, nullptr);
      if (rc == ERROR_NO_MORE_ITEMS) break;
      if (rc == ERROR_MORE_DATA) {  // a longer name was added meanwhile
        name.resize(name.size() * 2);
        --i;
        continue;
      }
      Check(rc, root, path);
      names.push_back(Utf8FromWide(std::wstring_view(name.data(), length)));
    }
    return names;
  }

  std::optional<RegValue> GetValue(RootKey root, std::string_view path,
                                   std::string_view name) override {
    Key key;
    const std::optional<std::wstring> wide_name = WideFromUtf8(name);
    if (!wide_name || !Open(root, path, KEY_QUERY_VALUE, &key)) return std::nullopt;
    std::vector<BYTE> bytes(256);
    for (;;) {
      DWORD type = REG_NONE;
      DWORD size = static_cast<DWORD>(bytes.size());
      const LSTATUS rc =
          RegQueryValueExW(key.get(), wide_name->c_str(), nullptr, &type, bytes.data(), &size);
      if (rc == ERROR_FILE_NOT_FOUND) return std::nullopt;
      if (rc == ERROR_MORE_DATA) {
        bytes.resize(size);
        continue;
      }
      Check(rc, root, path);
      return RegValue{static_cast<ValueType>(type), StoredData(type, bytes, size)};
    }
  }

  bool SetValue(RootKey root, std::string_view path, std::string_view name,
                const RegValue& value) override {
    if (ValueNameProblem(name)) return false;
    Key key;
    const std::optional<std::wstring> wide_name = WideFromUtf8(name);
    if (!wide_name || !Open(root, path, KEY_SET_VALUE, &key)) return false;
    const std::vector<BYTE> data = RegistryData(value);
    Check(RegSetValueExW(key.get(), wide_name->c_str(), 0, static_cast<DWORD>(value.type),
                         data.data(), static_cast<DWORD>(data.size())),
          root, path);
    return true;
  }

  bool DeleteValue(RootKey root, std::string_view path, std::string_view name) override {
    Key key;
    const std::optional<std::wstring> wide_name = WideFromUtf8(name);
    if (!wide_name || !Open(root, path, KEY_SET_VALUE, &key)) return false;
    const LSTATUS rc = RegDeleteValueW(key.get(), wide_name->c_str());
    if (rc == ERROR_FILE_NOT_FOUND) return false;
    Check(rc, root, path);
    return true;
  }

  std::vector<std::string> ValueNames(RootKey root, std::string_view path) override {
    std::vector<std::string> names;
    for (NamedValue& v : Enumerate(root, path, /*with_data=*/false)) {
      names.push_back(std::move(v.name));
    }
    return names;
  }

  std::vector<NamedValue> Values(RootKey root, std::string_view path) override {
    return Enumerate(root, path, /*with_data=*/true);
  }

 protected:
  const RootPlace& Place(RootKey root) const { return roots_[static_cast<size_t>(root)]; }

 private:
  // The path below the root's predefined key; nullopt for an invalid path.
  std::optional<std::wstring> FullPath(RootKey root, std::string_view path) const {
    std::optional<std::wstring> wide = WidePath(path);
    if (!wide) return std::nullopt;
    const std::wstring& prefix = Place(root).prefix;
    if (prefix.empty()) return wide;
    return wide->empty() ? prefix : prefix + L"\\" + *wide;
  }

  // Opens the key; false when it is missing or its path invalid. Throws
  // StoreError for any other failure (access denied, say).
  bool Open(RootKey root, std::string_view path, REGSAM access, Key* key) {
    const std::optional<std::wstring> full = FullPath(root, path);
    if (!full) return false;
    const LSTATUS rc = RegOpenKeyExW(Place(root).base, full->c_str(), 0, access, key->out());
    if (rc == ERROR_FILE_NOT_FOUND || rc == ERROR_BAD_PATHNAME) return false;
    Check(rc, root, path);
    return true;
  }

  std::vector<NamedValue> Enumerate(RootKey root, std::string_view path, bool with_data) {
    std::vector<NamedValue> values;
    Key key;
    if (!Open(root, path, KEY_QUERY_VALUE, &key)) return values;
    DWORD count = 0, longest_name = 0, longest_data = 0;
    Check(RegQueryInfoKeyW(key.get(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &count,
                           &longest_name, &longest_data, nullptr, nullptr),
          root, path);
    std::wstring name(longest_name + 1, L'\0');
    std::vector<BYTE> bytes(with_data ? longest_data + 2 : 0);
    for (DWORD i = 0;; ++i) {
      DWORD length = static_cast<DWORD>(name.size());
      DWORD type = REG_NONE;
      DWORD size = static_cast<DWORD>(bytes.size());
      const LSTATUS rc =
          RegEnumValueW(key.get(), i, name.data(), &length, nullptr, &type,
                        with_data ? bytes.data() : nullptr, with_data ? &size : nullptr);
      if (rc == ERROR_NO_MORE_ITEMS) break;
      if (rc == ERROR_MORE_DATA) {  // grown meanwhile: room for the longest, then again
        name.resize(name.size() * 2);
        if (with_data) bytes.resize(std::max<size_t>(bytes.size() * 2, size));
        --i;
        continue;
      }
      Check(rc, root, path);
      NamedValue value;
      value.name = Utf8FromWide(std::wstring_view(name.data(), length));
      value.value.type = static_cast<ValueType>(type);
      if (with_data) value.value.data = StoredData(type, bytes, size);
      values.push_back(std::move(value));
    }
    return values;
  }

  [[noreturn]] static void Fail(LSTATUS rc, RootKey root, std::string_view path) {
    std::string key(RootKeyName(root));
    if (!path.empty()) key += "\\" + std::string(path);
    throw StoreError(key + ": " + SystemErrorText(static_cast<uint32_t>(rc)));
  }
  static void Check(LSTATUS rc, RootKey root, std::string_view path) {
    if (rc != ERROR_SUCCESS) Fail(rc, root, path);
  }

  std::array<RootPlace, 3> roots_;
};

// Ordered as RootKey: classes root, local machine, users.
constexpr std::array<RootKey, 3> kRoots = {RootKey::kClassesRoot, RootKey::kLocalMachine,
                                           RootKey::kUsers};

// A store whose roots are keys below one key of HKEY_CURRENT_USER of its
// own, removed with the store.
class ScratchRegistryStore final : public WindowsRegistryStore {
 public:
  explicit ScratchRegistryStore(std::wstring home)
      : WindowsRegistryStore(Places(home)), home_(std::move(home)) {
    for (RootKey root : kRoots) {
      Key key;
      const LSTATUS rc =
          RegCreateKeyExW(HKEY_CURRENT_USER, Place(root).prefix.c_str(), 0, nullptr,
                          REG_OPTION_NON_VOLATILE, KEY_READ, nullptr, key.out(), nullptr);
      if (rc != ERROR_SUCCESS) {
        RegDeleteTreeW(HKEY_CURRENT_USER, home_.c_str());
        throw StoreError("HKEY_CURRENT_USER\\" + Utf8FromWide(home_) + ": " +
                         SystemErrorText(static_cast<uint32_t>(rc)));
      }
    }
  }
  ~ScratchRegistryStore() override { RegDeleteTreeW(HKEY_CURRENT_USER, home_.c_str()); }

 private:
  static std::array<RootPlace, 3> Places(const std::wstring& home) {
    std::array<RootPlace, 3> places;
    for (RootKey root : kRoots) {
      places[static_cast<size_t>(root)] = {HKEY_CURRENT_USER,
                                           home + L"\\" + WideFromUtf8Lenient(RootKeyName(root))};
    }
    return places;
  }

  std::wstring home_;
};

}  // namespace

std::unique_ptr<RegistryStore> OpenMachineRegistryStore() {
  std::array<RootPlace, 3> places;
  places[static_cast<size_t>(RootKey::kClassesRoot)] = {HKEY_CLASSES_ROOT, L""};
  places[static_cast<size_t>(RootKey::kLocalMachine)] = {HKEY_LOCAL_MACHINE, L""};
  places[static_cast<size_t>(RootKey::kUsers)] = {HKEY_USERS, L""};
  return std::make_unique<WindowsRegistryStore>(std::move(places));
}

std::unique_ptr<RegistryStore> OpenScratchRegistryStore(const std::string& /*folder*/) {
  static std::atomic<unsigned> counter{0};
  const std::wstring home =
      L"Software\\Quarrin scratch\\" + std::to_wstring(GetCurrentProcessId()) + L"-" +
      std::to_wstring(GetTickCount64()) + L"-" + std::to_wstring(counter.fetch_add(1));
  return std::make_unique<ScratchRegistryStore>(home);
}

}  // namespace quarrin
