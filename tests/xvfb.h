// A private X server for tests that need a display, and small Xlib probes
// of what is on it: top-level windows in stacking order, their names and
// properties, and the colours of their pixels.
#ifndef QUARRIN_TESTS_XVFB_H_
#define QUARRIN_TESTS_XVFB_H_

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "tests/wait_until.h"

namespace quarrin::testing {

// True when an executable of this name is on PATH.
inline bool OnPath(const std::string& name) {
  const char* path = std::getenv("PATH");
  std::string dirs = path ? path : "/usr/bin:/bin";
  size_t start = 0;
  while (start <= dirs.size()) {
    size_t end = dirs.find(':', start);
    if (end == std::string::npos) end = dirs.size();
    std::string candidate = dirs.substr(start, end - start) + "/" + name;
    if (access(candidate.c_str(), X_OK) == 0) return true;
    start = end + 1;
  }
  return false;
}

// Xvfb on a display number it picks itself (so that parallel runs never
// collide), one 1024 x 768 screen of 24 bits, no TCP listener. Stopped on
// destruction, and killed if the thread that started it ends first.
class XvfbServer {
 public:
  static constexpr int kWidth = 1024;
  static constexpr int kHeight = 768;

  XvfbServer() {
    int fds[2];
    if (pipe(fds) != 0) return;
    fcntl(fds[0], F_SETFD, FD_CLOEXEC);
    const std::string fd_text = std::to_string(fds[1]);
    const std::string screen = std::to_string(kWidth) + "x" + std::to_string(kHeight) + "x24";
    std::vector<std::string> args = {"Xvfb",  "-displayfd", fd_text, "-screen", "0",
                                     screen, "-nolisten",  "tcp",   "-noreset"};
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    const pid_t parent = getpid();
    pid_ = fork();
    if (pid_ == 0) {
      // The server goes with the test process however that ends.
      prctl(PR_SET_PDEATHSIG, SIGKILL);
      if (getppid() != parent) _exit(127);
      int null = open("/dev/null", O_WRONLY);
      dup2(null, 1);
      dup2(null, 2);
      execvp("Xvfb", argv.data());
      _exit(127);
    }
    close(fds[1]);
    // Xvfb writes the display number once it accepts connections.
    std::string number;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (pid_ > 0 && std::chrono::steady_clock::now() < deadline) {
      pollfd p{fds[0], POLLIN, 0};
      if (poll(&p, 1, 100) <= 0) continue;
      char c;
      if (read(fds[0], &c, 1) != 1 || c == '\n') break;
      number += c;
    }
    close(fds[0]);
    if (!number.empty()) display_ = ":" + number;
  }

  ~XvfbServer() { Stop(); }
  XvfbServer(const XvfbServer&) = delete;
  XvfbServer& operator=(const XvfbServer&) = delete;

  // ":N", or empty when the server did not start.
  const std::string& display() const { return display_; }

  void Stop() {
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);
    waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }

 private:
  pid_t pid_ = -1;
  std::string display_;
};

// Opens a display for a test to look at other processes' windows. A window
// can vanish between listing it and asking for it; Xlib's own handler would
// end the test process for that, so this one ignores errors (the calls that
// fail return their failure).
inline Display* OpenProbeDisplay(const std::string& name) {
  XSetErrorHandler([](Display*, XErrorEvent*) { return 0; });
  return XOpenDisplay(name.c_str());
}

// The mapped children of the root window, bottom first.
inline std::vector<Window> MappedTopLevels(Display* display) {
  Window root_return, parent;
  Window* children = nullptr;
  unsigned count = 0;
  std::vector<Window> out;
  if (!XQueryTree(display, DefaultRootWindow(display), &root_return, &parent, &children, &count)) {
    return out;
  }
  for (unsigned i = 0; i < count; ++i) {
    XWindowAttributes attributes;
    if (XGetWindowAttributes(display, children[i], &attributes) &&
        attributes.map_state == IsViewable) {
      out.push_back(children[i]);
    }
  }
  if (children) XFree(children);
  return out;
}

// A property of type UTF8_STRING (or STRING); empty when it is missing.
inline std::string TextProperty(Display* display, Window window, const char* name) {
  Atom type;
  int format;
  unsigned long count, after;
  unsigned char* data = nullptr;
  std::string out;
  if (XGetWindowProperty(display, window, XInternAtom(display, name, False), 0, 1 << 20, False,
                         AnyPropertyType, &type, &format, &count, &after, &data) == Success &&
      data != nullptr && format == 8) {
    out.assign(reinterpret_cast<char*>(data), count);
  }
  if (data) XFree(data);
  return out;
}

inline std::string WindowTitle(Display* display, Window window) {
  std::string title = TextProperty(display, window, "_NET_WM_NAME");
  return title.empty() ? TextProperty(display, window, "WM_NAME") : title;
}

// The mapped top-level windows whose title begins with `prefix`.
inline std::vector<Window> MappedWindowsTitled(Display* display, const std::string& prefix) {
  std::vector<Window> out;
  for (Window w : MappedTopLevels(display)) {
    if (WindowTitle(display, w).rfind(prefix, 0) == 0) out.push_back(w);
  }
  return out;
}

struct Rgb {
  int r = 0, g = 0, b = 0;
  bool operator==(const Rgb&) const = default;
  int Luma() const { return (r * 299 + g * 587 + b * 114) / 1000; }
};

// A copy of a window's pixels (a 24-bit true-colour screen).
class WindowPixels {
 public:
  WindowPixels(Display* display, Window window) {
    XWindowAttributes attributes;
    if (!XGetWindowAttributes(display, window, &attributes)) return;
    image_ = XGetImage(display, window, 0, 0, attributes.width, attributes.height, AllPlanes,
                       ZPixmap);
  }
  ~WindowPixels() {
    if (image_) XDestroyImage(image_);
  }
  WindowPixels(const WindowPixels&) = delete;
  WindowPixels& operator=(const WindowPixels&) = delete;

  bool valid() const { return image_ != nullptr; }
  Rgb At(int x, int y) const {
    unsigned long p = XGetPixel(image_, x, y);
    return {static_cast<int>((p >> 16) & 0xFF), static_cast<int>((p >> 8) & 0xFF),
            static_cast<int>(p & 0xFF)};
  }
  // How many pixels of the rectangle differ from `background`.
  int CountUnlike(int x, int y, int w, int h, Rgb background) const {
    int n = 0;
    for (int j = y; j < y + h; ++j) {
      for (int i = x; i < x + w; ++i) n += At(i, j) == background ? 0 : 1;
    }
    return n;
  }

 private:
  XImage* image_ = nullptr;
};

// Waits until exactly one mapped top-level window has a title beginning with
// `prefix`, and `accept` holds for the text of its property `property`.
// Returns that window, or 0 when `limit` passed first.
template <typename Accept>
Window WaitForSoleWindow(Display* display, const std::string& prefix, const char* property,
                         Accept accept, std::chrono::milliseconds limit) {
  Window found = 0;
  bool ok = WaitUntil(
      [&] {
        std::vector<Window> windows = MappedWindowsTitled(display, prefix);
        if (windows.size() != 1) return false;
        found = windows[0];
        return accept(TextProperty(display, found, property));
      },
      limit);
  return ok ? found : 0;
}

}  // namespace quarrin::testing

#endif  // QUARRIN_TESTS_XVFB_H_
