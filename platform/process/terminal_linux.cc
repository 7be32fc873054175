#include "platform/process/terminal_linux.h"

#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <iostream>

namespace quarrin {

bool StdinIsTerminal() { return isatty(STDIN_FILENO) == 1; }

bool ReadSecretLine(std::string_view prompt, std::string* line) {
  termios saved{};
  const bool terminal = isatty(STDIN_FILENO) == 1 && tcgetattr(STDIN_FILENO, &saved) == 0;
  if (terminal) {
    std::fprintf(stderr, "%.*s", static_cast<int>(prompt.size()), prompt.data());
    std::fflush(stderr);
    termios quiet = saved;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
  }
  const bool read = static_cast<bool>(std::getline(std::cin, *line));
  if (terminal) {
    tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved);
    std::fputc('\n', stderr);
  }
  if (!line->empty() && line->back() == '\r') line->pop_back();
  return read;
}

}  // namespace quarrin
