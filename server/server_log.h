// The server's log: one line per event on standard error, with the time in
// UTC, for the journal or the terminal to keep.
#ifndef QUARRIN_SERVER_SERVER_LOG_H_
#define QUARRIN_SERVER_SERVER_LOG_H_

#include <string_view>

namespace quarrin {

// Safe for concurrent use by multiple threads; lines never interleave.
void ServerLog(std::string_view text);

}  // namespace quarrin

#endif  // QUARRIN_SERVER_SERVER_LOG_H_
