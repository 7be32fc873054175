#include "diag/syslog_catalogue.h"

#include <algorithm>
#include <initializer_list>
#include <stdexcept>

namespace quarrin {

namespace {

constexpr SyslogCatalogueEntry kCatalogue[] = {
    {SyslogCode::kSyslogTest, 5, "-00002: ", "Syslog test asked for on the agent's HTTP port"},
    {SyslogCode::kDownloadFileFailed, 1, "-10000: ",
     "Update download failed: the download file could not be created"},
    {SyslogCode::kDownloadStatus, 1, "-10020: iResponseCode=",
     "Update download failed: the server answered with a status other than 200"},
    {SyslogCode::kUpdateRefused, 1, "-10030: Update refused: ",
     "Downloaded update refused: its signature does not hold"},
    {SyslogCode::kExecute, 5, "-50000: ", "Agent started (program and version)"},
    {SyslogCode::kServiceStop, 5, "-50001: ", "Service stopped"},
    {SyslogCode::kServiceStart, 5, "-50002: ", "Service started"},
    {SyslogCode::kServiceShutdown, 5, "-50003: ", "Service stopped for the system's shutdown"},
    {SyslogCode::kUpdateCheck, 5, "-50090: Check for update. Current version: ",
     "Update check: current and offered version, and whether an update is available"},
    {SyslogCode::kDownloadInitiated, 5, "-50100: ~", "Update download started"},
    {SyslogCode::kDownloadCompleted, 5, "-50101: ~",
     "Update download ended (whether or not it succeeded)"},
    {SyslogCode::kRestarting, 5, "-50110: Restarting Service",
     "Update downloaded: the service restarts into it"},
    {SyslogCode::kMainMenu, 6, "-60000: ", "Someone opened the agent's menu page (their address)"},
};

std::string Concat(std::initializer_list<std::string_view> parts) {
  std::string text;
  for (std::string_view part : parts) text += part;
  return text;
}

}  // namespace

std::span<const SyslogCatalogueEntry> SyslogCatalogue() { return kCatalogue; }

const SyslogCatalogueEntry& CatalogueEntry(SyslogCode code) {
  auto it = std::find_if(std::begin(kCatalogue), std::end(kCatalogue),
                         [code](const SyslogCatalogueEntry& e) { return e.code == code; });
  if (it == std::end(kCatalogue)) {
    throw std::invalid_argument("no syslog message " + std::to_string(static_cast<int>(code)));
  }
  return *it;
}

const SyslogCatalogueEntry* FindCatalogueEntry(std::string_view digits) {
  for (const SyslogCatalogueEntry& e : kCatalogue) {
    if (e.prefix.substr(1, 5) == digits) return &e;
  }
  return nullptr;
}

SyslogMessage MakeSyslogMessage(SyslogCode code, std::string_view rest) {
  const SyslogCatalogueEntry& entry = CatalogueEntry(code);
  return {entry.severity,
          Concat({"%QUARN-", std::to_string(entry.severity), entry.prefix, rest})};
}

SyslogMessage SyslogTestMessage(std::string_view machine_name) {
  return MakeSyslogMessage(SyslogCode::kSyslogTest, Concat({"SYSLOG Test from ", machine_name}));
}

SyslogMessage DownloadFileFailedMessage(std::string_view error_message) {
  return MakeSyslogMessage(SyslogCode::kDownloadFileFailed, error_message);
}

SyslogMessage DownloadStatusMessage(int status) {
  return MakeSyslogMessage(SyslogCode::kDownloadStatus, std::to_string(status));
}

SyslogMessage UpdateRefusedMessage(std::string_view reason) {
  return MakeSyslogMessage(SyslogCode::kUpdateRefused, reason);
}

SyslogMessage ExecuteMessage(std::string_view exe, std::string_view version) {
  return MakeSyslogMessage(SyslogCode::kExecute, Concat({exe, " ", version, " execute"}));
}

SyslogMessage ServiceStopMessage() {
  return MakeSyslogMessage(SyslogCode::kServiceStop, "QUARRINSRVC stop");
}

SyslogMessage ServiceStartMessage() {
  return MakeSyslogMessage(SyslogCode::kServiceStart, "QUARRINSRVC start");
}

SyslogMessage ServiceShutdownMessage() {
  return MakeSyslogMessage(SyslogCode::kServiceShutdown, "QUARRINSRVC shutdown");
}

SyslogMessage UpdateCheckMessage(std::string_view version, std::string_view manifest_version,
                                 bool update_available) {
  return MakeSyslogMessage(
      SyslogCode::kUpdateCheck,
      Concat({version, " Update version: ", manifest_version, " ",
              update_available ? "Is available" : "Not required"}));
}

SyslogMessage DownloadInitiatedMessage(std::string_view exe) {
  return MakeSyslogMessage(SyslogCode::kDownloadInitiated, Concat({exe, " download initiated."}));
}

SyslogMessage DownloadCompletedMessage(std::string_view exe) {
  return MakeSyslogMessage(SyslogCode::kDownloadCompleted, Concat({exe, " download completed."}));
}

SyslogMessage RestartingMessage() { return MakeSyslogMessage(SyslogCode::kRestarting); }

SyslogMessage MainMenuMessage(std::string_view client_address) {
  return MakeSyslogMessage(SyslogCode::kMainMenu, Concat({client_address, " requested Main menue"}));
}

}  // namespace quarrin
