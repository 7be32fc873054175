// The popup copy's launcher on Windows, with the parts a test sets: the
// program started (with arguments before the switch) and the console's
// session as WTSGetActiveConsoleSessionId tells it.
#ifndef QUARRIN_PLATFORM_UI_SESSION_LAUNCHER_WINDOWS_H_
#define QUARRIN_PLATFORM_UI_SESSION_LAUNCHER_WINDOWS_H_

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/ui/popup_session.h"

namespace quarrin {

// What WTSGetActiveConsoleSessionId answers when no session is attached to
// the console.
inline constexpr uint32_t kNoConsoleSession = 0xFFFFFFFF;

// Starts `program` with `leading_args`, then "-POPUP" and the hand-over.
std::unique_ptr<PopupSessionLauncher> NewWtsPopupLauncher(
    std::string program, std::vector<std::string> leading_args,
    std::function<uint32_t()> console_session);

}  // namespace quarrin

#endif  // QUARRIN_PLATFORM_UI_SESSION_LAUNCHER_WINDOWS_H_
