// The message popup as the HTTP commands see it: it keeps the latest
// message and whether it is shown, and hands both to the desktop window when
// there is one.
#ifndef QUARRIN_POPUP_POPUP_FACADE_H_
#define QUARRIN_POPUP_POPUP_FACADE_H_

#include <cstdint>
#include <mutex>
#include <string>

namespace quarrin {

class PopupScreen;

struct PopupMessage {
  std::string caption;    // "Quarrin " + the version text
  std::string date_time;  // when it was received
  std::string from;       // the sender's address
  std::string text;
  bool operator==(const PopupMessage&) const = default;
};

// Safe for concurrent use by multiple threads.
class PopupFacade {
 public:
  // Without a screen the popup only keeps its state. With one, creates the
  // window (hidden), and destroying the facade releases it.
  // REQUIRES: `screen` outlives this.
  explicit PopupFacade(PopupScreen* screen = nullptr);
  ~PopupFacade();
  PopupFacade(const PopupFacade&) = delete;
  PopupFacade& operator=(const PopupFacade&) = delete;

  // Replaces the texts of any earlier message, shows the popup and keeps
  // pushing it to the foreground until it is dismissed.
  void ShowMessage(PopupMessage message);
  // What OK does: hides the popup and stops pushing it forward.
  void Dismiss();

  // False too once the user has pressed OK on the screen.
  bool shown() const;
  // The latest message; empty texts before the first one.
  PopupMessage latest() const;
  // How many messages arrived since the popup was created.
  uint64_t message_count() const;

 private:
  PopupScreen* const screen_;
  mutable std::mutex mu_;
  PopupMessage latest_;
  bool shown_ = false;
  uint64_t count_ = 0;
};

}  // namespace quarrin

#endif  // QUARRIN_POPUP_POPUP_FACADE_H_
