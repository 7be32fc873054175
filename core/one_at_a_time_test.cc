#include "core/one_at_a_time.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace quarrin {
namespace {

TEST(OneAtATimeTest, NeitherStartsAgainNorWaitsWhileTheWorkRuns) {
  std::mutex mu;
  std::condition_variable changed;
  int runs = 0;
  bool release = false;
  OneAtATime work([&] {
    std::unique_lock lock(mu);
    ++runs;
    changed.notify_all();
    changed.wait(lock, [&] { return release; });
    release = false;
    --runs;
    changed.notify_all();
  });
  auto wait_for_runs = [&](int n) {
    std::unique_lock lock(mu);
    return changed.wait_for(lock, std::chrono::seconds(10), [&] { return runs == n; });
  };

  // Asked while it runs (it never ends on its own), it returns at once.
  EXPECT_TRUE(work.TryStart());
  ASSERT_TRUE(wait_for_runs(1));
  EXPECT_FALSE(work.TryStart());
  EXPECT_FALSE(work.TryStart());
  {
    std::lock_guard lock(mu);
    release = true;
  }
  changed.notify_all();
  ASSERT_TRUE(wait_for_runs(0));

  // Once it has ended it starts again; the destructor waits for it.
  bool started = false;
  for (int i = 0; i < 1000 && !started; ++i) {
    started = work.TryStart();
    if (!started) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  EXPECT_TRUE(started);
  ASSERT_TRUE(wait_for_runs(1));
  std::lock_guard lock(mu);
  release = true;
  changed.notify_all();
}

}  // namespace
}  // namespace quarrin
