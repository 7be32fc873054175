// Names and registration values of the agent's service and its starter.
#ifndef QUARRIN_CORE_SERVICE_IDENTITY_H_
#define QUARRIN_CORE_SERVICE_IDENTITY_H_

#include <cstdint>

namespace quarrin {

inline constexpr char kServiceName[] = "TARNQuarrinSrvc";
inline constexpr char kServiceDisplayName[] = "TARN Quarrin Service";
inline constexpr char kStarterServiceName[] = "TARNStartSrvc";
inline constexpr char kStarterDisplayName[] = "TARN Starter Service";
inline constexpr char kAppName[] = "QuarrinSrvc";

// Service keys below HKEY_LOCAL_MACHINE.
inline constexpr char kServicesKey[] = "\\System\\CurrentControlSet\\Services\\";
inline constexpr char kEventLogSourcesKey[] =
    "\\System\\CurrentControlSet\\Services\\Eventlog\\Application\\";

// Registration values: own process (0x10) allowed to interact with the
// desktop (0x100), started at boot, normal error control, LocalSystem.
inline constexpr int32_t kServiceType = 0x110;
inline constexpr int32_t kServiceStartAuto = 2;
inline constexpr int32_t kServiceErrorNormal = 1;
inline constexpr char kServiceAccount[] = "LocalSystem";

}  // namespace quarrin

#endif  // QUARRIN_CORE_SERVICE_IDENTITY_H_
