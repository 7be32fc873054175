#include "disk/series_names.h"

#include <algorithm>
#include <cstdlib>
#include <utility>

#include "core/registry.h"
#include "core/service_identity.h"
#include "core/time_texts.h"
#include "disk/disk_history.h"

namespace quarrin {

namespace {

// Subkeys named by whole numbers, in numeric order; other names are not ours.
std::vector<std::pair<long, std::string>> EntryKeys(Registry& reg) {
  std::vector<std::pair<long, std::string>> keys;
  for (std::string& name : reg.GetKeyNames()) {
    char* end = nullptr;
    const long n = std::strtol(name.c_str(), &end, 10);
    if (!name.empty() && *end == '\0' && n > 0) keys.emplace_back(n, std::move(name));
  }
  std::sort(keys.begin(), keys.end());
  return keys;
}

void ReadSetting(Registry& reg, std::string_view name, std::string* setting) {
  std::string text = reg.ReadString(name);
  if (!text.empty()) *setting = std::move(text);
}

}  // namespace

std::string NameFormatsKeyPath() {
  return std::string(kServicesKey) + kServiceName + "\\C_Drive(Formats)";
}

bool SameNameFormats(const RegionalSettings& a, const RegionalSettings& b) {
  return a.short_date_format == b.short_date_format && a.long_time_format == b.long_time_format &&
         a.date_separator == b.date_separator && a.time_separator == b.time_separator;
}

std::vector<NameFormats> ReadNameFormats(RegistryStore& store) {
  Registry reg(store, kAccessRead);
  reg.SetRootKey(RootKey::kLocalMachine);
  std::vector<NameFormats> formats;
  if (!reg.OpenKeyReadOnly(NameFormatsKeyPath())) return formats;
  const std::string base = reg.CurrentPath() + "\\";
  for (const auto& [number, key] : EntryKeys(reg)) {
    if (!reg.OpenKeyReadOnly(base + key)) continue;
    NameFormats f;
    ReadSetting(reg, "sShortDate", &f.settings.short_date_format);
    ReadSetting(reg, "sTimeFormat", &f.settings.long_time_format);
    ReadSetting(reg, "sDate", &f.settings.date_separator);
    ReadSetting(reg, "sTime", &f.settings.time_separator);
    // An entry without its time covers everything before the next one.
    if (reg.ValueExists("Since")) f.since.days = reg.ReadFloat("Since");
    formats.push_back(std::move(f));
  }
  return formats;
}

void NoteNameFormats(RegistryStore& store, const RegionalSettings& settings, DateTime t) {
  store.Atomically([&](RegistryStore& s) {
    Registry reg(s, kAccessReadWrite);
    reg.SetRootKey(RootKey::kLocalMachine);
    const std::string path = NameFormatsKeyPath();
    if (!reg.OpenKey(path, true)) throw RegistryError("Failed to create key " + path);
    const auto keys = EntryKeys(reg);
    if (!keys.empty()) {
      const std::string newest = path + "\\" + keys.back().second;
      const std::vector<NameFormats> remembered = ReadNameFormats(s);
      if (!remembered.empty() && SameNameFormats(remembered.back().settings, settings)) {
        if (t < remembered.back().since && reg.OpenKey(newest, false)) {
          reg.WriteFloat("Since", t.days);
        }
        return;
      }
    }
    const std::string entry =
        path + "\\" + std::to_string(keys.empty() ? 1 : keys.back().first + 1);
    if (!reg.OpenKey(entry, true)) throw RegistryError("Failed to create key " + entry);
    reg.WriteString("sShortDate", settings.short_date_format);
    reg.WriteString("sTimeFormat", settings.long_time_format);
    reg.WriteString("sDate", settings.date_separator);
    reg.WriteString("sTime", settings.time_separator);
    reg.WriteFloat("Since", t.days);
  });
}

SeriesNameReader::SeriesNameReader(RegionalSettings current, std::vector<NameFormats> remembered)
    : current_(std::move(current)), remembered_(std::move(remembered)) {}

bool SeriesNameReader::Read(Parser parse, std::string_view name, DateTime reference,
                            DateTime* out) const {
  DateTime t;
  for (size_t i = remembered_.size(); i-- > 0;) {
    if (!parse(name, remembered_[i].settings, reference, &t)) continue;
    const bool after_start = t >= remembered_[i].since;
    const bool before_next = i + 1 == remembered_.size() || t < remembered_[i + 1].since;
    if (after_start && before_next) {
      *out = t;
      return true;
    }
  }
  if (parse(name, current_, reference, out)) return true;
  for (size_t i = remembered_.size(); i-- > 0;) {
    if (parse(name, remembered_[i].settings, reference, out)) return true;
  }
  return false;
}

bool SeriesNameReader::DayName(std::string_view name, DateTime reference, DateTime* out) const {
  return Read(&ParseTimestampText, name, reference, out);
}

bool SeriesNameReader::RollUpName(std::string_view name, DateTime reference,
                                  DateTime* out) const {
  return Read(&ParseRollUpName, name, reference, out);
}

}  // namespace quarrin
