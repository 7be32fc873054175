// TfrmMsg: the small dialog window that puts an administrator's message on
// the workstation's screen and keeps pushing itself in front of every other
// window until the user presses OK.
//
// Layout in pixels (96 dots per inch), client area 441 x 204:
//   Label1 "Received" (bold)  8,4 55x13     lblDateTime  72,4 153x13
//   Label2 "From" (bold)      8,24 28x13    lblFrom      72,24 261x13
//   lblMsg  8,44 425x125, 16 px (12 pt), words wrapped, clipped, on white
//   spbOK "OK"  196,176 45x21, never takes the keyboard focus
// Face colour 212,208,200; text black; Liberation Sans at 11 px (8 pt), which
// fontconfig substitutes with its nearest sans-serif face when it is missing.
#ifndef QUARRIN_POPUP_POPUP_WINDOW_H_
#define QUARRIN_POPUP_POPUP_WINDOW_H_

#include <FL/Fl_Double_Window.H>

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "popup/popup_facade.h"

class Fl_Button;

namespace quarrin {

// `bytes` as text that the window can draw: valid UTF-8 is kept; each
// invalid sequence (stray continuation bytes, truncated or overlong forms,
// surrogates, values past U+10FFFF) and each control character other than
// tab and line feed becomes U+FFFD; a tab becomes a blank; CR LF and a lone
// CR become a line feed.
std::string DisplayableText(std::string_view bytes);

// Breaks `paragraph` (no line feeds) into at most `max_lines` lines no wider
// than `width` by `measure`, at blanks: the blanks at a break are dropped,
// and a word wider than `width` stands alone on its line, unbroken.
std::vector<std::string_view> WrapLines(std::string_view paragraph, int width, size_t max_lines,
                                        const std::function<double(std::string_view)>& measure);

class PopupLabel;

// REQUIRES: every member is called on the thread that runs the FLTK loop,
// with the display open.
class TfrmMsg final : public Fl_Double_Window {
 public:
  TfrmMsg();
  ~TfrmMsg() override;

  // Sets the caption, lblDateTime, lblFrom and lblMsg (each through
  // DisplayableText), switches Timer1 on and shows the window, in the centre
  // of the screen when it was hidden. A window already shown keeps its place.
  void ShowMessage(const PopupMessage& message);
  // Only the four texts; the window stays as it is.
  void SetTexts(const PopupMessage& message);
  // Timer1 off and the window hidden, without telling anyone.
  void HideMessage();

  // Event handlers.
  void spbOKClick();
  void Timer1Timer();

  // Called on the window's thread after OK has hidden the window.
  void set_on_dismissed(std::function<void()> on_dismissed) { on_dismissed_ = std::move(on_dismissed); }

  bool timer_on() const { return timer_on_; }
  const std::string& date_time_text() const;
  const std::string& from_text() const;
  const std::string& message_text() const;

 private:
  static void Timer1Tick(void* form);
  // Marks a freshly created X window as a fixed dialog and publishes the
  // texts on it.
  void DecorateAsDialog();
  void PublishTexts();
  void BringToForeground();

  Fl_Button* spbOK;
  PopupLabel* lblDateTime;
  PopupLabel* Label1;
  PopupLabel* Label2;
  PopupLabel* lblFrom;
  PopupLabel* lblMsg;
  bool timer_on_ = false;  // Timer1.Enabled
  std::string caption_;
  std::function<void()> on_dismissed_;
};

}  // namespace quarrin

#endif  // QUARRIN_POPUP_POPUP_WINDOW_H_
