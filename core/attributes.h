// The service's attributes: facts about the workstation kept as text values
// of the service's own key below HKEY_LOCAL_MACHINE (ServiceKeyPath()).
#ifndef QUARRIN_CORE_ATTRIBUTES_H_
#define QUARRIN_CORE_ATTRIBUTES_H_

#include <string>

#include "platform/registry/registry_store.h"

namespace quarrin {

struct tRegAttributes {
  std::string SerialNo;        // "SerialNo": serial number or service tag
  std::string InstallDate;     // "InstallDate": as entered
  std::string AquisitionDate;  // "AquisitionDate": as entered or looked up
  std::string Comment;         // read from "Comment", else "Comments"; written to "Comments"
  std::string DownloadURL;     // "DownloadURL", never written: base address of the update site
  bool operator==(const tRegAttributes&) const = default;
};

// "\System\CurrentControlSet\Services\TARNQuarrinSrvc".
std::string ServiceKeyPath();

// Fills the record from the service key. When the key cannot be opened the
// record is left as it was. A missing value reads as empty text; the
// comment is "Comment", or "Comments" when that is missing or empty (which
// is where WriteAttributes puts it); DownloadURL is default_download_url when
// its value is missing or empty. Throws RegistryError "Invalid data type for
// '%s'" for a value that is not text.
void ReadAttributes(RegistryStore& store, const std::string& default_download_url,
                    tRegAttributes* attributes);

// Writes "Description" = "Version: " + version_text, then "SerialNo",
// "InstallDate", "AquisitionDate" and "Comments" from the record, in that
// order, each only when its field is not empty (an empty field leaves the
// stored value as it was). Does nothing when the service key is missing.
// Never throws: a failure ends the write, and what was written stays.
void WriteAttributes(RegistryStore& store, const std::string& version_text,
                     const tRegAttributes& attributes) noexcept;

// The same for a caller that answers for the write: throws RegistryError
// when the service key is missing or a value cannot be written (what was
// written before stays).
void StoreAttributes(RegistryStore& store, const std::string& version_text,
                     const tRegAttributes& attributes);

}  // namespace quarrin

#endif  // QUARRIN_CORE_ATTRIBUTES_H_
