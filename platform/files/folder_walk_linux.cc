// The folder walk behind the disk map: openat/getdents64/fstatat relative
// to open folders, so that no path is ever resolved twice and no symbolic
// link is ever followed, with the work shared by two threads.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "platform/files/folder_walk.h"

namespace quarrin {

namespace {

// Two threads keep the disk busy while one of them waits for it, without
// taking over the workstation that the agent serves.
constexpr int kWorkers = 2;
// Folders a worker keeps open on its way down. Deeper folders reopen their
// parents through ".." on the way back, so any depth walks with a bounded
// number of descriptors.
constexpr size_t kMaxOpenDepth = 48;
// Folders waiting in the queue for an idle worker.
constexpr size_t kMaxQueued = 4;
constexpr size_t kDirentBuffer = 64 * 1024;

class Fd {
 public:
  explicit Fd(int fd = -1) : fd_(fd) {}
  ~Fd() { Reset(); }
  Fd(Fd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  Fd& operator=(Fd&& other) noexcept {
    if (this != &other) {
      Reset();
      fd_ = std::exchange(other.fd_, -1);
    }
    return *this;
  }
  int get() const { return fd_; }
  int release() { return std::exchange(fd_, -1); }
  void Reset() {
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
  }

 private:
  int fd_;
};

constexpr int kOpenDir = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

bool IsDotOrDotDot(const char* name) {
  return name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'));
}

// One walk of one folder tree, shared by the workers.
class Walk {
 public:
  explicit Walk(dev_t device) : device_(device) {}

  // Walks the folder open at `root` (taking it over) and returns the total.
  int64_t Run(Fd root) {
    queue_.push_back(root.release());
    workers_ = kWorkers;
    std::thread helper;
    try {
      helper = std::thread([this] { Work(); });
    } catch (const std::system_error&) {
      std::lock_guard lock(mu_);
      workers_ = 1;  // no thread to be had: walk alone
    }
    Work();
    if (helper.joinable()) helper.join();
    return total_.load();
  }

 private:
  struct Frame {
    Fd fd;
    ino_t inode = 0;
    std::vector<std::string> folders;  // subfolders still to walk
    size_t next = 0;
  };

  void Work() {
    std::vector<char> buffer(kDirentBuffer);
    int64_t sum = 0;
    for (;;) {
      Fd fd;
      {
        std::unique_lock lock(mu_);
        ++idle_;
        idle_hint_.store(idle_, std::memory_order_relaxed);
        while (queue_.empty() && !done_) {
          if (idle_ == workers_) {
            done_ = true;
            cv_.notify_all();
            break;
          }
          cv_.wait(lock);
        }
        if (queue_.empty()) break;
        fd = Fd(queue_.front());
        queue_.pop_front();
        --idle_;
        idle_hint_.store(idle_, std::memory_order_relaxed);
      }
      sum += WalkTree(std::move(fd), buffer);
    }
    total_.fetch_add(sum);
  }

  // Opens a subfolder of the same file system; invalid Fd when it is a link,
  // gone, unreadable or another file system's mount point.
  Fd OpenFolder(int parent, const char* name, ino_t* inode) const {
    Fd fd(openat(parent, name, kOpenDir));
    if (fd.get() < 0) return Fd();
    struct stat st{};
    if (fstat(fd.get(), &st) != 0 || st.st_dev != device_) return Fd();
    *inode = st.st_ino;
    return fd;
  }

  // Adds the files of one open folder to *sum and collects its subfolders.
  // A folder that cannot be read any further keeps what was read.
  void ReadFolder(int fd, std::vector<char>& buffer, int64_t* sum,
                  std::vector<std::string>* folders) const {
    for (;;) {
      const ssize_t n = getdents64(fd, buffer.data(), buffer.size());
      if (n <= 0) return;
      for (ssize_t off = 0; off < n;) {
        const auto* entry = reinterpret_cast<const struct dirent64*>(buffer.data() + off);
        off += entry->d_reclen;
        const char* name = entry->d_name;
        if (IsDotOrDotDot(name)) continue;
        unsigned char type = entry->d_type;
        struct stat st{};
        if (type == DT_REG || type == DT_UNKNOWN) {
          if (fstatat(fd, name, &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
          if (S_ISREG(st.st_mode)) {
            *sum += st.st_size;
            continue;
          }
          type = S_ISDIR(st.st_mode) ? DT_DIR : DT_UNKNOWN;
        }
        if (type == DT_DIR) folders->emplace_back(name);
      }
    }
  }

  // Hands an open folder to an idle worker when there is one; false, with
  // fd untouched, when the caller should walk it itself.
  bool Offer(Fd& fd) {
    if (idle_hint_.load(std::memory_order_relaxed) == 0) return false;
    std::lock_guard lock(mu_);
    if (idle_ == 0 || queue_.size() >= kMaxQueued) return false;
    queue_.push_back(fd.release());
    cv_.notify_one();
    return true;
  }

  int64_t WalkTree(Fd root, std::vector<char>& buffer) {
    int64_t sum = 0;
    struct stat st{};
    if (fstat(root.get(), &st) != 0) return 0;
    std::vector<Frame> path;
    path.push_back(Frame{std::move(root), st.st_ino, {}, 0});
    ReadFolder(path.back().fd.get(), buffer, &sum, &path.back().folders);
    while (!path.empty()) {
      Frame& top = path.back();
      if (top.next == top.folders.size()) {
        // Done with this folder: climb back to its parent, reopening the
        // parent through ".." when it was closed on the way down.
        Fd done = std::move(top.fd);
        path.pop_back();
        if (!path.empty() && path.back().fd.get() < 0 && !Reopen(done.get(), &path.back())) {
          break;  // the tree moved while we were below: keep what was counted
        }
        continue;
      }
      Frame child;
      child.fd = OpenFolder(top.fd.get(), top.folders[top.next++].c_str(), &child.inode);
      if (child.fd.get() < 0 || Offer(child.fd)) continue;
      ReadFolder(child.fd.get(), buffer, &sum, &child.folders);
      if (child.folders.empty()) continue;
      path.push_back(std::move(child));
      if (path.size() > kMaxOpenDepth) path[path.size() - 1 - kMaxOpenDepth].fd.Reset();
    }
    return sum;
  }

  // Reopens parent as ".." of the folder open at child; false when that is
  // no longer the folder it was.
  bool Reopen(int child, Frame* parent) const {
    Fd fd(openat(child, "..", kOpenDir));
    struct stat st{};
    if (fd.get() < 0 || fstat(fd.get(), &st) != 0 || st.st_dev != device_ ||
        st.st_ino != parent->inode) {
      return false;
    }
    parent->fd = std::move(fd);
    return true;
  }

  const dev_t device_;
  std::mutex mu_;
  std::condition_variable cv_;
  std::deque<int> queue_;  // open folders no worker has taken yet
  int workers_ = 1;
  int idle_ = 0;
  bool done_ = false;
  std::atomic<int> idle_hint_{0};  // idle_, readable without the lock
  std::atomic<int64_t> total_{0};
};

// Sums the folder open at fd.
int64_t SizeOfOpenFolder(Fd fd) {
  struct stat st{};
  if (fd.get() < 0 || fstat(fd.get(), &st) != 0) return 0;
  Walk walk(st.st_dev);
  return walk.Run(std::move(fd));
}

}  // namespace

int64_t FolderSize(const std::string& folder) {
  std::string path = folder;
  // O_NOFOLLOW only guards the last component, and a trailing "/" would
  // make that component be resolved.
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return SizeOfOpenFolder(Fd(open(path.c_str(), kOpenDir)));
}

std::vector<std::string> DriveFolders(const std::string& drive_root) {
  std::vector<std::string> names;
  Fd root(open(drive_root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  struct stat root_st{};
  if (root.get() < 0 || fstat(root.get(), &root_st) != 0) return names;
  DIR* dir = fdopendir(root.get());
  if (dir == nullptr) return names;
  root.release();  // the listing owns it now
  while (const struct dirent* entry = readdir(dir)) {
    if (entry->d_name[0] == '.') continue;  // hidden, and "." and ".."
    struct stat st{};
    if (fstatat(dirfd(dir), entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
    // A folder of another file system is a mount point: a system entry.
    if (!S_ISDIR(st.st_mode) || st.st_dev != root_st.st_dev) continue;
    names.emplace_back(entry->d_name);
  }
  closedir(dir);
  return names;
}

std::string DriveFolderPath(const std::string& drive_root, const std::string& name) {
  std::string path = drive_root;
  if (path.empty() || path.back() != '/') path += '/';
  return path + name;
}

std::string DriveFolderLabel(const std::string& /*drive_root*/, const std::string& name) {
  return "/" + name;
}

}  // namespace quarrin
