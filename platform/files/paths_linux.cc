#include "platform/files/paths.h"

#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <system_error>

#include "platform/files/file_io.h"

namespace quarrin {

std::string QuarrinRoot() {
  const char* value = std::getenv("QUARRIN_ROOT");
  std::string root = value ? value : "";
  while (!root.empty() && root.back() == '/') root.pop_back();
  return root;
}

std::string Rooted(std::string_view absolute_path) {
  std::string path = QuarrinRoot();
  if (absolute_path.empty() || absolute_path.front() != '/') path += '/';
  path += absolute_path;
  return path;
}

std::string StateDir() { return Rooted("/var/lib/quarrin"); }
std::string RegistryDbPath() { return StateDir() + "/registry.db"; }
std::string EventLogDbPath() { return StateDir() + "/eventlog.db"; }
std::string CommonAppDataDir() { return Rooted("/var/lib"); }
std::string ProgramFilesDir() { return Rooted("/opt"); }
std::string SystemDriveRoot() { return Rooted("/"); }

std::string ExecutablePath() {
  std::string buf(256, '\0');
  for (;;) {
    ssize_t n = readlink("/proc/self/exe", buf.data(), buf.size());
    if (n < 0) return "";
    if (static_cast<size_t>(n) < buf.size()) {
      buf.resize(static_cast<size_t>(n));
      break;
    }
    buf.resize(buf.size() * 2);  // possibly cut off: try again with more room
  }
  // When the file was replaced or removed after start the kernel appends
  // " (deleted)"; the path the program was started from is still the
  // answer callers want (its folder, its name).
  constexpr std::string_view kDeleted = " (deleted)";
  struct stat st;
  if (buf.ends_with(kDeleted) && lstat(buf.c_str(), &st) != 0) {
    buf.resize(buf.size() - kDeleted.size());
  }
  return buf;
}

std::string ExecutableName() {
  std::string path = ExecutablePath();
  return path.substr(path.rfind('/') + 1);
}

void EnsureStateFolder() {
  const std::string dir = StateDir();
  std::error_code ec;
  std::filesystem::create_directories(std::filesystem::path(dir).parent_path(), ec);
  // The folder itself is its owner's alone, whatever the umask: mkdir's
  // mode is cut by the umask, so chmod sets it.
  if (!ec && mkdir(dir.c_str(), 0700) == 0) {
    chmod(dir.c_str(), 0700);
  } else if (!ec && errno != EEXIST) {
    ec.assign(errno, std::generic_category());
  }
  std::error_code ignored;
  if (!std::filesystem::is_directory(dir, ignored)) {
    if (!ec) ec = std::make_error_code(std::errc::not_a_directory);
    throw std::runtime_error(dir + ": cannot create the state folder: " + ec.message());
  }
  if (access(dir.c_str(), W_OK | X_OK) != 0) {
    throw std::runtime_error(ErrnoMessage(dir + ": the state folder is not writable", errno));
  }
}

bool MakeDirs(const std::string& path) {
  std::error_code ec;
  std::filesystem::create_directories(path, ec);
  return std::filesystem::is_directory(path, ec);
}

std::string LocalComputerName() {
  char name[HOST_NAME_MAX + 2] = {};
  // The buffer has room for any host name, so the call cannot run short; a
  // failure leaves the name empty.
  if (gethostname(name, sizeof name - 1) != 0) return "";
  return name;
}

std::string ProgramFolder() {
  const std::filesystem::path exe = ExecutablePath();
  if (!exe.has_parent_path()) return "";
  std::string folder = exe.parent_path().string();
  if (!folder.ends_with('/')) folder += '/';
  if (chdir(folder.c_str()) != 0) {
    // Ignored on purpose: callers want the folder whether or not it could
    // become the current directory.
  }
  return folder;
}

std::string SpecialFolderPath(int csidl) {
  switch (csidl) {
    case kCsidlCommonAppData:
      return CommonAppDataDir();
    case kCsidlProgramFiles:
      return ProgramFilesDir();
    default:
      return "";
  }
}

}  // namespace quarrin
