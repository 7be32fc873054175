#include "disk/disk_map.h"

#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "disk/jpeg_testing.h"
#include "tests/test_support.h"

namespace quarrin {
namespace {

using testing::DecodedJpeg;
using testing::DecodeJpeg;
using testing::TempDir;

void MakeDir(const std::string& path) { ASSERT_EQ(mkdir(path.c_str(), 0755), 0) << path; }

void MakeFile(const std::string& path, int64_t size) {
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  ASSERT_GE(fd, 0) << path;
  ASSERT_EQ(ftruncate(fd, size), 0) << path;  // sparse: takes no room
  close(fd);
}

void MakeLink(const std::string& target, const std::string& path) {
  ASSERT_EQ(symlink(target.c_str(), path.c_str()), 0) << path;
}

// A listening Unix socket bound at path; it stays in the tree once closed.
void MakeSocket(const std::string& path) {
  const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
  ASSERT_GE(fd, 0);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  ASSERT_LT(path.size(), sizeof addr.sun_path);
  std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
  ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0) << path;
  close(fd);
}

// Runs fn in a child process without root's power to read any folder, and
// returns what it printed. Without root, in this process.
std::string RunUnprivileged(const std::function<std::string()>& fn) {
  if (geteuid() != 0) return fn();
  int pipe_fds[2];
  if (pipe(pipe_fds) != 0) return "pipe failed";
  const pid_t pid = fork();
  if (pid == 0) {
    close(pipe_fds[0]);
    const uid_t nobody = 65534;
    if (setgroups(0, nullptr) != 0 || setresgid(nobody, nobody, nobody) != 0 ||
        setresuid(nobody, nobody, nobody) != 0) {
      _exit(2);
    }
    const std::string out = fn();
    if (write(pipe_fds[1], out.data(), out.size()) != static_cast<ssize_t>(out.size())) _exit(3);
    _exit(0);
  }
  close(pipe_fds[1]);
  std::string out;
  char buf[4096];
  for (ssize_t n; (n = read(pipe_fds[0], buf, sizeof buf)) > 0;) out.append(buf, static_cast<size_t>(n));
  close(pipe_fds[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return "child failed";
  return out;
}

// Names in the order readdir gives them, as the disk map must keep them.
std::vector<std::string> ListingOrder(const std::string& folder) {
  std::vector<std::string> names;
  DIR* dir = opendir(folder.c_str());
  if (dir == nullptr) return names;
  while (const dirent* e = readdir(dir)) names.emplace_back(e->d_name);
  closedir(dir);
  return names;
}

TEST(FolderSizeTest, CountsEveryRegularFileBelowAndFollowsNoLink) {
  TempDir dir;
  const std::string root = dir / "tree";
  MakeDir(root);
  MakeFile(root + "/a.txt", 100);
  ASSERT_EQ(link((root + "/a.txt").c_str(), (root + "/a-again.txt").c_str()), 0);
  MakeFile(root + "/.hidden", 10);
  MakeDir(root + "/sub");
  MakeFile(root + "/sub/b.bin", 1000);
  MakeDir(root + "/sub/deep");
  MakeFile(root + "/sub/deep/c", 1);
  MakeFile(root + "/sub/deep/3GiB", int64_t{3} << 30);
  MakeDir(root + "/empty");
  MakeLink("..", root + "/sub/deep/up");         // a loop back to sub
  MakeLink(".", root + "/sub/self");              // a loop onto itself
  MakeLink(root, root + "/sub/deep/top");         // a loop to the top, absolute
  MakeLink("/usr", root + "/elsewhere");          // a folder outside
  MakeLink(root + "/a.txt", root + "/file-link");  // a file counted once only
  MakeLink("missing", root + "/dangling");
  MakeSocket(root + "/sock");
  ASSERT_EQ(mkfifo((root + "/fifo").c_str(), 0644), 0);

  const int64_t expected = 100 + 100 + 10 + 1000 + 1 + (int64_t{3} << 30);
  EXPECT_EQ(FolderSize(root), expected);
  EXPECT_EQ(FolderSize(root + "/"), expected);
  EXPECT_EQ(FolderSize(root + "//"), expected);
  EXPECT_EQ(FolderSize(root + "/sub/deep"), 1 + (int64_t{3} << 30));
  EXPECT_EQ(FolderSize(root + "/empty"), 0);

  MakeLink(root, dir / "link-to-tree");
  struct Case {
    std::string path;
    const char* why;
  } nothing[] = {
      {dir / "link-to-tree", "a link itself is not walked"},
      {dir / "link-to-tree/", "not even with a trailing slash"},
      {root + "/a.txt", "a file is no folder"},
      {dir / "missing", "nothing there"},
      {"", "no path"},
  };
  for (const Case& c : nothing) EXPECT_EQ(FolderSize(c.path), 0) << c.path << ": " << c.why;
}

TEST(FolderSizeTest, FoldersThatCannotBeReadCountZero) {
  TempDir dir;
  ASSERT_EQ(chmod(dir.path().c_str(), 0755), 0);
  const std::string root = dir / "tree";
  MakeDir(root);
  MakeFile(root + "/readable", 50);
  MakeDir(root + "/locked");
  MakeFile(root + "/locked/secret", 70);
  MakeDir(root + "/unlistable");
  MakeFile(root + "/unlistable/secret", 90);
  MakeDir(root + "/open");
  MakeFile(root + "/open/f", 5);
  ASSERT_EQ(chmod((root + "/locked").c_str(), 0), 0);
  ASSERT_EQ(chmod((root + "/unlistable").c_str(), 0311), 0);  // may pass, may not list

  const std::string seen = RunUnprivileged([&] {
    std::string out = std::to_string(FolderSize(root));
    for (const FolderBar& bar : MeasureDrive(root)) {
      out += " " + bar.label + "=" + std::to_string(bar.bytes);
    }
    return out;
  });
  ASSERT_EQ(chmod((root + "/locked").c_str(), 0755), 0);  // so the folder can be removed
  ASSERT_EQ(chmod((root + "/unlistable").c_str(), 0755), 0);

  std::string expected = "55";
  for (const std::string& name : ListingOrder(root)) {
    if (name == "locked" || name == "unlistable") expected += " /" + name + "=0";
    if (name == "open") expected += " /open=5";
  }
  EXPECT_EQ(seen, expected) << "a top-level folder that cannot be listed keeps its bar, of 0";
}

TEST(FolderSizeTest, DeepAndWideTreesAddUpExactly) {
  TempDir dir;
  // Deeper than the walk keeps folders open: it climbs back through "..".
  std::string path = dir / "deep";
  MakeDir(path);
  const std::string deep_root = path;
  for (int depth = 0; depth < 150; ++depth) {
    MakeFile(path + "/f", depth + 1);
    path += "/d";
    MakeDir(path);
  }
  EXPECT_EQ(FolderSize(deep_root), 150 * 151 / 2);

  // Wide enough for both walkers to share it; every run gives the same sum.
  const std::string wide = dir / "wide";
  MakeDir(wide);
  int64_t expected = 0;
  for (int i = 0; i < 40; ++i) {
    const std::string sub = wide + "/" + std::to_string(i);
    MakeDir(sub);
    MakeDir(sub + "/inner");
    for (int j = 0; j < 25; ++j) {
      MakeFile(sub + "/" + std::to_string(j), i * 100 + j);
      MakeFile(sub + "/inner/" + std::to_string(j), 7);
      expected += i * 100 + j + 7;
    }
  }
  for (int run = 0; run < 10; ++run) ASSERT_EQ(FolderSize(wide), expected) << "run " << run;
}

TEST(FolderSizeTest, StaysOnItsFileSystem) {
  // /dev/shm is a file system of its own mounted inside /dev on most
  // systems: a walk of /dev must not count a file placed there.
  struct stat dev{}, shm{};
  if (stat("/dev", &dev) != 0 || stat("/dev/shm", &shm) != 0 || dev.st_dev == shm.st_dev ||
      access("/dev/shm", W_OK) != 0) {
    GTEST_SKIP() << "/dev/shm is not a separate, writable file system here";
  }
  char folder[] = "/dev/shm/quarrin-walk-XXXXXX";
  ASSERT_NE(mkdtemp(folder), nullptr);
  const std::string big = std::string(folder) + "/big";
  MakeFile(big, int64_t{1} << 40);  // sparse: 1 TiB that takes no memory
  const int64_t in_shm = FolderSize(folder);
  const int64_t in_dev = FolderSize("/dev");
  unlink(big.c_str());
  rmdir(folder);
  EXPECT_EQ(in_shm, int64_t{1} << 40);
  EXPECT_LT(in_dev, int64_t{1} << 40);
}

TEST(DriveFoldersTest, VisibleFoldersInListingOrder) {
  TempDir dir;
  const std::string root = dir / "drive";
  MakeDir(root);
  for (const char* name : {"zeta", "alpha", ".hidden", "mid", "with blank"}) MakeDir(root + "/" + name);
  MakeFile(root + "/alpha/a", 300);
  MakeFile(root + "/.hidden/h", 7);
  MakeFile(root + "/loose-file", 11);  // files at the top get no bar
  MakeLink("alpha", root + "/alias");  // nor do links, even to folders
  MakeSocket(root + "/sock");

  std::vector<std::string> expected;
  for (const std::string& name : ListingOrder(root)) {
    if (name == "zeta" || name == "alpha" || name == "mid" || name == "with blank") {
      expected.push_back(name);
    }
  }
  EXPECT_EQ(DriveFolders(root), expected);
  EXPECT_EQ(DriveFolders(root + "/"), expected);

  const std::vector<FolderBar> bars = MeasureDrive(root);
  ASSERT_EQ(bars.size(), expected.size());
  for (size_t i = 0; i < bars.size(); ++i) {
    EXPECT_EQ(bars[i].label, "/" + expected[i]);
    EXPECT_EQ(bars[i].bytes, expected[i] == "alpha" ? 300 : 0) << expected[i];
  }
  EXPECT_TRUE(DriveFolders(dir / "missing").empty());
}

TEST(DriveFoldersTest, MountPointsOfTheRealRootAreSystemEntries) {
  struct stat root{};
  ASSERT_EQ(stat("/", &root), 0);
  const std::vector<std::string> folders = DriveFolders("/");
  for (const char* name : {"proc", "sys", "dev", "usr", "etc"}) {
    struct stat st{};
    if (lstat((std::string("/") + name).c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) continue;
    const bool listed = std::find(folders.begin(), folders.end(), name) != folders.end();
    EXPECT_EQ(listed, st.st_dev == root.st_dev) << "/" << name;
  }
}

bool IsYellow(const testing::Rgb& c) { return c.r > 215 && c.g > 215 && c.b > 80 && c.b < 180; }
bool IsBarBlue(const testing::Rgb& c) { return c.b > c.r + 60 && c.b > 100; }

int CountIn(const DecodedJpeg& img, int y0, int y1, bool (*test)(const testing::Rgb&)) {
  int n = 0;
  for (int y = y0; y < y1; ++y) {
    for (int x = 0; x < img.width; ++x) n += test(img.At(x, y)) ? 1 : 0;
  }
  return n;
}

TEST(DrawDiskMapTest, AlwaysABaselineJpegOf790By590) {
  std::vector<FolderBar> many;
  for (int i = 0; i < 600; ++i) many.push_back({"/f" + std::to_string(i), int64_t{i} * 1000});
  struct Case {
    const char* name;
    std::vector<FolderBar> bars;
  } cases[] = {
      {"empty drive", {}},
      {"one empty folder", {{"/empty", 0}}},
      {"sizes beyond 32 bits", {{"/Data", int64_t{3} << 30}, {"/big", std::numeric_limits<int64_t>::max()}}},
      {"600 folders", many},
      {"awkward names", {{"/" + std::string(300, 'x'), 5}, {std::string("/\xff\xfe"), 6}, {"/a\nb", 7}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const DecodedJpeg img = DecodeJpeg(DrawDiskMap("PC C Drive map (Size: 1,000) at now", c.bars));
    EXPECT_TRUE(testing::IsChartJpeg(img, 790, 590));
  }
}

TEST(DrawDiskMapTest, FirstFolderAtTheBottomWithItsCallout) {
  const DecodedJpeg img = DecodeJpeg(DrawDiskMap("map", {{"/first", 900}, {"/second", 0}}));
  ASSERT_TRUE(img.ok);
  const int mid = img.height / 2;
  EXPECT_GT(CountIn(img, mid, img.height, IsBarBlue), 1000) << "the first bar, at the bottom";
  EXPECT_EQ(CountIn(img, 0, mid, IsBarBlue), 0) << "the second bar has no length";
  EXPECT_GT(CountIn(img, mid, img.height, IsYellow), 150) << "callout of the first";
  EXPECT_GT(CountIn(img, 0, mid, IsYellow), 150) << "a folder of 0 bytes keeps its callout";
}

TEST(MapDiskTest, WalksAndDrawsADrive) {
  TempDir dir;
  MakeDir(dir / "Data");
  MakeFile(dir / "Data/file", 12345);
  for (const std::string& root : {dir.path(), dir / "Data/empty-drive"}) {
    if (root != dir.path()) MakeDir(root);
    EXPECT_TRUE(testing::IsChartJpeg(DecodeJpeg(MapDisk("caption", root)), 790, 590)) << root;
  }
  testing::ScopedEnv quarrin_root("QUARRIN_ROOT", dir.path());
  EXPECT_EQ(MapDisk("caption"), MapDisk("caption", dir.path()));
}

}  // namespace
}  // namespace quarrin
