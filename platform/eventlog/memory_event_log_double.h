// An event log held in memory, for tests.
#ifndef QUARRIN_PLATFORM_EVENTLOG_MEMORY_EVENT_LOG_DOUBLE_H_
#define QUARRIN_PLATFORM_EVENTLOG_MEMORY_EVENT_LOG_DOUBLE_H_

#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/eventlog/event_log.h"

namespace quarrin {

// Safe for concurrent use by multiple threads.
class MemoryEventLog final : public EventLog {
 public:
  void Write(std::string_view source, std::string_view text, EventType type, uint16_t category,
             uint32_t id) noexcept override {
    std::lock_guard lock(mu);
    EventRecord r;
    r.source = source;
    r.text = text;
    r.type = type;
    r.category = category;
    r.id = id;
    entries.push_back(r);
  }
  // Every entry, whatever the source.
  std::vector<EventRecord> Read(std::optional<std::string>) override {
    std::lock_guard lock(mu);
    return entries;
  }

  std::mutex mu;
  std::vector<EventRecord> entries;
};

}  // namespace quarrin

#endif  // QUARRIN_PLATFORM_EVENTLOG_MEMORY_EVENT_LOG_DOUBLE_H_
