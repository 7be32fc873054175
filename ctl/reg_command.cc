// quarrinctl reg: import, export, query, set and delete in the agent's
// registry (below QUARRIN_ROOT, with the live facts unless switched off).
#include <cerrno>
#include <charconv>
#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "core/registry.h"
#include "ctl/commands.h"
#include "platform/files/file_io.h"
#include "platform/registry/reg_file.h"
#include "platform/registry/registry_open.h"
#include "platform/text/utf8.h"

namespace quarrin {
namespace {

constexpr char kRegUsage[] =
    "usage: quarrinctl reg import FILE\n"
    "       quarrinctl reg export KEY [FILE]\n"
    "       quarrinctl reg query KEY\n"
    "       quarrinctl reg set KEY NAME TYPE DATA   (TYPE: REG_SZ, REG_EXPAND_SZ, REG_DWORD,"
    " REG_BINARY; NAME \"\" is the default value)\n"
    "       quarrinctl reg delete KEY [NAME]\n";

// A failure to report as it is, with exit status 1.
class CommandError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct KeyName {
  RootKey root;
  std::string path;
  std::string full;  // as it is shown: the root's long name and the path
};

KeyName ParseKeyArg(const std::string& text) {
  KeyName key{};
  if (!ParseKeyName(text, &key.root, &key.path)) {
    throw CommandError("bad key name '" + text +
                       "': expected HKEY_LOCAL_MACHINE, HKEY_CLASSES_ROOT, HKEY_USERS or"
                       " HKEY_CURRENT_USER (or HKLM, HKCR, HKU, HKCU) and a path");
  }
  if (auto problem = KeyPathProblem(key.path)) throw CommandError("bad key name: " + *problem);
  key.full = std::string(RootKeyName(key.root));
  if (!key.path.empty()) key.full += "\\" + key.path;
  return key;
}

void WriteOut(const std::string& text, const std::string* file) {
  if (file == nullptr) {
    if (std::fwrite(text.data(), 1, text.size(), stdout) != text.size() || std::fflush(stdout)) {
      throw CommandError(ErrnoMessage("cannot write standard output", errno));
    }
    return;
  }
  std::ofstream out(*file, std::ios::binary | std::ios::trunc);
  out << text;
  out.close();
  if (!out) throw CommandError(ErrnoMessage(*file + ": cannot write", errno));
}

std::string TypeName(ValueType type) {
  switch (static_cast<uint32_t>(type)) {
    case 0:
      return "REG_NONE";
    case 1:
      return "REG_SZ";
    case 2:
      return "REG_EXPAND_SZ";
    case 3:
      return "REG_BINARY";
    case 4:
      return "REG_DWORD";
    case 5:
      return "REG_DWORD_BIG_ENDIAN";
    case 6:
      return "REG_LINK";
    case 7:
      return "REG_MULTI_SZ";
    case 11:
      return "REG_QWORD";
    default:
      return "REG_TYPE_" + std::to_string(static_cast<uint32_t>(type));
  }
}

uint64_t LittleEndian(const std::string& bytes) {
  uint64_t v = 0;
  for (size_t i = bytes.size(); i-- > 0;) v = v << 8 | static_cast<unsigned char>(bytes[i]);
  return v;
}

// The data as `reg query` shows it.
std::string ShowData(const RegValue& value) {
  const std::string& data = value.data;
  char buf[32];
  switch (static_cast<uint32_t>(value.type)) {
    case 1:
    case 2:
      return data.substr(0, data.find('\0'));
    case 7: {
      std::string shown;
      std::string_view rest(data);
      while (!rest.empty() && rest.front() != '\0') {
        size_t end = rest.find('\0');
        if (!shown.empty()) shown += "\\0";
        shown += rest.substr(0, end);
        rest.remove_prefix(end == std::string_view::npos ? rest.size() : end + 1);
      }
      return shown;
    }
    case 4:
    case 11:
      if (data.size() == (value.type == ValueType::kDword ? 4u : 8u)) {
        std::snprintf(buf, sizeof buf, "0x%" PRIx64, LittleEndian(data));
        return buf;
      }
      break;
    default:
      break;
  }
  std::string hex;
  for (unsigned char c : data) {
    std::snprintf(buf, sizeof buf, "%02X", c);
    hex += buf;
  }
  return hex;
}

int Import(const std::string& file) {
  std::vector<RegChange> changes;
  try {
    changes = ReadRegFile(file);
  } catch (const std::runtime_error& e) {
    throw CommandError(file + ": " + e.what() + " (nothing was imported)");
  }
  OpenedRegistry registry = OpenDefaultRegistry();
  ApplyRegChanges(registry.store(), changes);
  return 0;
}

int Export(const std::string& key_arg, const std::string* file) {
  KeyName key = ParseKeyArg(key_arg);
  OpenedRegistry registry = OpenDefaultRegistry();
  std::optional<std::string> text = ExportRegKey(registry.store(), key.root, key.path);
  if (!text) throw CommandError(key.full + ": key not found");
  WriteOut(*text, file);
  return 0;
}

int Query(const std::string& key_arg) {
  KeyName key = ParseKeyArg(key_arg);
  OpenedRegistry registry = OpenDefaultRegistry();
  RegistryStore& store = registry.store();
  std::string out;
  bool found = false;
  store.Atomically([&](RegistryStore& s) {  // one snapshot
    if (!(found = s.KeyExists(key.root, key.path))) return;
    out = "\n" + key.full + "\n";
    for (const NamedValue& v : s.Values(key.root, key.path)) {
      out += "    " + (v.name.empty() ? std::string("(Default)") : v.name) + "    " +
             TypeName(v.value.type) + "    " + ShowData(v.value) + "\n";
    }
    std::vector<std::string> subkeys = s.SubkeyNames(key.root, key.path);
    if (!subkeys.empty()) out += "\n";
    for (const std::string& sub : subkeys) out += key.full + "\\" + sub + "\n";
  });
  if (!found) throw CommandError(key.full + ": key not found");
  WriteOut(out, nullptr);
  return 0;
}

RegValue ParseDword(const std::string& text) {
  std::string_view digits = text;
  int base = 10;
  if (digits.starts_with("0x") || digits.starts_with("0X")) {
    digits.remove_prefix(2);
    base = 16;
  }
  int64_t n = 0;
  const char* end = digits.data() + digits.size();
  auto [stop, ec] = std::from_chars(digits.data(), end, n, base);
  const bool ok = !digits.empty() && ec == std::errc() && stop == end && n >= INT32_MIN &&
                  n <= static_cast<int64_t>(UINT32_MAX) && !(base == 16 && n < 0);
  if (!ok) {
    throw CommandError("bad REG_DWORD data '" + text +
                       "': expected a decimal number or 0x and hex digits, within 32 bits");
  }
  return EncodeDword(static_cast<int32_t>(static_cast<uint32_t>(n)));
}

RegValue ParseBinary(const std::string& text) {
  std::string digits;
  for (char c : text) {
    if (c != ',' && c != ' ') digits.push_back(c);
  }
  std::string bytes;
  auto hex = [](char c) {
    return (c >= '0' && c <= '9')   ? c - '0'
           : (c >= 'a' && c <= 'f') ? c - 'a' + 10
           : (c >= 'A' && c <= 'F') ? c - 'A' + 10
                                    : -1;
  };
  for (size_t i = 0; i + 1 < digits.size(); i += 2) {
    int hi = hex(digits[i]), lo = hex(digits[i + 1]);
    if (hi < 0 || lo < 0) break;
    bytes.push_back(static_cast<char>(hi << 4 | lo));
  }
  if (bytes.size() * 2 != digits.size()) {
    throw CommandError("bad REG_BINARY data '" + text +
                       "': expected pairs of hex digits, e.g. 01ab or 01,ab");
  }
  return RegValue{ValueType::kBinary, bytes};
}

int Set(const std::string& key_arg, const std::string& name, const std::string& type,
        const std::string& data) {
  KeyName key = ParseKeyArg(key_arg);
  if (auto problem = ValueNameProblem(name)) throw CommandError("bad value name: " + *problem);
  RegValue value;
  if (SameName(type, "REG_SZ")) {
    value = EncodeString(TextAsUtf8(data));
  } else if (SameName(type, "REG_EXPAND_SZ")) {
    value = EncodeString(TextAsUtf8(data));
    value.type = ValueType::kExpandString;
  } else if (SameName(type, "REG_DWORD")) {
    value = ParseDword(data);
  } else if (SameName(type, "REG_BINARY")) {
    value = ParseBinary(data);
  } else {
    throw CommandError("unknown type '" + type +
                       "': expected REG_SZ, REG_EXPAND_SZ, REG_DWORD or REG_BINARY");
  }
  OpenedRegistry registry = OpenDefaultRegistry();
  bool written = false;
  registry.store().Atomically([&](RegistryStore& s) {
    written = s.CreateKey(key.root, key.path) && s.SetValue(key.root, key.path, name, value);
  });
  if (!written) throw CommandError(key.full + ": cannot create the key");
  return 0;
}

int Delete(const std::string& key_arg, const std::string* name) {
  KeyName key = ParseKeyArg(key_arg);
  if (name == nullptr && key.path.empty())
    throw CommandError(key.full + ": a root key cannot be deleted");
  OpenedRegistry registry = OpenDefaultRegistry();
  RegistryStore& store = registry.store();
  if (name == nullptr) {
    if (!store.DeleteKey(key.root, key.path)) throw CommandError(key.full + ": key not found");
  } else if (!store.DeleteValue(key.root, key.path, *name)) {
    throw CommandError(key.full + ": value '" + *name + "' not found");
  }
  return 0;
}

int Dispatch(const std::vector<std::string>& args) {
  const std::string& sub = args[0];
  const size_t n = args.size();
  if (sub == "import" && n == 2) return Import(args[1]);
  if (sub == "export" && (n == 2 || n == 3)) return Export(args[1], n == 3 ? &args[2] : nullptr);
  if (sub == "query" && n == 2) return Query(args[1]);
  if (sub == "set" && n == 5) return Set(args[1], args[2], args[3], args[4]);
  if (sub == "delete" && (n == 2 || n == 3)) return Delete(args[1], n == 3 ? &args[2] : nullptr);
  std::fputs(kRegUsage, stderr);
  return 2;
}

}  // namespace

int RunRegCommand(const std::vector<std::string>& args) {
  if (args.empty()) {
    std::fputs(kRegUsage, stderr);
    return 2;
  }
  try {
    return Dispatch(args);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "quarrinctl reg %s: %s\n", args[0].c_str(), e.what());
    return 1;
  }
}

}  // namespace quarrin
