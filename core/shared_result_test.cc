#include "core/shared_result.h"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

#include "platform/time/fake_clock.h"

namespace quarrin {
namespace {

using namespace std::chrono_literals;

// A making that holds until the test lets it finish, and counts itself.
class HeldMaking {
 public:
  int operator()() {
    std::unique_lock lock(mu_);
    const int number = ++started_;
    started_changed_.notify_all();
    released_changed_.wait(lock, [&] { return released_ >= number; });
    if (fail_) throw std::runtime_error("walk failed");
    return number;
  }
  void WaitStarted(int count) {
    std::unique_lock lock(mu_);
    started_changed_.wait(lock, [&] { return started_ >= count; });
  }
  void Release(int count, bool fail = false) {
    std::lock_guard lock(mu_);
    released_ = count;
    fail_ = fail;
    released_changed_.notify_all();
  }
  int started() {
    std::lock_guard lock(mu_);
    return started_;
  }

 private:
  std::mutex mu_;
  std::condition_variable started_changed_, released_changed_;
  int started_ = 0;
  int released_ = 0;
  bool fail_ = false;
};

TEST(SharedResultTest, CallersDuringAMakingShareItAndAYoungResultIsServedAgain) {
  FakeClock clock;
  HeldMaking making;
  SharedResult<int> shared(clock, [&] { return making(); }, 60s);

  std::vector<std::thread> callers;
  std::atomic<int> sum{0};
  for (int i = 0; i < 8; ++i) callers.emplace_back([&] { sum += *shared.Get(); });
  making.WaitStarted(1);
  std::this_thread::sleep_for(50ms);  // the others arrive and wait
  EXPECT_EQ(making.started(), 1);
  making.Release(1);
  for (std::thread& t : callers) t.join();
  EXPECT_EQ(sum, 8);
  EXPECT_EQ(making.started(), 1);

  clock.Advance(59s);
  EXPECT_EQ(*shared.Get(), 1);
  clock.Advance(1s);
  making.Release(2);
  EXPECT_EQ(*shared.Get(), 2);
  EXPECT_EQ(making.started(), 2);
}

TEST(SharedResultTest, AFailureReachesThoseWhoWaitedForItAndIsNotKept) {
  FakeClock clock;
  HeldMaking making;
  SharedResult<int> shared(clock, [&] { return making(); }, 60s);
  std::atomic<int> failed{0};
  std::vector<std::thread> callers;
  for (int i = 0; i < 3; ++i) {
    callers.emplace_back([&] {
      try {
        shared.Get();
      } catch (const std::runtime_error&) {
        ++failed;
      }
    });
  }
  making.WaitStarted(1);
  std::this_thread::sleep_for(50ms);
  making.Release(1, /*fail=*/true);
  for (std::thread& t : callers) t.join();
  EXPECT_EQ(failed, 3);
  making.Release(2);
  EXPECT_EQ(*shared.Get(), 2);
}

}  // namespace
}  // namespace quarrin
