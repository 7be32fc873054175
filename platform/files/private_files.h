// The state folder and the files in it are private to the user the
// executables run as (root for the services): folders 0700 and files 0600,
// whatever the umask, so no other local user can read the registry and event
// log or change what the services run. On Windows "private" is a protected
// access list (nothing inherited from above) that grants full control to
// SYSTEM, the Administrators and that user only; "owned by root" reads
// owned by SYSTEM or the Administrators, and "writable by its group or by
// others" reads writable by Everyone, Authenticated Users or Users.
#ifndef QUARRIN_PLATFORM_FILES_PRIVATE_FILES_H_
#define QUARRIN_PLATFORM_FILES_PRIVATE_FILES_H_

#include <optional>
#include <string>

namespace quarrin {

// Creates the folder with mode 0700 when missing; its missing parents get
// 0755 (on Windows, what they inherit). Throws std::runtime_error naming the folder when it cannot.
void MakePrivateFolder(const std::string& path);

// Creates the file, empty, with mode 0600 when missing; an existing file is
// left as it is. Throws std::runtime_error naming the file when it cannot.
void MakePrivateFile(const std::string& path);

// Why the state folder at path is unsafe to run from, or nullopt: another
// user than this process's effective user could write it (it is owned by
// another user other than root, or writable by its group or by others),
// or it is not a folder. A missing folder is not unsafe. Then, for a safe
// folder owned by this user, takes the group and other permissions away
// from it and from what lies directly in it (state left by an agent that
// did not keep it private).
std::optional<std::string> SecureStateFolder(const std::string& path);

}  // namespace quarrin

#endif  // QUARRIN_PLATFORM_FILES_PRIVATE_FILES_H_
