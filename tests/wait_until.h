// Waiting in a test for something another thread or process brings about.
#ifndef QUARRIN_TESTS_WAIT_UNTIL_H_
#define QUARRIN_TESTS_WAIT_UNTIL_H_

#include <chrono>
#include <thread>

namespace quarrin::testing {

// Polls `condition` every 5 ms until it holds or `limit` passes.
template <typename Condition>
bool WaitUntil(Condition condition, std::chrono::milliseconds limit) {
  auto end = std::chrono::steady_clock::now() + limit;
  while (!condition()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

}  // namespace quarrin::testing

#endif  // QUARRIN_TESTS_WAIT_UNTIL_H_
