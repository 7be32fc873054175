// The event log on Windows: the Application log of the machine, through the
// event-logging API; each source is registered once and kept for the life of
// the log.
#include "platform/eventlog/event_log.h"

#include <windows.h>
// Ours, not the macro that names the A or W function.
#undef OpenEventLog

#include <cstdio>
#include <cstring>
#include <cwchar>
#include <map>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <vector>

#include "platform/time/date_time.h"
#include "platform/registry/registry_store.h"
#include "platform/text/wide_text_windows.h"

namespace quarrin {

namespace {

std::string LocalIsoTime(int64_t unix_seconds) {
  const CivilTime c = DecodeDateTime(LocalDateTimeFromUnixMs(unix_seconds * 1000));
  char buf[40];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02d:%02d.%03d", c.year, c.month, c.day,
                c.hour, c.minute, c.second, c.millisecond);
  return buf;
}

// One entry of the log; nullopt when the record is malformed.
std::optional<EventRecord> FromRecord(const BYTE* bytes, DWORD length) {
  EVENTLOGRECORD header;
  if (length < sizeof header) return std::nullopt;
  std::memcpy(&header, bytes, sizeof header);
  if (header.Length > length || header.StringOffset > header.Length) return std::nullopt;
  const auto* end = reinterpret_cast<const wchar_t*>(bytes + header.Length);
  const auto* source = reinterpret_cast<const wchar_t*>(bytes + sizeof header);
  EventRecord record;
  record.sequence = header.RecordNumber;
  record.time = LocalIsoTime(header.TimeGenerated);
  record.source = Utf8FromWide(std::wstring_view(source, wcsnlen(source, end - source)));
  record.type = static_cast<EventType>(header.EventType);
  record.category = header.EventCategory;
  record.id = header.EventID;
  const auto* text = reinterpret_cast<const wchar_t*>(bytes + header.StringOffset);
  for (WORD i = 0; i < header.NumStrings && text < end; ++i) {
    const size_t n = wcsnlen(text, end - text);
    if (i > 0) record.text += '\n';
    record.text += Utf8FromWide(std::wstring_view(text, n));
    text += n + 1;
  }
  return record;
}

class WindowsEventLog final : public EventLog {
 public:
  ~WindowsEventLog() override {
    for (auto& [name, handle] : sources_) DeregisterEventSource(handle);
  }

  void Write(std::string_view source, std::string_view text, EventType type, uint16_t category,
             uint32_t id) noexcept override {
    try {
      HANDLE handle = Source(source);
      const std::wstring wide = WideFromUtf8Lenient(text);
      const wchar_t* strings[] = {wide.c_str()};
      if (handle == nullptr || !ReportEventW(handle, static_cast<WORD>(type), category, id, nullptr,
                                             1, 0, strings, nullptr)) {
        ReportLost(source, text, GetLastError());
      }
    } catch (...) {
      std::fputs("event log: entry not kept\n", stderr);
    }
  }

  std::vector<EventRecord> Read(std::optional<std::string> source) override {
    std::vector<EventRecord> records;
    HANDLE log = OpenEventLogW(nullptr, L"Application");
    if (log == nullptr) {
      throw std::runtime_error("Application event log: " + SystemErrorText(GetLastError()));
    }
    std::vector<BYTE> buffer(64 * 1024);
    for (;;) {
      DWORD read = 0, needed = 0;
      if (!ReadEventLogW(log, EVENTLOG_SEQUENTIAL_READ | EVENTLOG_FORWARDS_READ, 0, buffer.data(),
                         static_cast<DWORD>(buffer.size()), &read, &needed)) {
        const DWORD error = GetLastError();
        if (error == ERROR_INSUFFICIENT_BUFFER && needed > buffer.size()) {
          buffer.resize(needed);
          continue;
        }
        CloseEventLog(log);
        if (error == ERROR_HANDLE_EOF) break;
        throw std::runtime_error("Application event log: " + SystemErrorText(error));
      }
      for (DWORD at = 0; at < read;) {
        EVENTLOGRECORD header;
        if (read - at < sizeof header) break;
        std::memcpy(&header, buffer.data() + at, sizeof header);
        if (header.Length == 0) break;
        std::optional<EventRecord> record = FromRecord(buffer.data() + at, read - at);
        if (record && (!source || SameName(record->source, *source))) {
          records.push_back(std::move(*record));
        }
        at += header.Length;
      }
    }
    return records;
  }

 private:
  // The handle of a source, registered on its first entry; null when the
  // system refuses it.
  HANDLE Source(std::string_view source) {
    std::lock_guard lock(mu_);
    auto it = sources_.find(source);
    if (it != sources_.end()) return it->second;
    HANDLE handle = RegisterEventSourceW(nullptr, WideFromUtf8Lenient(source).c_str());
    if (handle != nullptr) sources_.emplace(std::string(source), handle);
    return handle;
  }

  // A lost entry is never dropped silently: its text goes to standard error
  // with the reason it could not be kept.
  static void ReportLost(std::string_view source, std::string_view text, DWORD error) noexcept {
    try {
      std::fprintf(stderr, "event log: entry not kept (%s): %.*s: %.*s\n",
                   SystemErrorText(error).c_str(), static_cast<int>(source.size()), source.data(),
                   static_cast<int>(text.size()), text.data());
    } catch (...) {
      std::fputs("event log: entry not kept\n", stderr);
    }
  }

  std::mutex mu_;
  std::map<std::string, HANDLE, std::less<>> sources_;
};

}  // namespace

// The machine's Application log; the path of the Linux stand-in's database
// means nothing here.
std::unique_ptr<EventLog> OpenEventLog(const std::string& /*db_path*/) {
  return std::make_unique<WindowsEventLog>();
}

}  // namespace quarrin
