// The hand-over of a downloaded executable from the agent to the starter
// service: two values in the starter service's key, a stop request for the
// agent and a start request for the starter. Both sides of the exchange use
// the names and rules here.
#ifndef QUARRIN_UPDATE_HANDOVER_H_
#define QUARRIN_UPDATE_HANDOVER_H_

#include <string>
#include <string_view>

#include "platform/registry/registry_store.h"
#include "platform/service/service_manager.h"

namespace quarrin {

// The starter service's key below HKEY_LOCAL_MACHINE, and its two values.
std::string StarterKey();
inline constexpr char kServiceUpdateValue[] = "ServiceUpdate";
inline constexpr char kTargetServiceValue[] = "TargetService";

// The file name after the last separator ("/"; on Windows also "\"), the
// whole text when there is none.
std::string_view FileNameOf(std::string_view path);

// The downloaded file beside an executable: its folder + "~" + its name.
std::string DownloadPathBeside(std::string_view exe_path);

// The "ServiceUpdate" value for an executable: its path with the first
// occurrence of its file name (letter case as it is) replaced by "~" + the
// name. For /opt/TARN/QuarrinSrvc that is /opt/TARN/~QuarrinSrvc, the
// download beside it; in a folder whose name holds the file name the "~"
// lands in the folder part (/opt/QuarrinSrvc/QuarrinSrvc gives
// /opt/~QuarrinSrvc/QuarrinSrvc), which the starter service knows.
std::string HandOverPath(std::string_view exe_path);

// Writes "ServiceUpdate" and then "TargetService" into the starter
// service's key when that key exists; the key is never created. Returns
// false, without a message, when the key is missing or a write failed.
// Never throws.
bool WriteHandOverValues(RegistryStore& registry, const std::string& service_update,
                         const std::string& target_service);

// Asks the service manager to stop `service_name` and then to start the
// starter service; both return at once and their results are ignored.
// Never throws.
void RequestRestartThroughStarter(ServiceManager& manager, RegistryStore& registry,
                                  const std::string& service_name);

}  // namespace quarrin

#endif  // QUARRIN_UPDATE_HANDOVER_H_
