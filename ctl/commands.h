// Subcommands of quarrinctl. Each takes the arguments after its own name and
// returns the process exit status.
#ifndef QUARRIN_CTL_COMMANDS_H_
#define QUARRIN_CTL_COMMANDS_H_

#include <string>
#include <vector>

namespace quarrin {

int RunRegCommand(const std::vector<std::string>& args);
int RunEventLogCommand(const std::vector<std::string>& args);
int RunScCommand(const std::vector<std::string>& args);

}  // namespace quarrin

#endif  // QUARRIN_CTL_COMMANDS_H_
