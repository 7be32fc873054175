// Version probes of the inventory: texts of version resources and the
// version of the installed database engine.
#ifndef QUARRIN_INVENTORY_VERSION_PROBES_H_
#define QUARRIN_INVENTORY_VERSION_PROBES_H_

#include <string>

#include "core/file_version.h"
#include "platform/registry/registry_store.h"

namespace quarrin {

// One named text ("FileVersion" when name is empty) of the file's version
// resource, looked up under its first translation ("\StringFileInfo\" + eight
// upper-case hex digits of language * 65536 + code page); the name matches
// without regard to case. *out is cleared first and stays empty for a missing
// file, a file without the resource or without that text; at most 254
// characters. An empty file name means the running executable.
void GetFileVersionText(const std::string& value_name, const std::string& file_name,
                        std::string* out);

// The version of the installed database engine: the fixed version of
// "IDAPI32.dll" in the folder that HKLM\SOFTWARE\Borland\Database Engine
// names in "DLLPath" (the value and the file name joined as they are, so the
// folder needs its trailing "/"). The neutral value when there is no engine
// key, no such file or no stamp in it. Throws RegistryError when "DLLPath"
// is not text.
void GetBDEVersion(RegistryStore& store, tFileVersion* version);

}  // namespace quarrin

#endif  // QUARRIN_INVENTORY_VERSION_PROBES_H_
