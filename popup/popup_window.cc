#include "popup/popup_window.h"

#include <FL/Fl.H>
#include <FL/Fl_Box.H>
#include <FL/Fl_Button.H>
#include <FL/fl_draw.H>
#include <FL/x.H>
#include <X11/Xatom.h>

#include <algorithm>
#include <cstdint>
#include <vector>

namespace quarrin {

std::string DisplayableText(std::string_view bytes) {
  static constexpr std::string_view kReplacement = "\xEF\xBF\xBD";
  std::string out;
  out.reserve(bytes.size());
  const size_t n = bytes.size();
  size_t i = 0;
  while (i < n) {
    const auto c = static_cast<unsigned char>(bytes[i]);
    if (c < 0x80) {
      if (c == '\r') {
        out += '\n';
        i += (i + 1 < n && bytes[i + 1] == '\n') ? 2 : 1;
        continue;
      }
      if (c == '\t') {
        out += ' ';
      } else if (c == '\n' || (c >= 0x20 && c != 0x7F)) {
        out += static_cast<char>(c);
      } else {
        out += kReplacement;
      }
      ++i;
      continue;
    }
    size_t length;
    uint32_t code;
    if (c >= 0xC2 && c <= 0xDF) {
      length = 2;
      code = c & 0x1F;
    } else if (c >= 0xE0 && c <= 0xEF) {
      length = 3;
      code = c & 0x0F;
    } else if (c >= 0xF0 && c <= 0xF4) {
      length = 4;
      code = c & 0x07;
    } else {
      out += kReplacement;
      ++i;
      continue;
    }
    // The second byte's range rules out overlong forms, surrogates and
    // values past U+10FFFF; a broken sequence is replaced as far as it went
    // (its maximal valid prefix), and the offending byte is read afresh.
    unsigned char low = 0x80, high = 0xBF;
    if (c == 0xE0) low = 0xA0;
    if (c == 0xED) high = 0x9F;
    if (c == 0xF0) low = 0x90;
    if (c == 0xF4) high = 0x8F;
    size_t j = 1;
    for (; j < length && i + j < n; ++j) {
      const auto b = static_cast<unsigned char>(bytes[i + j]);
      if (j == 1 ? (b < low || b > high) : (b < 0x80 || b > 0xBF)) break;
      code = (code << 6) | (b & 0x3F);
    }
    if (j < length) {
      out += kReplacement;
      i += j;
      continue;
    }
    if (code <= 0x9F) {
      out += kReplacement;  // a C1 control character
    } else {
      out.append(bytes.substr(i, length));
    }
    i += length;
  }
  return out;
}

namespace {

constexpr Fl_Font kFormFont = FL_FREE_FONT;
constexpr Fl_Font kFormFontBold = FL_FREE_FONT + 1;
constexpr Fl_Fontsize kFormFontSize = 11;     // 8 pt at 96 dots per inch
constexpr Fl_Fontsize kMessageFontSize = 16;  // 12 pt
const Fl_Color kButtonFace = fl_rgb_color(212, 208, 200);
const Fl_Color kCaptionText = FL_WHITE;
const Fl_Color kWindowText = FL_BLACK;
constexpr double kTimer1Interval = 0.1;

// "MS Sans Serif" has no Linux face; Liberation Sans has the metrics of the
// Windows sans-serif faces that the layout was measured with. The leading
// letter is FLTK's style mark: blank regular, B bold.
void RegisterFormFonts() {
  static bool done = false;
  if (done) return;
  Fl::set_font(kFormFont, " Liberation Sans");
  Fl::set_font(kFormFontBold, "BLiberation Sans");
  done = true;
}

Atom InternAtom(const char* name) { return XInternAtom(fl_display, name, False); }

// A button that never takes the keyboard focus, neither by a click nor by
// keyboard navigation.
class NoFocusButton final : public Fl_Button {
 public:
  NoFocusButton(int x, int y, int w, int h, const char* label) : Fl_Button(x, y, w, h, label) {
    clear_visible_focus();
  }
  int handle(int event) override {
    if (event == FL_FOCUS || event == FL_UNFOCUS) return 0;
    return Fl_Button::handle(event);
  }
};

}  // namespace

namespace {

// The bytes of the first UTF-8 character of `text`.
size_t CharLength(std::string_view text) {
  const auto c = static_cast<unsigned char>(text[0]);
  size_t n = c < 0xC0 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
  return n < text.size() ? n : text.size();
}

// The start of `line` that reaches just past `width` pixels: the rest would
// be clipped anyway, and drawing it could overflow X's 16-bit coordinates.
std::string_view VisiblePart(std::string_view line, int width) {
  double used = 0;
  size_t end = 0;
  while (end < line.size() && used <= width) {
    size_t n = CharLength(line.substr(end));
    used += fl_width(line.data() + end, static_cast<int>(n));
    end += n;
  }
  return line.substr(0, end);
}

}  // namespace

std::vector<std::string_view> WrapLines(std::string_view paragraph, int width, size_t max_lines,
                                        const std::function<double(std::string_view)>& measure) {
  std::vector<std::string_view> lines;
  size_t start = 0;
  while (lines.size() < max_lines) {
    size_t end = start;
    while (end < paragraph.size()) {
      size_t word = paragraph.find_first_not_of(' ', end);
      if (word == std::string_view::npos) word = paragraph.size();
      size_t word_end = std::min(paragraph.find(' ', word), paragraph.size());
      // The first word of a line stays on it even when it is too wide.
      if (end > start && measure(paragraph.substr(start, word_end - start)) > width) break;
      end = word_end;
    }
    lines.push_back(paragraph.substr(start, end - start));
    start = paragraph.find_first_not_of(' ', end);
    if (start == std::string_view::npos) break;
  }
  return lines;
}

// A label that draws its text as it is (no '@' symbols or other markup),
// top-left in its box and clipped to it; with `wrap`, broken into lines at
// blanks. Only the lines and characters that can be seen are laid out, so
// the cost of a draw does not grow with the length of the text.
class PopupLabel final : public Fl_Box {
 public:
  PopupLabel(int x, int y, int w, int h, Fl_Font font, Fl_Fontsize size, bool wrap)
      : Fl_Box(FL_FLAT_BOX, x, y, w, h, nullptr), wrap_(wrap) {
    color(kButtonFace);  // its own background, so that new text replaces the old
    labelfont(font);
    labelsize(size);
    labelcolor(kWindowText);
  }

  void set_text(std::string text) {
    if (text == text_) return;
    text_ = std::move(text);
    redraw();
  }
  const std::string& text() const { return text_; }

 protected:
  void draw() override {
    draw_box();
    fl_push_clip(x(), y(), w(), h());
    fl_font(labelfont(), labelsize());
    fl_color(labelcolor());
    const int line_height = fl_height();
    const int ascent = line_height - fl_descent();
    const auto measure = [](std::string_view s) {
      return fl_width(s.data(), static_cast<int>(s.size()));
    };
    int top = y();
    std::string_view rest = text_;
    while (top < y() + h()) {
      const size_t newline = rest.find('\n');
      const std::string_view paragraph = rest.substr(0, newline);
      const size_t room = static_cast<size_t>((y() + h() - top + line_height - 1) / line_height);
      std::vector<std::string_view> lines =
          wrap_ ? WrapLines(paragraph, w(), room, measure) : std::vector{paragraph};
      for (std::string_view line : lines) {
        const std::string_view visible = VisiblePart(line, w());
        fl_draw(visible.data(), static_cast<int>(visible.size()), x(), top + ascent);
        top += line_height;
      }
      if (newline == std::string_view::npos) break;
      rest.remove_prefix(newline + 1);
    }
    fl_pop_clip();
  }

 private:
  bool wrap_;
  std::string text_;
};

TfrmMsg::TfrmMsg() : Fl_Double_Window(441, 204), caption_("Quarrin Service") {
  RegisterFormFonts();
  copy_label(caption_.c_str());
  color(kButtonFace);
  // Created in the order of the form's members.
  spbOK = new NoFocusButton(196, 176, 45, 21, "OK");
  spbOK->labelfont(kFormFont);
  spbOK->labelsize(kFormFontSize);
  spbOK->color(kButtonFace);
  spbOK->callback([](Fl_Widget*, void* form) { static_cast<TfrmMsg*>(form)->spbOKClick(); }, this);
  lblDateTime = new PopupLabel(72, 4, 153, 13, kFormFont, kFormFontSize, false);
  Label1 = new PopupLabel(8, 4, 55, 13, kFormFontBold, kFormFontSize, false);
  Label1->set_text("Received");
  Label2 = new PopupLabel(8, 24, 28, 13, kFormFontBold, kFormFontSize, false);
  Label2->set_text("From");
  lblFrom = new PopupLabel(72, 24, 261, 13, kFormFont, kFormFontSize, false);
  lblMsg = new PopupLabel(8, 44, 425, 125, kFormFont, kMessageFontSize, true);
  lblMsg->color(kCaptionText);
  end();
  size_range(w(), h(), w(), h());
  // Neither the window manager's close request nor Escape closes the
  // window: only OK does.
  callback([](Fl_Widget*, void*) {});
}

TfrmMsg::~TfrmMsg() { Fl::remove_timeout(Timer1Tick, this); }

void TfrmMsg::SetTexts(const PopupMessage& message) {
  std::string caption = DisplayableText(message.caption);
  if (caption != caption_) {
    caption_ = std::move(caption);
    copy_label(caption_.c_str());
  }
  lblDateTime->set_text(DisplayableText(message.date_time));
  lblFrom->set_text(DisplayableText(message.from));
  lblMsg->set_text(DisplayableText(message.text));
  if (shown()) PublishTexts();
}

void TfrmMsg::ShowMessage(const PopupMessage& message) {
  SetTexts(message);
  if (!timer_on_) {
    timer_on_ = true;
    Fl::add_timeout(kTimer1Interval, Timer1Tick, this);
  }
  const bool was_shown = shown();
  if (!was_shown) {
    int sx, sy, sw, sh;
    Fl::screen_xywh(sx, sy, sw, sh, 0);
    position(sx + (sw - w()) / 2, sy + (sh - h()) / 2);
  }
  show();
  if (!was_shown) {
    DecorateAsDialog();
    PublishTexts();
  }
}

void TfrmMsg::HideMessage() {
  timer_on_ = false;
  Fl::remove_timeout(Timer1Tick, this);
  hide();
}

void TfrmMsg::spbOKClick() {
  HideMessage();
  if (on_dismissed_) on_dismissed_();
}

void TfrmMsg::Timer1Tick(void* form) {
  auto* self = static_cast<TfrmMsg*>(form);
  self->Timer1Timer();
  if (self->timer_on_) Fl::repeat_timeout(kTimer1Interval, Timer1Tick, form);
}

void TfrmMsg::Timer1Timer() {
  if (shown()) BringToForeground();
}

const std::string& TfrmMsg::date_time_text() const { return lblDateTime->text(); }
const std::string& TfrmMsg::from_text() const { return lblFrom->text(); }
const std::string& TfrmMsg::message_text() const { return lblMsg->text(); }

void TfrmMsg::DecorateAsDialog() {
  const Window xid = fl_xid(this);
  // Motif hints, which most window managers honour: a border and a title
  // bar; of the functions only moving, so no menu, minimise, maximise,
  // resize or close. FLTK mapped the window just before; managers that read
  // the hints at that moment see these requests first, as they are queued
  // behind the map request, and the others follow the property change.
  long motif[5] = {1 | 2, 4, 2 | 8, 0, 0};  // functions|decorations, move, border|title
  const Atom motif_atom = InternAtom("_MOTIF_WM_HINTS");
  XChangeProperty(fl_display, xid, motif_atom, motif_atom, 32, PropModeReplace,
                  reinterpret_cast<unsigned char*>(motif), 5);
  Atom dialog = InternAtom("_NET_WM_WINDOW_TYPE_DIALOG");
  XChangeProperty(fl_display, xid, InternAtom("_NET_WM_WINDOW_TYPE"), XA_ATOM, 32,
                  PropModeReplace, reinterpret_cast<unsigned char*>(&dialog), 1);
}

// The texts are also properties of the window, so that desktop automation
// (and the agent's own tests) can read what the popup says. The atoms are
// interned first, in one round trip, so that the three changes leave
// together: a round trip between them would flush the first and let a
// reader see a new sender beside the old message.
void TfrmMsg::PublishTexts() {
  const Window xid = fl_xid(this);
  if (xid == 0) return;
  char* names[] = {const_cast<char*>("UTF8_STRING"), const_cast<char*>("_QUARRIN_POPUP_RECEIVED"),
                   const_cast<char*>("_QUARRIN_POPUP_FROM"),
                   const_cast<char*>("_QUARRIN_POPUP_MESSAGE")};
  Atom atoms[4];
  if (!XInternAtoms(fl_display, names, 4, False, atoms)) return;
  const std::string* texts[] = {&lblDateTime->text(), &lblFrom->text(), &lblMsg->text()};
  for (int k = 0; k < 3; ++k) {
    XChangeProperty(fl_display, xid, atoms[k + 1], atoms[0], 8, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(texts[k]->data()),
                    static_cast<int>(texts[k]->size()));
  }
  XFlush(fl_display);
}

void TfrmMsg::BringToForeground() {
  const Window xid = fl_xid(this);
  Fl_Double_Window::show();  // on a shown window: map it if needed and raise it
  const Window root = RootWindow(fl_display, fl_screen);
  const Atom active_atom = InternAtom("_NET_ACTIVE_WINDOW");

  // A window manager that keeps _NET_ACTIVE_WINDOW decides which window is
  // active; ask it as a pager would, since applications' own requests fall
  // under focus-stealing prevention.
  Atom type = None;
  int format = 0;
  unsigned long count = 0, after = 0;
  unsigned char* data = nullptr;
  const bool managed =
      XGetWindowProperty(fl_display, root, active_atom, 0, 1, False, XA_WINDOW, &type, &format,
                         &count, &after, &data) == Success &&
      type == XA_WINDOW && count == 1;
  Window active = managed ? *reinterpret_cast<Window*>(data) : 0;
  if (data != nullptr) XFree(data);
  if (managed) {
    if (active == xid) return;
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = xid;
    event.xclient.message_type = active_atom;
    event.xclient.format = 32;
    event.xclient.data.l[0] = 2;  // source: pager
    event.xclient.data.l[1] = CurrentTime;
    XSendEvent(fl_display, root, False, SubstructureRedirectMask | SubstructureNotifyMask, &event);
    return;
  }

  // No window manager: take the keyboard focus directly.
  Window focus = 0;
  int revert = 0;
  XGetInputFocus(fl_display, &focus, &revert);
  if (focus == xid) return;
  XWindowAttributes attributes;
  if (XGetWindowAttributes(fl_display, xid, &attributes) && attributes.map_state == IsViewable) {
    XSetInputFocus(fl_display, xid, RevertToParent, CurrentTime);
  }
}

}  // namespace quarrin
