// The event log kept in SQLite, mirrored to syslog(3).
#include <sys/stat.h>
#include <syslog.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <filesystem>
#include <cstdio>
#include <memory>
#include <mutex>
#include <set>
#include <stdexcept>
#include <string>

#include "platform/time/clock.h"
#include "platform/eventlog/event_log.h"
#include "platform/files/file_io.h"
#include "platform/files/paths.h"
#include "platform/files/private_files.h"
#include "platform/registry/sqlite_db_linux.h"

namespace quarrin {

namespace {

constexpr char kSchema[] =
    "CREATE TABLE IF NOT EXISTS events("
    " seq INTEGER PRIMARY KEY AUTOINCREMENT,"
    " time TEXT NOT NULL,"
    " source TEXT NOT NULL,"
    " type INTEGER NOT NULL,"
    " category INTEGER NOT NULL,"
    " id INTEGER NOT NULL,"
    " text TEXT NOT NULL)";

// CR and LF as the two characters \r and \n, so an entry stays on one line.
std::string EscapeLineBreaks(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char ch : text) {
    if (ch == '\r') {
      out += "\\r";
    } else if (ch == '\n') {
      out += "\\n";
    } else {
      out += ch;
    }
  }
  return out;
}

std::string LocalIsoTime() {
  const CivilTime c = DecodeDateTime(SystemClock().Now());
  char buf[40];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02d:%02d.%03d", c.year, c.month, c.day,
                c.hour, c.minute, c.second, c.millisecond);
  return buf;
}

int SyslogPriority(EventType type) {
  switch (type) {
    case EventType::kError:
      return LOG_ERR;
    case EventType::kWarning:
      return LOG_WARNING;
    case EventType::kSuccess:
      return LOG_NOTICE;
    case EventType::kInformation:
      break;
  }
  return LOG_INFO;
}

// syslog(3) keeps the ident pointer that openlog() was given, and the
// connection is process-wide; every use goes through this one lock, and each
// ident is kept for the life of the process (a process has one or two).
std::mutex syslog_mu;

void ToSyslog(std::string_view source, int priority, std::string_view message) {
  static std::set<std::string, std::less<>>* idents = new std::set<std::string, std::less<>>;
  static const char* current = nullptr;
  std::lock_guard lock(syslog_mu);
  auto it = idents->find(source);
  if (it == idents->end()) it = idents->emplace(source).first;
  if (current != it->c_str()) {
    current = it->c_str();
    openlog(current, LOG_PID, LOG_DAEMON);
  }
  syslog(priority, "%s", EscapeLineBreaks(message).c_str());
}

class SqliteEventLog final : public EventLog {
 public:
  explicit SqliteEventLog(std::string path) : path_(std::move(path)) {}

  void SetMaxBytes(uint64_t bytes) override {
    max_bytes_ = std::max(bytes, kMinEventLogMaxBytes);
  }

  void Write(std::string_view source, std::string_view whole_text, EventType type,
             uint16_t category, uint32_t id) noexcept override {
    std::string cut;
    std::string_view text = whole_text;
    try {
      if (text.size() > kMaxEventTextBytes) text = cut = CutEventText(whole_text);
    } catch (...) {
      text = whole_text.substr(0, kMaxEventTextBytes);  // out of memory: cut unmarked
    }
    try {
      ToSyslog(source, SyslogPriority(type), text);
    } catch (...) {
      // Out of memory while mirroring: the database below still gets its try.
    }
    try {
      const std::string time = LocalIsoTime();
      std::lock_guard lock(mu_);
      try {
        if (!db_) db_ = OpenDb(/*make_folder=*/true);
        SqliteStatement insert(*db_,
                               "INSERT INTO events(time, source, type, category, id, text)"
                               " VALUES(?1, ?2, ?3, ?4, ?5, ?6)");
        insert.Bind(1, time)
            .Bind(2, source)
            .Bind(3, static_cast<int64_t>(type))
            .Bind(4, static_cast<int64_t>(category))
            .Bind(5, static_cast<int64_t>(id))
            .Bind(6, text);
        insert.Run();
        Trim();
      } catch (...) {
        // Open afresh next time: the file may have been fixed meanwhile.
        db_.reset();
        throw;
      }
    } catch (const std::exception& e) {
      ReportLost(source, text, e.what());
    } catch (...) {
      ReportLost(source, text, "unknown failure");
    }
  }

  std::vector<EventRecord> Read(std::optional<std::string> source) override {
    struct stat st;
    if (stat(path_.c_str(), &st) != 0 && errno == ENOENT) return {};  // nothing written yet
    if (access(path_.c_str(), R_OK) != 0) {
      throw std::runtime_error(ErrnoMessage(path_ + ": cannot read", errno));
    }
    std::lock_guard lock(mu_);
    if (!db_) db_ = OpenDb(/*make_folder=*/false);
    SqliteStatement select(*db_, source ? "SELECT seq, time, source, type, category, id, text"
                                          " FROM events WHERE source = ?1 COLLATE NOCASE"
                                          " ORDER BY seq"
                                        : "SELECT seq, time, source, type, category, id, text"
                                          " FROM events ORDER BY seq");
    if (source) select.Bind(1, *source);
    std::vector<EventRecord> records;
    while (select.Step()) {
      EventRecord r;
      r.sequence = select.ColumnInt(0);
      r.time = select.ColumnText(1);
      r.source = select.ColumnText(2);
      r.type = static_cast<EventType>(select.ColumnInt(3));
      r.category = static_cast<uint16_t>(select.ColumnInt(4));
      r.id = static_cast<uint32_t>(select.ColumnInt(5));
      r.text = select.ColumnText(6);
      records.push_back(std::move(r));
    }
    return records;
  }

 private:
  std::unique_ptr<SqliteDb> OpenDb(bool make_folder) {
    if (make_folder) {
      const std::filesystem::path folder = std::filesystem::path(path_).parent_path();
      if (!folder.empty()) MakePrivateFolder(folder.string());
      MakePrivateFile(path_);
    }
    auto db = std::make_unique<SqliteDb>(path_);
    db->Exec(kSchema);
    return db;
  }

  int64_t Pragma(const char* name) {
    SqliteStatement q(*db_, std::string("PRAGMA ") + name);
    return q.Step() ? q.ColumnInt(0) : 0;
  }

  // Keeps the pages in use within the cap. The oldest tenth of the entries
  // goes at a time; the pages it frees take the next entries, so the file
  // stays about the size of the cap and a trim runs once in many writes.
  void Trim() {
    const int64_t max = static_cast<int64_t>(max_bytes_.load());
    for (;;) {
      const int64_t used = (Pragma("page_count") - Pragma("freelist_count")) * Pragma("page_size");
      if (used <= max) return;
      db_->Exec(
          "DELETE FROM events WHERE seq IN (SELECT seq FROM events ORDER BY seq"
          " LIMIT (SELECT MAX(1, COUNT(*) / 10) FROM events))");
      if (db_->Changes() == 0) return;
    }
  }

  // A lost entry is never dropped silently: its text goes to standard error
  // and to syslog(3) with the reason it could not be kept.
  void ReportLost(std::string_view source, std::string_view text, const char* reason) noexcept {
    try {
      std::string message = "event log " + path_ + ": entry not kept (" + reason + "): " +
                            std::string(source) + ": " + std::string(text);
      std::fprintf(stderr, "%s\n", EscapeLineBreaks(message).c_str());
      ToSyslog(source, LOG_ERR, message);
    } catch (...) {
      std::fputs("event log: entry not kept\n", stderr);
    }
  }

  const std::string path_;
  std::mutex mu_;
  std::unique_ptr<SqliteDb> db_;
  std::atomic<uint64_t> max_bytes_{kDefaultEventLogMaxBytes};
};

}  // namespace

std::unique_ptr<EventLog> OpenEventLog(const std::string& db_path) {
  return std::make_unique<SqliteEventLog>(db_path);
}

std::string CutEventText(std::string_view text) {
  if (text.size() <= kMaxEventTextBytes) return std::string(text);
  const std::string mark = " [cut from " + std::to_string(text.size()) + " bytes]";
  size_t keep = kMaxEventTextBytes - mark.size();
  // Not inside a UTF-8 character.
  while (keep > 0 && (static_cast<unsigned char>(text[keep]) & 0xC0) == 0x80) --keep;
  return std::string(text.substr(0, keep)) + mark;
}

std::string FormatEventLine(const EventRecord& record) {
  return std::to_string(record.sequence) + '\t' + record.time + '\t' +
         EscapeLineBreaks(record.source) + '\t' +
         std::to_string(static_cast<unsigned>(record.type)) + '\t' +
         std::to_string(record.category) + '\t' + std::to_string(record.id) + '\t' +
         EscapeLineBreaks(record.text);
}

}  // namespace quarrin
