#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "platform/time/clock.h"
#include "platform/service/service_manager.h"
#include "service/control_queue.h"

namespace quarrin {
namespace {

using std::chrono::milliseconds;
using std::chrono::steady_clock;

TEST(SystemLoopWaiterTest, APostedRequestWakesTheWaiterLongBeforeItsDeadline) {
  ControlQueue queue;
  SystemLoopWaiter waiter(queue, SystemClock());
  const DateTime far = AddMilliseconds(SystemClock().Now(), 3600000);

  // Already pending: no wait at all, and the request stays queued.
  queue.Post(kControlInterrogate);
  waiter.WaitUntil(far);
  EXPECT_TRUE(queue.Pending());
  EXPECT_EQ(queue.TryTake(), kControlInterrogate);

  std::thread poster([&] {
    std::this_thread::sleep_for(milliseconds(50));
    queue.Post(kControlStop);
  });
  const auto start = steady_clock::now();
  waiter.WaitUntil(far);
  poster.join();
  EXPECT_LT(steady_clock::now() - start, std::chrono::seconds(60));
  EXPECT_EQ(queue.TryTake(), kControlStop);
}

TEST(SystemLoopWaiterTest, WithoutRequestsWaitsUntilTheDeadline) {
  ControlQueue queue;
  SystemLoopWaiter waiter(queue, SystemClock());
  const auto start = steady_clock::now();
  waiter.WaitUntil(AddMilliseconds(SystemClock().Now(), 150));
  EXPECT_GE(steady_clock::now() - start, milliseconds(100));
}

}  // namespace
}  // namespace quarrin
