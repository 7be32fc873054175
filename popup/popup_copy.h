// The program as a popup copy: started by the service in the console user's
// session with the popup switch, it shows the message handed over until the
// user presses OK, then ends.
#ifndef QUARRIN_POPUP_POPUP_COPY_H_
#define QUARRIN_POPUP_POPUP_COPY_H_

#include <string>
#include <vector>

namespace quarrin {

// True when `args` (the program's name first) hold the popup switch: "/" or
// "-" and the word, in any case.
bool IsPopupCopy(const std::vector<std::string>& args);

// Shows the handed-over message until OK; the exit status: 0 after OK, 1
// when no window could be shown, 2 when the hand-over could not be read.
int RunPopupCopy(const std::vector<std::string>& args);

}  // namespace quarrin

#endif  // QUARRIN_POPUP_POPUP_COPY_H_
