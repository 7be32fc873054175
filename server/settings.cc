#include "server/settings.h"

#include <cerrno>
#include <charconv>
#include <functional>
#include <map>
#include <set>

#include "platform/files/file_io.h"
#include "platform/net/ip_address.h"
#include "report/inventory_service.h"
#include "update/update_signature.h"

namespace quarrin {

namespace {

constexpr size_t kMaxSettingsBytes = 1u << 20;

std::string_view Trim(std::string_view text) {
  const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r'; };
  while (!text.empty() && blank(text.front())) text.remove_prefix(1);
  while (!text.empty() && blank(text.back())) text.remove_suffix(1);
  return text;
}

// A whole number from min to max, decimal digits only.
uint64_t Number(std::string_view value, uint64_t min, uint64_t max) {
  uint64_t n = 0;
  const auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), n);
  if (value.empty() || error != std::errc() || end != value.data() + value.size() || n < min ||
      n > max) {
    throw std::invalid_argument("'" + std::string(value) + "' is not a whole number from " +
                                std::to_string(min) + " to " + std::to_string(max));
  }
  return n;
}

bool Flag(std::string_view value) {
  if (value == "on" || value == "true" || value == "yes") return true;
  if (value == "off" || value == "false" || value == "no") return false;
  throw std::invalid_argument("'" + std::string(value) + "' is neither on nor off");
}

// Items separated by commas or blanks; empty items are dropped.
std::vector<std::string> List(std::string_view value) {
  std::vector<std::string> items;
  std::string item;
  for (char c : value) {
    if (c == ',' || c == ' ' || c == '\t') {
      if (!item.empty()) items.push_back(std::move(item));
      item.clear();
    } else {
      item += c;
    }
  }
  if (!item.empty()) items.push_back(std::move(item));
  return items;
}

using Setter = std::function<void(ServerSettings&, std::string_view)>;

const std::map<std::string, Setter, std::less<>>& Setters() {
  static const std::map<std::string, Setter, std::less<>> setters = {
      {"listen_address",
       [](ServerSettings& s, std::string_view v) {
         if (!v.empty() && !ParseIpAddress(v)) {
           throw std::invalid_argument("'" + std::string(v) + "' is not an IPv4 or IPv6 address");
         }
         s.listen_address = v;
       }},
      {"port", [](ServerSettings& s, std::string_view v) { s.port = Number(v, 1, 65535); }},
      {"syslog_port",
       [](ServerSettings& s, std::string_view v) { s.syslog_port = Number(v, 0, 65535); }},
      {"database",
       [](ServerSettings& s, std::string_view v) {
         if (v.empty()) throw std::invalid_argument("the database connection is empty");
         s.database = v;
       }},
      {"database_pool_size",
       [](ServerSettings& s, std::string_view v) { s.database_pool_size = Number(v, 1, 256); }},
      {"database_pool_wait_ms",
       [](ServerSettings& s, std::string_view v) {
         s.database_pool_wait = std::chrono::milliseconds(Number(v, 1, 600000));
       }},
      {"max_connections",
       [](ServerSettings& s, std::string_view v) { s.max_connections = Number(v, 16, 100000); }},
      {"intake_connections",
       [](ServerSettings& s, std::string_view v) { s.intake_connections = Number(v, 0, 100000); }},
      {"database_pool_queue",
       [](ServerSettings& s, std::string_view v) { s.database_pool_queue = Number(v, 0, 100000); }},
      {"database_connect_timeout_s",
       [](ServerSettings& s, std::string_view v) {
         // libpq takes at least 2 seconds.
         s.database_connect_timeout = std::chrono::seconds(Number(v, 2, 600));
       }},
      {"database_prepared_statements",
       [](ServerSettings& s, std::string_view v) { s.database_prepared_statements = Flag(v); }},
      {"database_statement_timeout_ms",
       [](ServerSettings& s, std::string_view v) {
         s.database_statement_timeout = std::chrono::milliseconds(Number(v, 1, 3600000));
       }},
      {"accepted_callers",
       [](ServerSettings& s, std::string_view v) {
         s.accepted_callers = List(v);
         if (s.accepted_callers.empty()) {
           throw std::invalid_argument("no caller identification: every report would be refused");
         }
       }},
      {"update_key",
       [](ServerSettings& s, std::string_view v) {
         if (!v.empty()) {
           try {
             ParseUpdatePublicKey(v);
           } catch (const SignatureError& e) {
             throw std::invalid_argument(e.what());
           }
         }
         s.update_key = v;
       }},
      {"api_tokens",
       [](ServerSettings& s, std::string_view v) {
         s.api_tokens = List(v);
         for (const std::string& token : s.api_tokens) {
           if (token.size() < 16) {
             throw std::invalid_argument("an API token must have at least 16 characters");
           }
         }
       }},
      {"intake_allowed_clients",
       [](ServerSettings& s, std::string_view v) {
         s.intake_allowed_clients = AddressList::Parse("intake_allowed_clients", v);
         s.intake_allowed_clients_text = v;
       }},
      {"tls_certificate", [](ServerSettings& s, std::string_view v) { s.tls_certificate = v; }},
      {"tls_key", [](ServerSettings& s, std::string_view v) { s.tls_key = v; }},
      {"report_quiet_period_s",
       [](ServerSettings& s, std::string_view v) {
         s.report_quiet_period = std::chrono::seconds(Number(v, 1, 86400));
       }},
      {"events_retention_days",
       [](ServerSettings& s, std::string_view v) {
         s.events_retention_days = static_cast<int>(Number(v, 1, 36500));
       }},
      {"history_retention_days",
       [](ServerSettings& s, std::string_view v) {
         s.history_retention_days = static_cast<int>(Number(v, 1, 36500));
       }},
      {"max_body_bytes",
       [](ServerSettings& s, std::string_view v) {
         s.max_body_bytes = Number(v, 1024, 256u << 20);
       }},
      {"rings",
       [](ServerSettings& s, std::string_view v) {
         s.rings = List(v);
         for (const std::string& ring : s.rings) {
           const bool name_ok = ring.find_first_not_of("abcdefghijklmnopqrstuvwxyz"
                                                       "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789_-") ==
                                std::string::npos;
           if (!name_ok || ring == "main") {
             throw std::invalid_argument("'" + ring + "' is not a ring name (letters, digits, "
                                         "_ and -; main is the last ring's)");
           }
         }
       }},
      {"manifest_debug", [](ServerSettings& s, std::string_view v) { s.manifest_debug = v; }},
      {"manifest_syslog", [](ServerSettings& s, std::string_view v) { s.manifest_syslog = v; }},
      {"console_session_idle_minutes",
       [](ServerSettings& s, std::string_view v) {
         s.console_session_idle = std::chrono::minutes(Number(v, 1, 7 * 24 * 60));
       }},
      {"console_session_hours",
       [](ServerSettings& s, std::string_view v) {
         s.console_session_lifetime = std::chrono::hours(Number(v, 1, 24 * 31));
       }},
      {"console_upload_max_bytes",
       [](ServerSettings& s, std::string_view v) {
         s.console_upload_max_bytes = Number(v, 1024, 1u << 30);
       }},
      {"console_time_zone",
       [](ServerSettings& s, std::string_view v) {
         if (v.empty() || v.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ"
                                              "0123456789/_+-") != std::string_view::npos) {
           throw std::invalid_argument("'" + std::string(v) +
                                       "' is not a time-zone name such as Europe/Berlin");
         }
         s.console_time_zone = v;
       }},
      {"downloads_folder",
       [](ServerSettings& s, std::string_view v) {
         if (v.empty()) throw std::invalid_argument("the downloads folder is empty");
         s.downloads_folder = v;
       }},
      {"agent_port",
       [](ServerSettings& s, std::string_view v) { s.agent_port = Number(v, 1, 65535); }},
      {"agent_connect_timeout_s",
       [](ServerSettings& s, std::string_view v) {
         s.agent_connect_timeout = std::chrono::seconds(Number(v, 1, 60));
       }},
      {"agent_read_timeout_s",
       [](ServerSettings& s, std::string_view v) {
         s.agent_read_timeout = std::chrono::seconds(Number(v, 1, 600));
       }},
      {"agent_update_timeout_s",
       [](ServerSettings& s, std::string_view v) {
         s.agent_update_timeout = std::chrono::seconds(Number(v, 1, 3600));
       }},
      {"agent_max_bytes",
       [](ServerSettings& s, std::string_view v) {
         s.agent_max_bytes = Number(v, 1024, 256u << 20);
       }},
      {"agent_date_format",
       [](ServerSettings& s, std::string_view v) {
         if (v.empty()) throw std::invalid_argument("the date format is empty");
         s.agent_date_format = v;
       }},
      {"audit_retention_days",
       [](ServerSettings& s, std::string_view v) {
         s.audit_retention_days = static_cast<int>(Number(v, 1, 36500));
       }},
      {"rollout_halt_machines",
       [](ServerSettings& s, std::string_view v) {
         s.rollout_halt_machines = static_cast<int>(Number(v, 1, 1000000));
       }},
      {"rollout_halt_percent",
       [](ServerSettings& s, std::string_view v) {
         s.rollout_halt_percent = static_cast<int>(Number(v, 0, 100));
       }},
      {"rollout_silent_minutes",
       [](ServerSettings& s, std::string_view v) {
         s.rollout_silent = std::chrono::minutes(Number(v, 1, 10080));
       }},
  };
  return setters;
}

}  // namespace

ServerSettings::ServerSettings() : accepted_callers{kInventoryCallerGuid} {}

ServerSettings ParseServerSettings(std::string_view text, const std::string& origin) {
  ServerSettings settings;
  std::set<std::string, std::less<>> seen;
  size_t number = 0;
  while (!text.empty()) {
    ++number;
    const size_t end = text.find('\n');
    std::string_view line = Trim(text.substr(0, end));
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    if (line.empty() || line.front() == '#') continue;
    const std::string where = origin + ":" + std::to_string(number) + ": ";
    const size_t equals = line.find('=');
    if (equals == std::string_view::npos) {
      throw SettingsError(where + "not a \"key = value\" line");
    }
    const std::string_view key = Trim(line.substr(0, equals));
    const std::string_view value = Trim(line.substr(equals + 1));
    const auto setter = Setters().find(key);
    if (setter == Setters().end()) {
      throw SettingsError(where + "unknown setting '" + std::string(key) + "'");
    }
    if (!seen.insert(std::string(key)).second) {
      throw SettingsError(where + std::string(key) + " is set twice");
    }
    try {
      setter->second(settings, value);
    } catch (const std::invalid_argument& e) {
      throw SettingsError(where + std::string(key) + ": " + e.what());
    }
  }
  if (settings.tls_certificate.empty() != settings.tls_key.empty()) {
    throw SettingsError(origin + ": tls_certificate and tls_key go together: set both or neither");
  }
  return settings;
}

ServerSettings ReadServerSettings(const std::string& path) {
  std::string text;
  bool cut = false;
  if (const int error = ReadFileCapped(path, kMaxSettingsBytes, &text, &cut); error != 0) {
    throw SettingsError(ErrnoMessage(path, error));
  }
  if (cut) throw SettingsError(path + ": larger than " + std::to_string(kMaxSettingsBytes) + " bytes");
  return ParseServerSettings(text, path);
}

}  // namespace quarrin
