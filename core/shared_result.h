// A costly result that callers share: it is made by one caller at a time,
// callers that come while it is being made wait for that making and take
// its outcome, and a result younger than max_age is handed out again.
#ifndef QUARRIN_CORE_SHARED_RESULT_H_
#define QUARRIN_CORE_SHARED_RESULT_H_

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>

#include "platform/time/clock.h"

namespace quarrin {

// Safe for concurrent use by multiple threads.
template <typename T>
class SharedResult {
 public:
  // `make` runs on the thread of the caller that finds no fresh result; an
  // exception it throws reaches that caller and those waiting for it, and
  // is not kept. Ages are measured on `clock`'s time since boot.
  SharedResult(Clock& clock, std::function<T()> make, std::chrono::milliseconds max_age)
      : clock_(clock), make_(std::move(make)), max_age_(max_age) {}

  std::shared_ptr<const T> Get() {
    std::unique_lock lock(mu_);
    if (making_) {
      const uint64_t awaited = made_;
      done_.wait(lock, [&] { return made_ != awaited; });
      if (error_) std::rethrow_exception(error_);
      return result_;
    }
    if (result_ && clock_.SinceBoot() - made_at_ < max_age_) return result_;
    making_ = true;
    lock.unlock();
    std::shared_ptr<const T> result;
    std::exception_ptr error;
    try {
      result = std::make_shared<const T>(make_());
    } catch (...) {
      error = std::current_exception();
    }
    lock.lock();
    making_ = false;
    ++made_;
    error_ = error;
    if (result) {
      result_ = result;
      made_at_ = clock_.SinceBoot();
    }
    done_.notify_all();
    if (error) std::rethrow_exception(error);
    return result;
  }

 private:
  Clock& clock_;
  const std::function<T()> make_;
  const std::chrono::milliseconds max_age_;
  std::mutex mu_;
  std::condition_variable done_;
  bool making_ = false;
  uint64_t made_ = 0;  // makings finished, failed ones included
  std::exception_ptr error_;  // of the last making
  std::shared_ptr<const T> result_;
  std::chrono::milliseconds made_at_{};
};

}  // namespace quarrin

#endif  // QUARRIN_CORE_SHARED_RESULT_H_
