// What tests of the Win32 popup dialog share: waiting for it, reading its
// texts and pressing its OK button, as desktop automation would, and the
// runner's own arguments for the tests that run as a popup copy.
#ifndef QUARRIN_PLATFORM_UI_POPUP_WINDOW_WINDOWS_TESTING_H_
#define QUARRIN_PLATFORM_UI_POPUP_WINDOW_WINDOWS_TESTING_H_

#include <windows.h>
// after windows.h
#include <shellapi.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "platform/ui/popup_window_windows.h"
#include "platform/text/wide_text_windows.h"

namespace quarrin::testing {

// Polls `condition` every 10 ms until it holds or `limit` passes.
template <typename Condition>
bool WaitUntil(Condition condition, std::chrono::milliseconds limit) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (!condition()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}

inline std::string DlgText(HWND form, int id) {
  wchar_t buffer[4096] = {};
  GetDlgItemTextW(form, id, buffer, 4096);
  return Utf8FromWide(buffer);
}

inline std::string Caption(HWND form) {
  wchar_t buffer[512] = {};
  GetWindowTextW(form, buffer, 512);
  return Utf8FromWide(buffer);
}

// A left click at (x, y) of the client area, posted as the mouse would.
inline void Click(HWND form, int x, int y) {
  const LPARAM at = MAKELPARAM(x, y);
  PostMessageW(form, WM_LBUTTONDOWN, MK_LBUTTON, at);
  PostMessageW(form, WM_LBUTTONUP, 0, at);
}

// The arguments this runner was started with, the program first; a popup
// copy finds its switch among them.
inline std::vector<std::string> ProgramArgs() {
  int count = 0;
  wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
  std::vector<std::string> args;
  for (int i = 0; i < count; ++i) args.push_back(Utf8FromWide(wide[i]));
  LocalFree(wide);
  return args;
}

}  // namespace quarrin::testing

#endif  // QUARRIN_PLATFORM_UI_POPUP_WINDOW_WINDOWS_TESTING_H_
