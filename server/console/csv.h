// CSV lines as spreadsheets read them (RFC 4180).
#ifndef QUARRIN_SERVER_CONSOLE_CSV_H_
#define QUARRIN_SERVER_CONSOLE_CSV_H_

#include <initializer_list>
#include <string>

namespace quarrin {

// The fields joined by commas and ended by CR LF. A field holding a comma,
// a quote or a line end is quoted, its quotes doubled; one that begins with
// "=", "+", "-", "@" or a tab gets a leading "'" first, so that a
// spreadsheet shows it rather than running it as a formula.
std::string CsvLine(std::initializer_list<std::string> fields);

}  // namespace quarrin

#endif  // QUARRIN_SERVER_CONSOLE_CSV_H_
