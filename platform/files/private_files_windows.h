// The decision behind SecureStateFolder on Windows, apart from the file
// system, for tests: Wine keeps of a file's access list only what Unix
// modes can hold.
#ifndef QUARRIN_PLATFORM_FILES_PRIVATE_FILES_WINDOWS_H_
#define QUARRIN_PLATFORM_FILES_PRIVATE_FILES_WINDOWS_H_

#include <optional>
#include <string>

namespace quarrin {

// Why a folder with this security descriptor (owner and DACL) is unsafe to
// run from, or nullopt: its owner is not this process's user (nor its
// token's default owner, SYSTEM or the Administrators), or Everyone,
// Authenticated Users or Users may write it. `named` opens the text ("The
// state folder C:\..."); `path` goes into the remedy it names.
std::optional<std::string> FolderAccessProblem(const std::string& named, const std::string& path,
                                               const void* security_descriptor);

// Whether the descriptor's owner is this process's user or its token's
// default owner: the folder is this process's to change.
bool OwnedByThisProcess(const void* security_descriptor);

}  // namespace quarrin

#endif  // QUARRIN_PLATFORM_FILES_PRIVATE_FILES_WINDOWS_H_
