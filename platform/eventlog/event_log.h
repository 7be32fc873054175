// The persistent event log: entries of (time, source, type, category, ID,
// text) kept in a SQLite database in the state folder and mirrored to
// syslog(3) with the source as ident.
#ifndef QUARRIN_PLATFORM_EVENTLOG_EVENT_LOG_H_
#define QUARRIN_PLATFORM_EVENTLOG_EVENT_LOG_H_

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quarrin {

enum class EventType : uint16_t {
  kSuccess = 0,
  kError = 1,
  kWarning = 2,
  kInformation = 4,
};

struct EventRecord {
  int64_t sequence = 0;
  std::string time;  // local time, ISO 8601 with milliseconds
  std::string source;
  EventType type = EventType::kSuccess;
  uint16_t category = 0;
  uint32_t id = 0;
  std::string text;
};

// The log's size cap unless administrators set another: the MaxSize value
// (REG_DWORD, bytes) under the event-log source key of the service.
inline constexpr uint64_t kDefaultEventLogMaxBytes = uint64_t{20} << 20;  // 20 MiB
// A smaller cap is raised to this.
inline constexpr uint64_t kMinEventLogMaxBytes = uint64_t{64} << 10;  // 64 KiB
// A longer text is cut to this many bytes, its end marked with the length
// it had (CutEventText).
inline constexpr size_t kMaxEventTextBytes = size_t{32} << 10;  // 32 KiB

// `text` when it fits kMaxEventTextBytes; otherwise its beginning, cut at a
// character boundary, and " [cut from N bytes]", within the limit.
std::string CutEventText(std::string_view text);

// Safe for concurrent use by multiple threads and processes.
class EventLog {
 public:
  virtual ~EventLog() = default;
  // Appends one entry, its text cut by CutEventText. Never throws: a failure
  // to persist is reported on stderr and syslog(3) instead.
  virtual void Write(std::string_view source, std::string_view text, EventType type,
                     uint16_t category, uint32_t id) noexcept = 0;
  // Entries oldest first, all sources or one (compared without regard to case).
  virtual std::vector<EventRecord> Read(std::optional<std::string> source = std::nullopt) = 0;
  // Caps the log's size (at least kMinEventLogMaxBytes): once a write takes
  // it past the cap, the oldest entries make room. A log without a cap of
  // its own ignores this.
  virtual void SetMaxBytes(uint64_t /*bytes*/) {}
};

// The log kept at db_path, capped at kDefaultEventLogMaxBytes until told otherwise. Opening never fails: a database that cannot be
// opened is reported when an entry is written (and the entry still reaches
// syslog(3)). Read throws std::runtime_error naming the file.
std::unique_ptr<EventLog> OpenEventLog(const std::string& db_path);

// One line of `quarrinctl eventlog`: fields separated by tabs, CR and LF in
// the text written as \r and \n.
std::string FormatEventLine(const EventRecord& record);

}  // namespace quarrin

#endif  // QUARRIN_PLATFORM_EVENTLOG_EVENT_LOG_H_
