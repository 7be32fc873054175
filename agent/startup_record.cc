#include "agent/startup_record.h"

#include "core/registry.h"
#include "core/time_texts.h"
#include "inventory/version_probes.h"
#include "platform/system/memory.h"

namespace quarrin {

std::string MakerKeyPath(const std::string& application) {
  return "\\SOFTWARE\\TARN\\" + application;
}

void WriteStartupRecord(RegistryStore& store, const std::string& application, Clock& clock,
                        const RegionalSettings& settings) {
  const std::string key = MakerKeyPath(application);
  Registry registry(store, kAccessReadWrite);
  registry.SetRootKey(RootKey::kLocalMachine);
  if (registry.OpenKey(key, false)) {
    registry.CloseKey();
  } else {
    registry.CreateKey(key);
  }
  if (!registry.OpenKey(key, false)) return;

  std::string version;
  GetFileVersionText("", "", &version);
  registry.WriteString("Version", version);
  registry.WriteString("Started", TimestampText(clock.Now(), clock, settings));
  registry.WriteString("Memory", MemoryText());
  registry.WriteString("Windows up time at Startup", UptimeText(clock));
  registry.CloseKey();
}

std::string ReadLocalSetting(RegistryStore& store, const std::string& application,
                             const std::string& name, const std::string& default_value) {
  Registry registry(store, kAccessReadWrite);
  registry.SetRootKey(RootKey::kLocalMachine);
  if (!registry.OpenKey(MakerKeyPath(application), false)) return default_value;
  std::string value = registry.ReadString(name);
  if (value.empty() && !default_value.empty()) {
    registry.WriteString(name, default_value);
    value = default_value;
  }
  registry.CloseKey();
  return value;
}

}  // namespace quarrin
