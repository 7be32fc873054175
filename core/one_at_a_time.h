// A piece of work run in the background, never twice at once: asked for
// while it runs, it is neither started again nor waited for.
#ifndef QUARRIN_CORE_ONE_AT_A_TIME_H_
#define QUARRIN_CORE_ONE_AT_A_TIME_H_

#include <functional>
#include <mutex>
#include <thread>

namespace quarrin {

// Safe for concurrent use by multiple threads.
class OneAtATime {
 public:
  // `work` handles its own errors; an exception that leaves it ends it.
  explicit OneAtATime(std::function<void()> work) : work_(std::move(work)) {}
  ~OneAtATime() { Wait(); }
  OneAtATime(const OneAtATime&) = delete;
  OneAtATime& operator=(const OneAtATime&) = delete;

  // Waits for a running work to end.
  void Wait() {
    std::thread last;
    {
      std::lock_guard lock(mu_);
      last = std::move(thread_);
    }
    if (last.joinable()) last.join();
  }

  // Starts the work on a thread of its own and returns at once; false when
  // it is running already.
  bool TryStart() {
    std::lock_guard lock(mu_);
    if (running_) return false;
    // The last run has ended, or is about to.
    if (thread_.joinable()) thread_.join();
    running_ = true;
    thread_ = std::thread([this] {
      try {
        work_();
      } catch (...) {
      }
      std::lock_guard done(mu_);
      running_ = false;
    });
    return true;
  }

 private:
  const std::function<void()> work_;
  std::mutex mu_;
  bool running_ = false;
  std::thread thread_;
};

}  // namespace quarrin

#endif  // QUARRIN_CORE_ONE_AT_A_TIME_H_
