// Replacing an installed executable with a downloaded one: the download is
// renamed over the executable in one step, so that the executable's path
// always names a whole file, and the previous file can be kept beside it
// until the new one has shown that it runs.
//
// Each operation returns nullopt when it worked, or the system's text of why
// it did not, which callers put after their own context and ": ".
// Paths are UTF-8.
#ifndef QUARRIN_PLATFORM_FILES_FILE_REPLACE_H_
#define QUARRIN_PLATFORM_FILES_FILE_REPLACE_H_

#include <optional>
#include <string>

namespace quarrin {

enum class FileKind {
  kMissing,  // nothing there, or it cannot be looked at (see `why`)
  kRegular,  // a regular file
  kOther,    // a folder, a device, or a symbolic link not followed
};

// What lies at path: with follow_links, what a symbolic link there points
// to; without, the link itself (kOther). For kMissing, *why (when given)
// receives the system's text of why.
FileKind KindOfFile(const std::string& path, bool follow_links, std::string* why = nullptr);

// Keeps the regular file at path as `backup`, replacing any file of that
// name: a second name for the same file where the file system allows it
// (renaming another file over path then leaves the backup untouched), a copy
// with the same permissions otherwise. A failed copy leaves no backup.
std::optional<std::string> KeepPreviousFile(const std::string& path, const std::string& backup);

// Gives the file at path the permissions and owner of the executable at
// `model`, or, when there is no regular file at model, makes it executable
// for everyone as a newly installed program is. Windows: nothing to do (a
// file renamed into a folder keeps its own access rights, and any file can
// be run).
std::optional<std::string> TakeExecutablePermissions(const std::string& path,
                                                     const std::string& model);

// Makes the file at path executable (mode 0755). Windows: nothing to do.
std::optional<std::string> MarkExecutable(const std::string& path);

// Renames `from` over `to`, replacing the file there in one step, with the
// renamed file's data and the folder's new entry on disk when it returns
// (a failed sync only costs durability and is not reported). Both must lie
// in the same folder or at least on the same volume. *in_use (when given)
// tells whether it failed only because a program still holds one of the
// files, as on Windows a program that is ending holds its executable for a
// moment after its service has reported stopped; on Linux never.
std::optional<std::string> RenameOver(const std::string& from, const std::string& to,
                                      bool* in_use = nullptr);

// True when the file at path is an executable that this machine runs as it
// runs this program: on Linux an ELF executable (or position-independent
// one) of the running program's class, byte order and machine; on Windows a
// program image, not a DLL, for the running program's machine.
bool ExecutableForThisMachine(const std::string& path);

// Removes the file at path; a missing file is no failure.
std::optional<std::string> RemoveFile(const std::string& path);

}  // namespace quarrin

#endif  // QUARRIN_PLATFORM_FILES_FILE_REPLACE_H_
