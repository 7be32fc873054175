#include "platform/files/file_replace.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "platform/files/file_io.h"
#include "platform/version/version_resource.h"

namespace quarrin {
namespace {

std::string ErrnoText() { return std::strerror(errno); }

}  // namespace

FileKind KindOfFile(const std::string& path, bool follow_links, std::string* why) {
  struct stat st;
  if ((follow_links ? stat(path.c_str(), &st) : lstat(path.c_str(), &st)) != 0) {
    if (why != nullptr) *why = ErrnoText();
    return FileKind::kMissing;
  }
  return S_ISREG(st.st_mode) ? FileKind::kRegular : FileKind::kOther;
}

std::optional<std::string> KeepPreviousFile(const std::string& path, const std::string& backup) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0) return ErrnoText();
  unlink(backup.c_str());
  if (link(path.c_str(), backup.c_str()) == 0) return std::nullopt;
  // Another file system under the folder, or one without hard links.
  std::error_code ec;
  std::filesystem::copy_file(path, backup, std::filesystem::copy_options::overwrite_existing, ec);
  if (!ec && chmod(backup.c_str(), st.st_mode & 07777) == 0) return std::nullopt;
  const std::string why = ec ? ec.message() : ErrnoText();
  unlink(backup.c_str());
  return why;
}

std::optional<std::string> TakeExecutablePermissions(const std::string& path,
                                                     const std::string& model) {
  struct stat old_st;
  if (stat(model.c_str(), &old_st) != 0 || !S_ISREG(old_st.st_mode)) return MarkExecutable(path);
  struct stat st;
  if (lstat(path.c_str(), &st) != 0) return ErrnoText();
  const bool same_owner = st.st_uid == old_st.st_uid && st.st_gid == old_st.st_gid;
  if (!same_owner && chown(path.c_str(), old_st.st_uid, old_st.st_gid) != 0) return ErrnoText();
  if (chmod(path.c_str(), old_st.st_mode & 07777) != 0) return ErrnoText();
  return std::nullopt;
}

std::optional<std::string> MarkExecutable(const std::string& path) {
  if (chmod(path.c_str(), 0755) != 0) return ErrnoText();
  return std::nullopt;
}

std::optional<std::string> RenameOver(const std::string& from, const std::string& to,
                                      bool* in_use) {
  if (in_use != nullptr) *in_use = false;
  SyncToDisk(from);
  if (rename(from.c_str(), to.c_str()) != 0) return ErrnoText();
  SyncToDisk(std::filesystem::path(to).parent_path());
  return std::nullopt;
}

bool ExecutableForThisMachine(const std::string& path) {
  std::optional<ElfIdentity> file = ReadElfIdentity(path);
  if (!file) return false;
  ElfIdentity own = OwnElfIdentity();
  bool runnable_type = file->type == 2 || file->type == 3;  // ET_EXEC, ET_DYN
  return runnable_type && file->is_64bit == own.is_64bit &&
         file->little_endian == own.little_endian && file->machine == own.machine;
}

std::optional<std::string> RemoveFile(const std::string& path) {
  if (unlink(path.c_str()) != 0 && errno != ENOENT) return ErrnoText();
  return std::nullopt;
}

}  // namespace quarrin
