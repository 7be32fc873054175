#include "service/window_loop.h"

namespace quarrin {

void WindowLoop::Run() {
  std::unique_lock lock(mu_);
  cv_.wait(lock, [this] { return quit_; });
}

void WindowLoop::Quit() {
  {
    std::lock_guard lock(mu_);
    quit_ = true;
  }
  cv_.notify_all();
}

}  // namespace quarrin
