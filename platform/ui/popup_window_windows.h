// What the Win32 popup dialog shows to desktop automation (and to tests):
// its window class and the control IDs of its labels.
#ifndef QUARRIN_PLATFORM_UI_POPUP_WINDOW_WINDOWS_H_
#define QUARRIN_PLATFORM_UI_POPUP_WINDOW_WINDOWS_H_

#include "platform/ui/popup_window.h"

namespace quarrin {

inline constexpr wchar_t kPopupWindowClass[] = L"TfrmMsg";
inline constexpr int kPopupLabel1Id = 101;
inline constexpr int kPopupDateTimeId = 102;
inline constexpr int kPopupLabel2Id = 103;
inline constexpr int kPopupFromId = 104;
inline constexpr int kPopupMessageId = 105;
// spbOK, drawn on the window itself: left 196, top 176, 45 x 21.
inline constexpr int kPopupOkX = 196 + 22;
inline constexpr int kPopupOkY = 176 + 10;

}  // namespace quarrin

#endif  // QUARRIN_PLATFORM_UI_POPUP_WINDOW_WINDOWS_H_
