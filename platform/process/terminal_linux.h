// Reading a secret (a password) from standard input.
#ifndef QUARRIN_PLATFORM_PROCESS_TERMINAL_LINUX_H_
#define QUARRIN_PLATFORM_PROCESS_TERMINAL_LINUX_H_

#include <string>
#include <string_view>

namespace quarrin {

// Reads one line from standard input, without its line end. When standard
// input is a terminal, `prompt` goes to standard error first and what is
// typed is not echoed. False at end of input before a line, or when the
// read fails.
bool ReadSecretLine(std::string_view prompt, std::string* line);

// True iff standard input is a terminal.
bool StdinIsTerminal();

}  // namespace quarrin

#endif  // QUARRIN_PLATFORM_PROCESS_TERMINAL_LINUX_H_
