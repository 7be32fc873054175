// The numbered syslog messages of the agent. Every message reads
//   "%QUARN-" + severity + "-" + five-digit code + ": " + body
// and is sent with facility 2. Each code's prefix holds the fixed first
// words of its body where there are any ("-50090: Check for update. Current
// version: "), so a message is "%QUARN-" + severity + prefix + the rest.
#ifndef QUARRIN_DIAG_SYSLOG_CATALOGUE_H_
#define QUARRIN_DIAG_SYSLOG_CATALOGUE_H_

#include <span>
#include <string>
#include <string_view>

namespace quarrin {

enum class SyslogCode {
  kSyslogTest = 2,             // 00002
  kDownloadFileFailed = 10000,
  kDownloadStatus = 10020,
  kUpdateRefused = 10030,  // a download whose signature does not hold
  kExecute = 50000,
  kServiceStop = 50001,
  kServiceStart = 50002,
  kServiceShutdown = 50003,
  kUpdateCheck = 50090,
  kDownloadInitiated = 50100,
  kDownloadCompleted = 50101,
  kRestarting = 50110,
  kMainMenu = 60000,
};

struct SyslogCatalogueEntry {
  SyslogCode code;
  int severity;
  std::string_view prefix;  // "-" + five digits + ": " + the fixed first words
  std::string_view meaning;  // when the agent sends it, for people reading the log
};

// The whole catalogue, in code order.
std::span<const SyslogCatalogueEntry> SyslogCatalogue();
// The entry of a code.
const SyslogCatalogueEntry& CatalogueEntry(SyslogCode code);
// The entry of a code's five digits ("50090"); null when there is none.
const SyslogCatalogueEntry* FindCatalogueEntry(std::string_view digits);

// One message ready for the sender.
struct SyslogMessage {
  int severity = 0;
  std::string text;
  bool operator==(const SyslogMessage&) const = default;
};

// "%QUARN-" + severity + prefix + rest, with the code's severity.
SyslogMessage MakeSyslogMessage(SyslogCode code, std::string_view rest = {});

// The messages, each with its exact text. exe is the executable's file name
// without its folder, version the running program's version text.
SyslogMessage SyslogTestMessage(std::string_view machine_name);            // 00002
SyslogMessage DownloadFileFailedMessage(std::string_view error_message);   // 10000
SyslogMessage DownloadStatusMessage(int status);                           // 10020
SyslogMessage UpdateRefusedMessage(std::string_view reason);               // 10030
SyslogMessage ExecuteMessage(std::string_view exe, std::string_view version);  // 50000
SyslogMessage ServiceStopMessage();                                        // 50001
SyslogMessage ServiceStartMessage();                                       // 50002
SyslogMessage ServiceShutdownMessage();                                    // 50003
// The manifest's version text is followed by a blank even when it is empty.
SyslogMessage UpdateCheckMessage(std::string_view version, std::string_view manifest_version,
                                 bool update_available);                  // 50090
SyslogMessage DownloadInitiatedMessage(std::string_view exe);              // 50100
SyslogMessage DownloadCompletedMessage(std::string_view exe);              // 50101
SyslogMessage RestartingMessage();                                         // 50110
SyslogMessage MainMenuMessage(std::string_view client_address);            // 60000

}  // namespace quarrin

#endif  // QUARRIN_DIAG_SYSLOG_CATALOGUE_H_
