// The popup's loop where there is no display to draw on: it keeps the
// popup's state, as the window would, and draws nothing; the main thread
// only waits for Quit.
#ifndef QUARRIN_POPUP_HEADLESS_POPUP_LOOP_H_
#define QUARRIN_POPUP_HEADLESS_POPUP_LOOP_H_

#include <cstdio>
#include <cstdlib>
#include <mutex>

#include "popup/popup_loop.h"

namespace quarrin {

// The X display named by DISPLAY; null, after saying so on standard error,
// when none is named.
inline const char* NamedDisplay() {
  const char* name = std::getenv("DISPLAY");
  if (name != nullptr && *name != '\0') return name;
  std::fprintf(stderr, "Message popup: DISPLAY is not set; messages are kept but not shown\n");
  return nullptr;
}

class HeadlessPopupLoop final : public PopupLoop {
 public:
  void Create() override {}
  void Show(const PopupMessage&) override { Set(true); }
  void Hide() override { Set(false); }
  void Release() override { Set(false); }
  bool shown() const override {
    std::lock_guard lock(mu_);
    return shown_;
  }

 private:
  void Set(bool shown) {
    std::lock_guard lock(mu_);
    shown_ = shown;
  }

  mutable std::mutex mu_;
  bool shown_ = false;
};

}  // namespace quarrin

#endif  // QUARRIN_POPUP_HEADLESS_POPUP_LOOP_H_
