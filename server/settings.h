// The fleet server's settings, read from one file of "key = value" lines.
//
// Blank lines and lines whose first non-blank character is "#" are ignored;
// blanks around the key and the value are not part of them. Every key may
// appear once; an unknown key, a repeated key or a value that does not read
// is an error that names the file's line. A key that is not written keeps
// its default (the members' initial values below).
#ifndef QUARRIN_SERVER_SETTINGS_H_
#define QUARRIN_SERVER_SETTINGS_H_

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "http/client_access.h"

namespace quarrin {

// A settings text that does not read. what() is "<origin>:<line>: <reason>".
class SettingsError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct ServerSettings {
  // HTTP: every local address when empty.
  std::string listen_address;
  uint16_t port = 8090;
  // Syslog collector (UDP); 0: no collector.
  uint16_t syslog_port = 514;
  // A postgresql:// URI or a libpq keyword string ("host=/run/pg dbname=x").
  std::string database = "dbname=quarrin";
  unsigned database_pool_size = 4;
  std::chrono::milliseconds database_pool_wait{2000};
  // Callers that may wait for a session at once; one more is refused at
  // once (the intake's SOAP fault with 503).
  unsigned database_pool_queue = 8;
  std::chrono::seconds database_connect_timeout{5};
  std::chrono::milliseconds database_statement_timeout{5000};
  // Off behind a pooler that hands a session to another client between
  // transactions (PgBouncer in transaction mode): a statement prepared on
  // one session would be missing on the next.
  bool database_prepared_statements = true;
  // The caller identifications (the SOAP operations' guid) accepted; any
  // other is answered rcFailedGuid.
  std::vector<std::string> accepted_callers;  // default: the agent's own
  // The minisign public key line that published builds must be signed with.
  std::string update_key;
  // Bearer tokens of the read API; none: every API call is refused.
  std::vector<std::string> api_tokens;
  // Who may post inventory reports; empty: everyone.
  AddressList intake_allowed_clients;
  std::string intake_allowed_clients_text;  // as written, for messages
  // PEM files; both set: the port speaks HTTPS only.
  std::string tls_certificate;
  std::string tls_key;
  // A run of application calls from one machine is one full report when no
  // further call of that machine has come for this long.
  std::chrono::seconds report_quiet_period{300};
  size_t max_body_bytes = 1u << 20;
  // Connections the HTTP port holds at once (waiting for their request or
  // being answered, each answered one on a thread of its own); one more is
  // refused at once with 503.
  unsigned max_connections = 256;
  // Of those, the intake's calls that may be in hand at once; one more is
  // refused as its request arrives, before it costs a thread. 0: as many as
  // the database pool serves and queues (database_pool_size +
  // database_pool_queue), past which a call could only be refused later.
  unsigned intake_connections = 0;
  // Syslog events and history older than this are dropped, a month at a
  // time (history_retention.h).
  int events_retention_days = 90;
  int history_retention_days = 1096;
  // The update site: where published builds are kept, the rings before
  // "main" in order (publish puts a build into the first), and the Debug
  // and Syslog values of every manifest.
  std::string downloads_folder = "downloads";
  std::vector<std::string> rings{"pilot"};
  std::string manifest_debug = "Off";
  std::string manifest_syslog;
  // The console: a session ends after this long unused, or this long after
  // its login, whichever comes first.
  std::chrono::minutes console_session_idle{60};
  std::chrono::hours console_session_lifetime{8};
  // The largest request body the console takes (a build to publish);
  // everything else stays within max_body_bytes.
  size_t console_upload_max_bytes = 64u << 20;
  // The zone whose midnight starts "today" on the fleet page.
  std::string console_time_zone = "UTC";
  // The agents' HTTP port, as the console reaches them; the time allowed
  // to connect, to answer a page or command, and to answer an update check
  // (which downloads first); the largest answer taken.
  uint16_t agent_port = 88;
  std::chrono::seconds agent_connect_timeout{3};
  std::chrono::seconds agent_read_timeout{10};
  std::chrono::seconds agent_update_timeout{60};
  size_t agent_max_bytes = 4u << 20;
  // The agents' short date format, in which an acquisition date is sent.
  std::string agent_date_format = "dd/MM/yyyy";
  // Audit log entries older than this are deleted.
  int audit_retention_days = 365;
  // A ring's rollout halts when at least this many of its machines, and at
  // least this share of those that took or tried the new build, logged an
  // update failure or went silent for rollout_silent_minutes after
  // restarting into it.
  int rollout_halt_machines = 2;
  int rollout_halt_percent = 10;
  std::chrono::minutes rollout_silent{60};

  ServerSettings();
};

// Reads a settings text; `origin` names it in messages (the file's path).
// Throws SettingsError.
ServerSettings ParseServerSettings(std::string_view text, const std::string& origin);

// Reads the settings file at `path`. Throws SettingsError, also when the
// file cannot be read.
ServerSettings ReadServerSettings(const std::string& path);

}  // namespace quarrin

#endif  // QUARRIN_SERVER_SETTINGS_H_
