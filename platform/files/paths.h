// Where the executables keep their files. On Linux every path is below
// QUARRIN_ROOT (empty by default), so tests can run in a fresh folder side by
// side; on Windows the folders are the system's own, there is no root, and
// the state folder lies below the common application data folder (the
// databases of the Linux stand-ins are never made there).
#ifndef QUARRIN_PLATFORM_FILES_PATHS_H_
#define QUARRIN_PLATFORM_FILES_PATHS_H_

#include <string>
#include <string_view>

namespace quarrin {

// The value of QUARRIN_ROOT without a trailing "/"; empty when unset.
std::string QuarrinRoot();
// QUARRIN_ROOT + absolute_path.
std::string Rooted(std::string_view absolute_path);

std::string StateDir();          // <root>/var/lib/quarrin; Windows: <0x23>\TARN\Quarrin
std::string RegistryDbPath();    // <state>/registry.db
std::string EventLogDbPath();    // <state>/eventlog.db
std::string CommonAppDataDir();  // <root>/var/lib; Windows: CSIDL 0x23
std::string ProgramFilesDir();   // <root>/opt; Windows: CSIDL 0x26
std::string SystemDriveRoot();   // <root>/; Windows: the drive of Windows, "C:\"

// Full path of the running executable (/proc/self/exe resolved; the module
// file name on Windows).
std::string ExecutablePath();
// File name of the running executable without its folder.
std::string ExecutableName();

// This computer's name as the system reports it (the host name), exactly as
// stored; empty if the system cannot tell.
std::string LocalComputerName();

// The folder of the running executable with its trailing "/" ("\" on
// Windows); also makes it
// the current directory (a failure to do so is ignored). Empty when the
// executable's path cannot be read.
std::string ProgramFolder();

// Special folders, below QUARRIN_ROOT (on Windows the system's), without a
// trailing separator:
// 0x23 the common application data folder, 0x26 the program files folder.
// Any other identifier gives empty text: the agent asks for no other folder.
inline constexpr int kCsidlCommonAppData = 0x23;
inline constexpr int kCsidlProgramFiles = 0x26;
std::string SpecialFolderPath(int csidl);

// Creates the folder and its parents; true when it exists afterwards.
bool MakeDirs(const std::string& path);

// Creates the state folder (0700, whatever the umask) when it is missing and
// checks that this process can write in it. Throws std::runtime_error naming the folder and why:
// "<folder>: cannot create the state folder: <reason>" or "<folder>: the
// state folder is not writable: <reason>".
void EnsureStateFolder();

}  // namespace quarrin

#endif  // QUARRIN_PLATFORM_FILES_PATHS_H_
