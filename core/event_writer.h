// WriteEventLog bound to one event source (the service's name, or the
// executable's file name for messages before a service exists).
#ifndef QUARRIN_CORE_EVENT_WRITER_H_
#define QUARRIN_CORE_EVENT_WRITER_H_

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/eventlog/event_log.h"

namespace quarrin {

class EventWriter {
 public:
  EventWriter(EventLog& log, std::string source) : log_(log), source_(std::move(source)) {}
  // Never fails visibly. Callable from any thread.
  void WriteEventLog(std::string_view text, EventType type, uint16_t category,
                     uint32_t id) const noexcept {
    log_.Write(source_, text, type, category, id);
  }
  const std::string& source() const { return source_; }

 private:
  EventLog& log_;
  std::string source_;
};

}  // namespace quarrin

#endif  // QUARRIN_CORE_EVENT_WRITER_H_
