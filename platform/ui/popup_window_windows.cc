// The popup's dialog with user32 and gdi32: a captioned window with a fixed
// dialog frame and no system menu, five static labels, an OK button drawn
// on the window itself (like a speed button it never takes the keyboard
// focus) and a 100 ms timer that keeps pulling the window to the front.
#include "platform/ui/popup_window_windows.h"

#include <windows.h>

#include <mutex>
#include <optional>
#include <utility>

#include "platform/text/wide_text_windows.h"

namespace quarrin {
namespace {

constexpr UINT kApplyMessage = WM_APP + 1;  // a thread message: apply the wanted state
constexpr UINT_PTR kTimer1 = 1;
constexpr UINT kTimer1Interval = 100;
constexpr int kClientWidth = 441;
constexpr int kClientHeight = 204;
constexpr RECT kOkButton = {196, 176, 196 + 45, 176 + 21};

struct LabelLayout {
  int id;
  int x, y, w, h;
  bool bold, message;
  const wchar_t* text;
};
// In the order of the form's members.
constexpr LabelLayout kLabels[] = {
    {kPopupDateTimeId, 72, 4, 153, 13, false, false, L""},
    {kPopupLabel1Id, 8, 4, 55, 13, true, false, L"Received"},
    {kPopupLabel2Id, 8, 24, 28, 13, true, false, L"From"},
    {kPopupFromId, 72, 24, 261, 13, false, false, L""},
    {kPopupMessageId, 8, 44, 425, 125, false, true, L""},
};

HFONT FormFont(int height, int weight) {
  return CreateFontW(-height, 0, 0, 0, weight, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                     OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                     DEFAULT_PITCH | FF_SWISS, L"MS Sans Serif");
}

class Win32PopupWindow final : public PopupWindow {
 public:
  Win32PopupWindow(std::function<void()> on_dismissed, std::function<void()> on_shown)
      : on_dismissed_(std::move(on_dismissed)), on_shown_(std::move(on_shown)) {}
  ~Win32PopupWindow() override {
    for (HFONT font : {font_, bold_font_, message_font_}) {
      if (font != nullptr) DeleteObject(font);
    }
  }

  bool Run() override {
    MSG msg;
    PeekMessageW(&msg, nullptr, WM_USER, WM_USER, PM_NOREMOVE);  // this thread's queue
    if (!RegisterFormClass()) return false;
    // Fonts 8 and 12 point at 96 dots per inch.
    font_ = FormFont(11, FW_NORMAL);
    bold_font_ = FormFont(11, FW_BOLD);
    message_font_ = FormFont(16, FW_NORMAL);
    if (!MakeForm()) return false;
    {
      std::lock_guard lock(mu_);
      if (quit_) return true;
      thread_id_ = GetCurrentThreadId();
    }
    Apply();
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
      if (msg.hwnd == nullptr && msg.message == kApplyMessage) {
        Apply();
        continue;
      }
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
    {
      std::lock_guard lock(mu_);
      thread_id_ = 0;
    }
    if (hwnd_ != nullptr) DestroyWindow(hwnd_);  // only its own thread can
    return true;
  }

  void Quit() override {
    std::lock_guard lock(mu_);
    quit_ = true;
    if (thread_id_ != 0) PostThreadMessageW(thread_id_, WM_QUIT, 0, 0);
  }

  void Create() override {
    std::lock_guard lock(mu_);
    want_window_ = true;
    WakeLocked();
  }
  void Show(const PopupTexts& texts) override {
    std::lock_guard lock(mu_);
    want_window_ = true;
    shown_ = true;
    pending_ = texts;
    WakeLocked();
  }
  void Hide() override {
    std::lock_guard lock(mu_);
    shown_ = false;
    WakeLocked();
  }
  void Release() override {
    std::lock_guard lock(mu_);
    want_window_ = false;
    shown_ = false;
    pending_.reset();
    WakeLocked();
  }
  bool shown() const override {
    std::lock_guard lock(mu_);
    return shown_;
  }

 private:
  static LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
    auto* self = reinterpret_cast<Win32PopupWindow*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (message == WM_NCCREATE) {
      self = static_cast<Win32PopupWindow*>(reinterpret_cast<CREATESTRUCTW*>(lparam)->lpCreateParams);
      SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    }
    if (self != nullptr) {
      LRESULT result = 0;
      if (self->Handle(hwnd, message, wparam, lparam, &result)) return result;
    }
    return DefWindowProcW(hwnd, message, wparam, lparam);
  }

  static bool RegisterFormClass() {
    WNDCLASSEXW form{};
    form.cbSize = sizeof form;
    form.lpfnWndProc = WindowProc;
    form.hInstance = GetModuleHandleW(nullptr);
    form.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    form.hbrBackground = GetSysColorBrush(COLOR_BTNFACE);
    form.lpszClassName = kPopupWindowClass;
    return RegisterClassExW(&form) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
  }

  // The window, hidden; made once by Run so that a missing desktop shows at
  // once, and again after a Release.
  bool MakeForm() {
    if (hwnd_ != nullptr) return true;
    constexpr DWORD kStyle = WS_POPUP | WS_CAPTION;  // no system menu, so no buttons on the caption
    constexpr DWORD kExStyle = WS_EX_DLGMODALFRAME;
    RECT frame = {0, 0, kClientWidth, kClientHeight};
    AdjustWindowRectEx(&frame, kStyle, FALSE, kExStyle);
    HINSTANCE instance = GetModuleHandleW(nullptr);
    hwnd_ = CreateWindowExW(kExStyle, kPopupWindowClass, L"Quarrin Service", kStyle, CW_USEDEFAULT,
                            CW_USEDEFAULT, frame.right - frame.left, frame.bottom - frame.top,
                            nullptr, nullptr, instance, this);
    if (hwnd_ == nullptr) return false;
    for (const LabelLayout& label : kLabels) {
      DWORD style = WS_CHILD | WS_VISIBLE | SS_NOPREFIX | (label.message ? SS_LEFT : SS_LEFTNOWORDWRAP);
      HWND child = CreateWindowExW(0, L"STATIC", label.text, style, label.x, label.y, label.w,
                                   label.h, hwnd_, reinterpret_cast<HMENU>(static_cast<INT_PTR>(label.id)),
                                   instance, nullptr);
      HFONT font = label.message ? message_font_ : label.bold ? bold_font_ : font_;
      if (child != nullptr && font != nullptr) SendMessageW(child, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    }
    return true;
  }

  // REQUIRES: mu_ held.
  void WakeLocked() {
    if (thread_id_ != 0) PostThreadMessageW(thread_id_, kApplyMessage, 0, 0);
  }

  // On the loop's thread: makes the window what the requests want.
  void Apply() {
    bool want_window, shown;
    std::optional<PopupTexts> texts;
    {
      std::lock_guard lock(mu_);
      want_window = want_window_;
      shown = shown_;
      texts = std::exchange(pending_, std::nullopt);
    }
    if (!want_window) {
      if (hwnd_ != nullptr) {
        SetTimer1(false);
        DestroyWindow(hwnd_);
        hwnd_ = nullptr;
      }
      return;
    }
    if (!MakeForm()) return;
    if (texts) SetTexts(*texts);
    if (texts && shown) {
      SetTimer1(true);
      if (!IsWindowVisible(hwnd_)) {
        Centre();
        ShowWindow(hwnd_, SW_SHOW);
      }
      SetForegroundWindow(hwnd_);
      if (on_shown_) on_shown_();
    } else if (!shown && IsWindowVisible(hwnd_)) {
      HideForm();
    }
  }

  void SetTexts(const PopupTexts& texts) {
    SetWindowTextW(hwnd_, WideFromUtf8Lenient(texts.caption).c_str());
    SetDlgItemTextW(hwnd_, kPopupDateTimeId, WideFromUtf8Lenient(texts.date_time).c_str());
    SetDlgItemTextW(hwnd_, kPopupFromId, WideFromUtf8Lenient(texts.from).c_str());
    SetDlgItemTextW(hwnd_, kPopupMessageId, WideFromUtf8Lenient(texts.text).c_str());
  }

  void Centre() {
    RECT window;
    GetWindowRect(hwnd_, &window);
    const int w = window.right - window.left, h = window.bottom - window.top;
    SetWindowPos(hwnd_, nullptr, (GetSystemMetrics(SM_CXSCREEN) - w) / 2,
                 (GetSystemMetrics(SM_CYSCREEN) - h) / 2, 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  }

  void SetTimer1(bool on) {
    if (on == timer_on_) return;
    if (on) {
      SetTimer(hwnd_, kTimer1, kTimer1Interval, nullptr);
    } else {
      KillTimer(hwnd_, kTimer1);
    }
    timer_on_ = on;
  }

  void HideForm() {
    SetTimer1(false);
    ShowWindow(hwnd_, SW_HIDE);
  }

  void spbOKClick() {
    {
      std::lock_guard lock(mu_);
      // A message that arrived while OK was being pressed is shown all the same.
      if (!pending_) shown_ = false;
    }
    HideForm();
    if (on_dismissed_) on_dismissed_();
  }

  bool OverOk(LPARAM lparam) const {
    POINT p = {static_cast<short>(LOWORD(lparam)), static_cast<short>(HIWORD(lparam))};
    return PtInRect(&kOkButton, p) != FALSE;
  }

  void SetPressed(bool pressed) {
    if (pressed == ok_pressed_) return;
    ok_pressed_ = pressed;
    InvalidateRect(hwnd_, &kOkButton, FALSE);
  }

  void PaintOk(HDC dc) {
    RECT button = kOkButton;
    DrawFrameControl(dc, &button, DFC_BUTTON, DFCS_BUTTONPUSH | (ok_pressed_ ? DFCS_PUSHED : 0));
    if (ok_pressed_) OffsetRect(&button, 1, 1);
    HGDIOBJ old = SelectObject(dc, font_);
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, GetSysColor(COLOR_BTNTEXT));
    DrawTextW(dc, L"OK", 2, &button, DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
    SelectObject(dc, old);
  }

  bool Handle(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam, LRESULT* result) {
    switch (message) {
      case WM_TIMER:
        if (wparam == kTimer1 && IsWindowVisible(hwnd)) SetForegroundWindow(hwnd);
        return true;
      case WM_CTLCOLORSTATIC: {
        const bool msg = GetDlgCtrlID(reinterpret_cast<HWND>(lparam)) == kPopupMessageId;
        const int background = msg ? COLOR_CAPTIONTEXT : COLOR_BTNFACE;
        HDC dc = reinterpret_cast<HDC>(wparam);
        SetTextColor(dc, GetSysColor(COLOR_WINDOWTEXT));
        SetBkColor(dc, GetSysColor(background));
        *result = reinterpret_cast<LRESULT>(GetSysColorBrush(background));
        return true;
      }
      case WM_PAINT: {
        PAINTSTRUCT paint;
        HDC dc = BeginPaint(hwnd, &paint);
        PaintOk(dc);
        EndPaint(hwnd, &paint);
        return true;
      }
      case WM_LBUTTONDOWN:
        if (OverOk(lparam)) {
          SetCapture(hwnd);
          SetPressed(true);
        }
        return true;
      case WM_MOUSEMOVE:
        if (GetCapture() == hwnd) SetPressed(OverOk(lparam));
        return true;
      case WM_LBUTTONUP:
        if (GetCapture() == hwnd) {
          const bool click = ok_pressed_ && OverOk(lparam);
          ReleaseCapture();  // sends WM_CAPTURECHANGED, which releases the button
          SetPressed(false);
          if (click) spbOKClick();
        }
        return true;
      case WM_CAPTURECHANGED:
        SetPressed(false);
        return false;
      case WM_CLOSE:
        return true;  // only OK closes the window
      case WM_DESTROY:
        if (hwnd == hwnd_) hwnd_ = nullptr;
        return false;
      default:
        return false;
    }
  }

  const std::function<void()> on_dismissed_;
  const std::function<void()> on_shown_;
  mutable std::mutex mu_;
  DWORD thread_id_ = 0;
  bool quit_ = false;
  bool want_window_ = false;
  bool shown_ = false;
  std::optional<PopupTexts> pending_;

  // The loop thread's own.
  HWND hwnd_ = nullptr;
  HFONT font_ = nullptr, bold_font_ = nullptr, message_font_ = nullptr;
  bool timer_on_ = false;
  bool ok_pressed_ = false;
};

}  // namespace

std::unique_ptr<PopupWindow> NewSystemPopupWindow(std::function<void()> on_dismissed,
                                                  std::function<void()> on_shown) {
  return std::make_unique<Win32PopupWindow>(std::move(on_dismissed), std::move(on_shown));
}

}  // namespace quarrin
