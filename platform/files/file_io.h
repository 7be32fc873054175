// Whole files read and written with bounds, and the system's reasons of
// failures as text.
#ifndef QUARRIN_PLATFORM_FILES_FILE_IO_H_
#define QUARRIN_PLATFORM_FILES_FILE_IO_H_

#include <cstddef>
#include <string>
#include <string_view>

namespace quarrin {

// "<context>: <the system's text for error>", the one form in which a
// failed system call is told.
std::string ErrnoMessage(std::string_view context, int error);

// True iff something other than a folder is at the path.
bool FileExists(const std::string& path);

// Reads the file's bytes, at most max_bytes of them, into *data; *cut (when
// given) tells whether more followed. Only a regular file is read (files of
// /proc and /sys are regular files that report no size: they are read to
// their end all the same); the open does not block, so a FIFO put in a
// file's place cannot hold the caller.
// Returns 0, or the errno of the failure (EISDIR: a folder; EINVAL: another
// kind of file that is not a regular one).
int ReadFileCapped(const std::string& path, size_t max_bytes, std::string* data,
                   bool* cut = nullptr);

// What WriteFileSynced did.
struct FileWrite {
  int error = 0;         // 0, or the errno of the failure
  bool created = false;  // the file was opened (created or emptied)
};

// Creates the file, or empties the one there (a symbolic link in its place
// is not followed), writes the bytes and syncs them to disk before it
// returns, so that the file is whole on disk before anyone is told of it.
// On a failure after the open, the partial file is removed.
FileWrite WriteFileSynced(const std::string& path, std::string_view bytes, unsigned mode = 0644);

// Writes every byte to the descriptor, going on after interruptions.
// Returns 0, or the errno of the failure.
int WriteAll(int fd, const void* data, size_t size);

// Flushes a file or folder to disk. Returns 0, or the errno of the failure;
// a failure only costs durability.
int SyncToDisk(const std::string& path);

}  // namespace quarrin

#endif  // QUARRIN_PLATFORM_FILES_FILE_IO_H_
