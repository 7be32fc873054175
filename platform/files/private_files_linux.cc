#include "platform/files/private_files.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <stdexcept>

namespace quarrin {
namespace {

[[noreturn]] void Fail(const std::string& what, const std::string& path) {
  throw std::runtime_error(path + ": " + what + ": " + std::strerror(errno));
}

std::string ModeText(mode_t mode) {
  char text[8];
  std::snprintf(text, sizeof text, "%04o", static_cast<unsigned>(mode & 07777));
  return text;
}

// mkdir, then chmod: mkdir's mode is cut by the umask.
bool MakeFolder(const std::string& path, mode_t mode) {
  if (mkdir(path.c_str(), mode) != 0) return errno == EEXIST;
  return chmod(path.c_str(), mode) == 0;
}

// Takes group and other permissions from a file or folder owned by this
// user.
void Tighten(int dir_fd, const char* name) {
  struct stat st;
  if (fstatat(dir_fd, name, &st, AT_SYMLINK_NOFOLLOW) != 0) return;
  if (st.st_uid != geteuid() || (st.st_mode & 077) == 0) return;
  if (S_ISREG(st.st_mode) || S_ISDIR(st.st_mode)) fchmodat(dir_fd, name, st.st_mode & 0700, 0);
}

}  // namespace

void MakePrivateFolder(const std::string& path) {
  for (size_t slash = path.find('/', 1); slash != std::string::npos;
       slash = path.find('/', slash + 1)) {
    const std::string parent = path.substr(0, slash);
    if (!MakeFolder(parent, 0755)) Fail("cannot create the folder", path);
  }
  if (!MakeFolder(path, 0700)) Fail("cannot create the folder", path);
  struct stat st;
  if (stat(path.c_str(), &st) != 0) Fail("cannot create the folder", path);
  if (!S_ISDIR(st.st_mode)) {
    errno = ENOTDIR;
    Fail("cannot create the folder", path);
  }
}

void MakePrivateFile(const std::string& path) {
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) {
    if (errno == EEXIST) return;
    Fail("cannot create the file", path);
  }
  // The umask may have cut the mode further, never widened it; this only
  // restores 0600 for an umask that took the owner's bits.
  fchmod(fd, 0600);
  close(fd);
}

std::optional<std::string> SecureStateFolder(const std::string& path) {
  struct stat st;
  if (lstat(path.c_str(), &st) != 0) {
    if (errno == ENOENT) return std::nullopt;
    return "The state folder " + path + " cannot be examined: " + std::strerror(errno);
  }
  if (!S_ISDIR(st.st_mode)) return "The state folder " + path + " is not a folder";
  const uid_t me = geteuid();
  if (st.st_uid != me && st.st_uid != 0) {
    return "The state folder " + path + " belongs to user " + std::to_string(st.st_uid) +
           ", who could change what this program runs; it must belong to user " +
           std::to_string(me) + " (chown " + std::to_string(me) + " " + path + ")";
  }
  if ((st.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
    return "The state folder " + path + " can be written by other users (mode " +
           ModeText(st.st_mode) + "), who could change what this program runs; it must be " +
           "private (chmod 700 " + path + ")";
  }
  if (st.st_uid != me) return std::nullopt;
  chmod(path.c_str(), 0700);
  if (DIR* dir = opendir(path.c_str())) {
    while (const dirent* entry = readdir(dir)) {
      if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0) continue;
      Tighten(dirfd(dir), entry->d_name);
    }
    closedir(dir);
  }
  return std::nullopt;
}

}  // namespace quarrin
