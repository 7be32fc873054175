// The facts of this machine, shaped as the registry keys the inventory reads.
//
// One source per value (keys below HKEY_LOCAL_MACHINE):
//
// key / value                               type       source
// ----------------------------------------- ---------- ---------------------------------------
// SYSTEM\CurrentControlSet\Control\ComputerName\ComputerName
//   ComputerName                            REG_SZ     gethostname(2)
// SOFTWARE\Microsoft\Windows NT\CurrentVersion\Winlogon
//   DefaultUserName                         REG_SZ     user of the last USER_PROCESS record in
//                                                      wtmp; absent when there is none
// SOFTWARE\Microsoft\Windows NT\CurrentVersion
//   ProductName                             REG_SZ     PRETTY_NAME of os-release ("Linux", the
//                                                      documented default, when it is left out)
//   CurrentVersion                          REG_SZ     VERSION_ID of os-release
//   CSDVersion                              REG_SZ     kernel release, uname(2)
//   ProductId                               REG_SZ     /etc/machine-id
//   InstallDate                             REG_DWORD  seconds since 1970: birth time of the
//                                                      root file system (statx); where the file
//                                                      system records none, the modification
//                                                      time of /etc/machine-id, which is written
//                                                      once, at first boot. Clamped to 32 bits.
// HARDWARE\DESCRIPTION\System\CentralProcessor\<n>, one key per logical CPU that
// /proc/cpuinfo lists, n = 0..N-1 in its order (so an offline CPU leaves no gap)
//   ~MHz                                    REG_DWORD  cpufreq cpuinfo_max_freq of that CPU, else
//                                                      its "cpu MHz" line, rounded; 0 when
//                                                      neither tells
//   Identifier                              REG_SZ     "x86 Family <cpu family> Model <model>
//                                                      Stepping <stepping>"; absent where
//                                                      /proc/cpuinfo has no such lines (not x86)
//   ProcessorNameString                     REG_SZ     "model name"
//
// A value whose source is missing or unreadable is absent. What Linux has no
// counterpart for (registered owner and organisation, setup source path,
// browser version, NetBIOS parameters) is never a fact, so readers fall back
// as on a machine without it.
//
// Cost: the host name is read on every request and wtmp only when its size,
// time or inode has changed since the last scan. The rest changes only with a
// reboot or an upgrade and is read once, on first use, by each facts object;
// the agent holds one for its whole run.
#include "platform/registry/system_facts_linux.h"

#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <sys/utsname.h>
#include <unistd.h>
#include <utmpx.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/files/file_io.h"

namespace quarrin {
namespace {

constexpr size_t kMaxCpuInfoBytes = 16u << 20;  // some 4,000 CPUs of x86 text
constexpr size_t kMaxSmallFileBytes = 64u << 10;
// Far more than months of logins; a wtmp without any login is not read to
// its beginning.
constexpr size_t kMaxWtmpScanBytes = 16u << 20;

// The file's bytes, at most `limit` of them; nullopt when it cannot be read.
std::optional<std::string> ReadBounded(const std::string& path, size_t limit) {
  std::string text;
  if (ReadFileCapped(path, limit, &text) != 0) return std::nullopt;
  return text;
}

std::string_view Trim(std::string_view s) {
  while (!s.empty() && static_cast<unsigned char>(s.front()) <= ' ') s.remove_prefix(1);
  while (!s.empty() && static_cast<unsigned char>(s.back()) <= ' ') s.remove_suffix(1);
  return s;
}

// A non-negative decimal number without sign or leading zeros.
std::optional<uint32_t> CanonicalNumber(std::string_view text) {
  if (text.empty() || text.size() > 9 || (text.size() > 1 && text[0] == '0')) return std::nullopt;
  uint32_t n = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    n = n * 10 + static_cast<uint32_t>(c - '0');
  }
  return n;
}

RegValue Text(std::string_view text) {
  std::string data(text);
  data.push_back('\0');
  return {ValueType::kString, std::move(data)};
}

RegValue Dword(uint32_t n) {
  std::string data(4, '\0');
  for (int i = 0; i < 4; ++i) data[i] = static_cast<char>((n >> (8 * i)) & 0xff);
  return {ValueType::kDword, std::move(data)};
}

struct Processor {
  std::string number;  // the kernel's processor number
  std::string family, model, stepping, name, mhz;
};

// The "processor" stanzas of /proc/cpuinfo, in order.
std::vector<Processor> ParseCpuInfo(std::string_view text) {
  std::vector<Processor> processors;
  while (!text.empty()) {
    const size_t eol = text.find('\n');
    std::string_view line = text.substr(0, eol);
    text.remove_prefix(eol == std::string_view::npos ? text.size() : eol + 1);
    const size_t colon = line.find(':');
    if (colon == std::string_view::npos) continue;
    const std::string_view key = Trim(line.substr(0, colon));
    const std::string_view value = Trim(line.substr(colon + 1));
    if (key == "processor") {
      processors.push_back({std::string(value), {}, {}, {}, {}, {}});
      continue;
    }
    if (processors.empty()) continue;
    Processor& p = processors.back();
    if (key == "cpu family")
      p.family = value;
    else if (key == "model")
      p.model = value;
    else if (key == "stepping")
      p.stepping = value;
    else if (key == "model name")
      p.name = value;
    else if (key == "cpu MHz")
      p.mhz = value;
  }
  return processors;
}

// One shell-style assignment value of os-release: quotes removed, and inside
// double quotes the backslash escapes of ", \, $ and ` resolved.
std::string Unquote(std::string_view value) {
  std::string out;
  char quote = 0;
  for (size_t i = 0; i < value.size(); ++i) {
    const char c = value[i];
    if (quote == 0 && (c == '"' || c == '\'')) {
      quote = c;
    } else if (quote != 0 && c == quote) {
      quote = 0;
    } else if (quote != '\'' && c == '\\' && i + 1 < value.size()) {
      out += value[++i];
    } else {
      out += c;
    }
  }
  return out;
}

std::optional<std::string> OsReleaseField(std::string_view text, std::string_view name) {
  std::optional<std::string> found;
  while (!text.empty()) {
    const size_t eol = text.find('\n');
    const std::string_view line = Trim(text.substr(0, eol));
    text.remove_prefix(eol == std::string_view::npos ? text.size() : eol + 1);
    const size_t eq = line.find('=');
    if (eq != std::string_view::npos && line.substr(0, eq) == name) {
      found = Unquote(line.substr(eq + 1));  // the last assignment holds
    }
  }
  return found;
}

int32_t ClampToInt32(int64_t n) {
  if (n > INT32_MAX) return INT32_MAX;
  if (n < INT32_MIN) return INT32_MIN;
  return static_cast<int32_t>(n);
}

std::optional<int32_t> InstallSeconds(const LinuxFactFiles& files) {
  struct statx sx {};
  if (statx(AT_FDCWD, files.root.c_str(), 0, STATX_BTIME, &sx) == 0 &&
      (sx.stx_mask & STATX_BTIME) != 0 && sx.stx_btime.tv_sec > 0) {
    return ClampToInt32(sx.stx_btime.tv_sec);
  }
  struct stat st {};
  if (stat(files.machine_id.c_str(), &st) == 0) return ClampToInt32(st.st_mtim.tv_sec);
  return std::nullopt;
}

// The facts that change only with a reboot or an upgrade.
struct StaticFacts {
  struct Cpu {
    uint32_t mhz = 0;
    std::optional<std::string> identifier;
    std::optional<std::string> name;
  };
  std::vector<Cpu> cpus;
  std::optional<std::string> product_name, version_id, machine_id, kernel_release;
  std::optional<int32_t> install_seconds;
};

StaticFacts ReadStaticFacts(const LinuxFactFiles& files) {
  StaticFacts facts;
  if (std::optional<std::string> cpuinfo = ReadBounded(files.cpuinfo, kMaxCpuInfoBytes)) {
    for (const Processor& p : ParseCpuInfo(*cpuinfo)) {
      StaticFacts::Cpu cpu;
      const std::optional<std::string> max_khz =
          CanonicalNumber(p.number)
              ? ReadBounded(files.cpu_sysfs + "/cpu" + p.number + "/cpufreq/cpuinfo_max_freq",
                            kMaxSmallFileBytes)
              : std::nullopt;
      const double khz = max_khz ? std::strtod(max_khz->c_str(), nullptr) : 0;
      const double mhz = khz > 0 ? khz / 1000 : std::strtod(p.mhz.c_str(), nullptr);
      if (mhz > 0 && mhz < UINT32_MAX) cpu.mhz = static_cast<uint32_t>(std::lround(mhz));
      if (!p.family.empty() && !p.model.empty() && !p.stepping.empty()) {
        cpu.identifier = "x86 Family " + p.family + " Model " + p.model + " Stepping " + p.stepping;
      }
      if (!p.name.empty()) cpu.name = p.name;
      facts.cpus.push_back(std::move(cpu));
    }
  }
  for (const std::string& path : files.os_release) {
    if (std::optional<std::string> text = ReadBounded(path, kMaxSmallFileBytes)) {
      facts.product_name = OsReleaseField(*text, "PRETTY_NAME").value_or("Linux");
      facts.version_id = OsReleaseField(*text, "VERSION_ID");
      break;
    }
  }
  if (std::optional<std::string> id = ReadBounded(files.machine_id, kMaxSmallFileBytes)) {
    const std::string_view first_line = Trim(std::string_view(*id).substr(0, id->find('\n')));
    // systemd writes "uninitialized" until the first boot completes.
    if (!first_line.empty() && first_line != "uninitialized") facts.machine_id = first_line;
  }
  struct utsname uts {};
  if (uname(&uts) == 0) facts.kernel_release = uts.release;
  facts.install_seconds = InstallSeconds(files);
  return facts;
}

// The user of the last login record in wtmp. Reads backwards from the end in
// whole records, so a growing file costs only its newest part.
std::optional<std::string> LastLoginUser(int fd, off_t size) {
  constexpr size_t kRecord = sizeof(struct utmpx);
  constexpr size_t kChunk = 256;  // records per read
  size_t records = static_cast<size_t>(size) / kRecord;
  const size_t oldest =
      records > kMaxWtmpScanBytes / kRecord ? records - kMaxWtmpScanBytes / kRecord : 0;
  std::vector<struct utmpx> chunk(kChunk);
  while (records > oldest) {
    const size_t count = std::min(kChunk, records - oldest);
    const size_t first = records - count;
    const ssize_t n = pread(fd, chunk.data(), count * kRecord, static_cast<off_t>(first * kRecord));
    if (n != static_cast<ssize_t>(count * kRecord)) return std::nullopt;
    for (size_t i = count; i-- > 0;) {
      const struct utmpx& r = chunk[i];
      if (r.ut_type == USER_PROCESS && r.ut_user[0] != '\0') {
        return std::string(r.ut_user, strnlen(r.ut_user, sizeof r.ut_user));
      }
    }
    records = first;
  }
  return std::nullopt;
}

enum class FactKey { kNone, kBranch, kComputerName, kWinlogon, kCurrentVersion, kProcessor };

// Fact keys and the keys above them, with their subkeys as Windows spells
// them. The processor keys below CentralProcessor are numbered separately.
struct KeyEntry {
  std::string_view path;
  FactKey kind;
  std::vector<std::string_view> subkeys;
};

const std::vector<KeyEntry>& KeyTable() {
  static const std::vector<KeyEntry> table = {
      {"", FactKey::kBranch, {"HARDWARE", "SOFTWARE", "SYSTEM"}},
      {"HARDWARE", FactKey::kBranch, {"DESCRIPTION"}},
      {"HARDWARE\\DESCRIPTION", FactKey::kBranch, {"System"}},
      {"HARDWARE\\DESCRIPTION\\System", FactKey::kBranch, {"CentralProcessor"}},
      {"HARDWARE\\DESCRIPTION\\System\\CentralProcessor", FactKey::kBranch, {}},
      {"SOFTWARE", FactKey::kBranch, {"Microsoft"}},
      {"SOFTWARE\\Microsoft", FactKey::kBranch, {"Windows NT"}},
      {"SOFTWARE\\Microsoft\\Windows NT", FactKey::kBranch, {"CurrentVersion"}},
      {"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion", FactKey::kCurrentVersion, {"Winlogon"}},
      {"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Winlogon", FactKey::kWinlogon, {}},
      {"SYSTEM", FactKey::kBranch, {"CurrentControlSet"}},
      {"SYSTEM\\CurrentControlSet", FactKey::kBranch, {"Control"}},
      {"SYSTEM\\CurrentControlSet\\Control", FactKey::kBranch, {"ComputerName"}},
      {"SYSTEM\\CurrentControlSet\\Control\\ComputerName", FactKey::kBranch, {"ComputerName"}},
      {"SYSTEM\\CurrentControlSet\\Control\\ComputerName\\ComputerName",
       FactKey::kComputerName,
       {}},
  };
  return table;
}

constexpr std::string_view kProcessorsPath = "HARDWARE\\DESCRIPTION\\System\\CentralProcessor";

class LinuxFacts final : public SystemFacts {
 public:
  explicit LinuxFacts(LinuxFactFiles files) : files_(std::move(files)) {}

  bool HasKey(RootKey root, std::string_view path) override {
    return Find(root, path).kind != FactKey::kNone;
  }

  std::vector<std::string> SubkeyNames(RootKey root, std::string_view path) override {
    const Found key = Find(root, path);
    std::vector<std::string> names;
    if (key.entry != nullptr) {
      for (std::string_view name : key.entry->subkeys) names.emplace_back(name);
      if (SameName(key.entry->path, kProcessorsPath)) {
        for (size_t i = 0; i < Static().cpus.size(); ++i) names.push_back(std::to_string(i));
      }
    }
    return names;
  }

  std::vector<NamedValue> Values(RootKey root, std::string_view path) override {
    const Found key = Find(root, path);
    std::vector<NamedValue> values;
    auto add = [&values](std::string_view name, RegValue value) {
      values.push_back({std::string(name), std::move(value)});
    };
    auto add_text = [&add](std::string_view name, const std::optional<std::string>& text) {
      if (text) add(name, Text(*text));
    };
    switch (key.kind) {
      case FactKey::kComputerName:
        add_text("ComputerName", HostName());
        break;
      case FactKey::kWinlogon:
        add_text("DefaultUserName", LastUser());
        break;
      case FactKey::kCurrentVersion: {
        const StaticFacts& s = Static();
        add_text("ProductName", s.product_name);
        add_text("CurrentVersion", s.version_id);
        add_text("CSDVersion", s.kernel_release);
        add_text("ProductId", s.machine_id);
        if (s.install_seconds) add("InstallDate", Dword(static_cast<uint32_t>(*s.install_seconds)));
        break;
      }
      case FactKey::kProcessor: {
        const StaticFacts::Cpu& cpu = Static().cpus[key.cpu];
        add("~MHz", Dword(cpu.mhz));
        add_text("Identifier", cpu.identifier);
        add_text("ProcessorNameString", cpu.name);
        break;
      }
      case FactKey::kNone:
      case FactKey::kBranch:
        break;
    }
    return values;
  }

 private:
  struct Found {
    FactKey kind = FactKey::kNone;
    const KeyEntry* entry = nullptr;  // for the keys of the table
    size_t cpu = 0;                   // for kProcessor
  };

  Found Find(RootKey root, std::string_view path) {
    if (root != RootKey::kLocalMachine) return {};
    for (const KeyEntry& entry : KeyTable()) {
      if (SameName(entry.path, path)) return {entry.kind, &entry, 0};
    }
    const size_t prefix = kProcessorsPath.size() + 1;
    if (path.size() > prefix && path[prefix - 1] == '\\' &&
        SameName(path.substr(0, prefix - 1), kProcessorsPath)) {
      const std::optional<uint32_t> n = CanonicalNumber(path.substr(prefix));
      if (n && *n < Static().cpus.size()) return {FactKey::kProcessor, nullptr, *n};
    }
    return {};
  }

  const StaticFacts& Static() {
    std::call_once(static_once_, [this] { static_ = ReadStaticFacts(files_); });
    return static_;
  }

  static std::optional<std::string> HostName() {
    char name[HOST_NAME_MAX + 1] = {};
    if (gethostname(name, sizeof name - 1) != 0 || name[0] == '\0') return std::nullopt;
    return std::string(name);
  }

  // Scans wtmp again only when it is another file or has changed.
  std::optional<std::string> LastUser() {
    struct stat st {};
    if (stat(files_.wtmp.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
    std::lock_guard<std::mutex> lock(wtmp_mutex_);
    if (wtmp_scanned_ && st.st_ino == wtmp_stat_.st_ino && st.st_dev == wtmp_stat_.st_dev &&
        st.st_size == wtmp_stat_.st_size && st.st_mtim.tv_sec == wtmp_stat_.st_mtim.tv_sec &&
        st.st_mtim.tv_nsec == wtmp_stat_.st_mtim.tv_nsec) {
      return wtmp_user_;
    }
    const int fd = open(files_.wtmp.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) return std::nullopt;
    // The file as opened: it may have been replaced since the stat above.
    const bool known = fstat(fd, &st) == 0;
    if (known) {
      wtmp_user_ = LastLoginUser(fd, st.st_size);
      wtmp_stat_ = st;
      wtmp_scanned_ = true;
    }
    close(fd);
    return known ? wtmp_user_ : std::nullopt;
  }

  const LinuxFactFiles files_;
  std::once_flag static_once_;
  StaticFacts static_;
  std::mutex wtmp_mutex_;
  bool wtmp_scanned_ = false;
  struct stat wtmp_stat_ {};
  std::optional<std::string> wtmp_user_;
};

}  // namespace

std::unique_ptr<SystemFacts> LinuxSystemFacts(const LinuxFactFiles& files) {
  return std::make_unique<LinuxFacts>(files);
}

std::unique_ptr<SystemFacts> LinuxSystemFacts() { return LinuxSystemFacts(LinuxFactFiles{}); }

}  // namespace quarrin
