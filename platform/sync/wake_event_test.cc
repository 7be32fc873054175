#include "platform/sync/wake_event.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

namespace quarrin {
namespace {

using std::chrono::milliseconds;
using std::chrono::steady_clock;

milliseconds ElapsedSince(steady_clock::time_point start) {
  return std::chrono::duration_cast<milliseconds>(steady_clock::now() - start);
}

TEST(WakeEventTest, ARaiseEndsTheWaitAndIsUsedUp) {
  WakeEvent wake;
  // Raised before anyone waits: kept for the wait, which returns at once.
  wake.Raise();
  wake.Raise();
  auto start = steady_clock::now();
  wake.WaitRaisedOrDue(600000);
  EXPECT_LT(ElapsedSince(start), milliseconds(60000));

  // Both raises were used up: the next wait runs to its due time.
  start = steady_clock::now();
  wake.WaitRaisedOrDue(200);
  EXPECT_GE(ElapsedSince(start), milliseconds(150));

  // Raised by another thread while the wait is under way.
  std::thread raiser([&] {
    std::this_thread::sleep_for(milliseconds(50));
    wake.Raise();
  });
  start = steady_clock::now();
  wake.WaitRaisedOrDue(600000);
  raiser.join();
  EXPECT_LT(ElapsedSince(start), milliseconds(60000));
}

TEST(WakeEventTest, TheDueTimeEndsAWaitThatNobodyRaises) {
  WakeEvent wake;
  for (int i = 0; i < 3; ++i) {  // the timer is armed afresh each time
    const auto start = steady_clock::now();
    wake.WaitRaisedOrDue(100);
    EXPECT_GE(ElapsedSince(start), milliseconds(70)) << i;
  }
}

}  // namespace
}  // namespace quarrin
