#include "popup/popup_window_loop.h"

#include <FL/Fl.H>
#include <FL/x.H>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <utility>

#include "popup/headless_popup_loop.h"
#include "popup/popup_window.h"

namespace quarrin {
namespace {

std::atomic<int> reported_x_errors{0};
// Set once the X connection has failed; the display stays unusable for the
// rest of the process.
std::atomic<bool> display_lost{false};

// A failed request (a window that went away under us, say) costs that
// request only; Xlib's default would end the process.
int OnXError(Display* display, XErrorEvent* event) {
  if (reported_x_errors.fetch_add(1) < 20) {
    char text[128];
    XGetErrorText(display, event->error_code, text, sizeof text);
    std::fprintf(stderr, "Message popup: X error %s (request %d)\n", text,
                 static_cast<int>(event->request_code));
  }
  return 0;
}

// The connection is gone (the X server ended with the user's session).
// Returning here, and from the exit handler, keeps the process running.
int OnXIOError(Display*) {
  std::fprintf(stderr, "Message popup: the connection to the display was lost; "
                       "messages are kept but no longer shown\n");
  return 0;
}

void OnXIOErrorExit(Display*, void*) { display_lost = true; }

}  // namespace

PopupWindowLoop::PopupWindowLoop() = default;

PopupWindowLoop::~PopupWindowLoop() {
  // The window's X resources died with a lost connection; destroying its
  // FLTK objects would talk to the dead display, so they are left alone.
  if (display_lost) (void)form_.release();
}

void PopupWindowLoop::Run() {
  if (OpenDisplay()) {
    while (!quit_ && !display_lost) Fl::wait(1.0);
    {
      std::lock_guard lock(mu_);
      mode_ = Mode::kNoDisplay;
    }
    // Wake-ups posted before the mode changed find it changed.
    if (!display_lost) Fl::check();
    Fl::unlock();
  } else {
    std::lock_guard lock(mu_);
    mode_ = Mode::kNoDisplay;
  }
  // Waits for Quit unless it has already come.
  WindowLoop::Run();
}

void PopupWindowLoop::Quit() {
  quit_ = true;
  WindowLoop::Quit();
  std::lock_guard lock(mu_);
  if (mode_ == Mode::kDisplay) Fl::awake();
}

bool PopupWindowLoop::OpenDisplay() {
  const char* name = NamedDisplay();
  if (name == nullptr) return false;
  if (display_lost) return false;
  if (fl_display == nullptr) {
    XSetErrorHandler(OnXError);
    XSetIOErrorHandler(OnXIOError);
    // Opened here rather than by FLTK, which ends the process when it can't.
    Display* display = XOpenDisplay(name);
    if (display == nullptr) {
      std::fprintf(stderr, "Message popup: cannot open display %s; messages are kept but not shown\n",
                   name);
      return false;
    }
    XSetIOErrorExitHandler(display, OnXIOErrorExit, nullptr);
    fl_open_display(display);
  }
  // Enables Fl::awake from other threads; this thread holds the lock except
  // while Fl::wait waits.
  Fl::lock();
  {
    std::lock_guard lock(mu_);
    mode_ = Mode::kDisplay;
    had_display_ = true;
    wake_posted_ = true;
  }
  // Whatever was asked while the display was being opened.
  Apply();
  return true;
}

void PopupWindowLoop::WakeLocked() {
  if (mode_ != Mode::kDisplay || wake_posted_) return;
  // One wake-up at a time: FLTK's queue of them is small and fixed.
  wake_posted_ = Fl::awake(ApplyOnLoop, this) == 0;
}

void PopupWindowLoop::ApplyOnLoop(void* self) { static_cast<PopupWindowLoop*>(self)->Apply(); }

void PopupWindowLoop::Apply() {
  bool want_window, shown;
  std::optional<PopupMessage> message;
  {
    std::lock_guard lock(mu_);
    wake_posted_ = false;
    if (mode_ != Mode::kDisplay) return;
    want_window = want_window_;
    shown = shown_;
    message = std::exchange(pending_, std::nullopt);
  }
  if (!want_window) {
    form_.reset();
    return;
  }
  if (!form_) {
    form_ = std::make_unique<TfrmMsg>();
    form_->set_on_dismissed([this] { Dismissed(); });
  }
  if (message && shown) {
    form_->ShowMessage(*message);
    return;
  }
  if (message) form_->SetTexts(*message);
  if (!shown && form_->shown()) form_->HideMessage();
}

void PopupWindowLoop::Dismissed() {
  std::lock_guard lock(mu_);
  // A message that arrived while OK was being pressed is shown all the same.
  if (!pending_) shown_ = false;
}

void PopupWindowLoop::Create() {
  std::lock_guard lock(mu_);
  want_window_ = true;
  WakeLocked();
}

void PopupWindowLoop::Show(const PopupMessage& message) {
  std::lock_guard lock(mu_);
  want_window_ = true;
  shown_ = true;
  pending_ = message;
  WakeLocked();
}

void PopupWindowLoop::Hide() {
  std::lock_guard lock(mu_);
  shown_ = false;
  WakeLocked();
}

void PopupWindowLoop::Release() {
  std::lock_guard lock(mu_);
  want_window_ = false;
  shown_ = false;
  pending_.reset();
  WakeLocked();
}

bool PopupWindowLoop::shown() const {
  std::lock_guard lock(mu_);
  return shown_;
}

bool PopupWindowLoop::has_display() const {
  std::lock_guard lock(mu_);
  return had_display_ && !display_lost;
}

}  // namespace quarrin
