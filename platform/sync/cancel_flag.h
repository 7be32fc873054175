// A request to abandon work in progress: set by the thread that learns of a
// stop, read by the transfers and tasks that must give up early.
#ifndef QUARRIN_PLATFORM_SYNC_CANCEL_FLAG_H_
#define QUARRIN_PLATFORM_SYNC_CANCEL_FLAG_H_

#include <atomic>

namespace quarrin {

// Safe for concurrent use by multiple threads.
class CancelFlag {
 public:
  void Set() { set_.store(true, std::memory_order_release); }
  void Clear() { set_.store(false, std::memory_order_release); }
  bool IsSet() const { return set_.load(std::memory_order_acquire); }

 private:
  std::atomic<bool> set_{false};
};

}  // namespace quarrin

#endif  // QUARRIN_PLATFORM_SYNC_CANCEL_FLAG_H_
