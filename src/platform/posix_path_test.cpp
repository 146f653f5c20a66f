// Names resolved component by component on POSIX: which links are followed,
// what the services do with the others, special files, deleting a log that
// is held open, the access of new files and whole writes.
#ifndef _WIN32

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/posix_path.h"

namespace quilbo {
namespace {

namespace fs = std::filesystem;

constexpr uid_t kOtherUser = 65534;  // nobody
constexpr gid_t kOtherGroup = 65534;

struct Folder {
  std::string path;
  Folder() {
    char pattern[] = "/tmp/quilbo-path-XXXXXX";
    path = mkdtemp(pattern);
  }
  ~Folder() {
    std::error_code ignored;
    fs::remove_all(path, ignored);
  }
  Folder(const Folder&) = delete;
  Folder& operator=(const Folder&) = delete;
  std::string operator/(const std::string& name) const { return path + "/" + name; }
};

void Write(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

std::string Read(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void Link(const std::string& target, const std::string& at, bool foreign = false) {
  ASSERT_EQ(symlink(target.c_str(), at.c_str()), 0) << at;
  if (foreign) {
    ASSERT_EQ(lchown(at.c_str(), kOtherUser, static_cast<gid_t>(-1)), 0);
  }
}

bool Root() { return geteuid() == 0; }

const PlatformApi& Native() { return NativePlatform(); }

// A folder with a file, the running user's links to it and a few that must
// not be followed: another user's (made only when running as root),
// dangling and looping ones.
struct LinkFarm {
  Folder dir;
  LinkFarm() {
    fs::create_directory(dir / "real");
    Write(dir / "real/f.txt", "data");
    Link("real/f.txt", dir / "own");
    Link("real", dir / "ownFolder");
    Link(dir / "real/f.txt", dir / "absolute");
    Link("own", dir / "chain");
    Link("nowhere", dir / "dangling");
    Link("loop2", dir / "loop1");
    Link("loop1", dir / "loop2");
    if (Root()) {
      Link("real/f.txt", dir / "foreign", true);
      Link("real", dir / "foreignFolder", true);
    }
  }
};

// Descriptors open in this process: every resolution gives back what it
// opened, also when it fails.
std::size_t OpenDescriptors() {
  std::size_t count = 0;
  for (const auto& entry : fs::directory_iterator("/proc/self/fd")) {
    (void)entry;
    ++count;
  }
  return count;
}

ino_t InodeOf(const std::string& path) {
  struct stat info {};
  return stat(path.c_str(), &info) == 0 ? info.st_ino : 0;
}

TEST(PosixPath, FollowsOnlyLinksOfTheUserOrRoot) {
  LinkFarm farm;
  const std::size_t descriptors = OpenDescriptors();
  const ino_t file = InodeOf(farm.dir / "real/f.txt");
  struct Case {
    const char* path;
    int err;  // 0: reaches real/f.txt
    bool inFolder;
    bool needsRoot;
  };
  const Case cases[] = {
      {"real/f.txt", 0, false, false},
      {"own", 0, false, false},
      {"ownFolder/f.txt", 0, false, false},
      {"absolute", 0, false, false},
      {"chain", 0, false, false},
      {"ownFolder/../real/./f.txt", 0, false, false},
      {"real//f.txt", 0, false, false},
      {"dangling", ENOENT, false, false},
      {"dangling/f.txt", ENOENT, true, false},
      {"missing/f.txt", ENOENT, true, false},
      {"real/f.txt/x", ENOTDIR, true, false},
      {"loop1", ELOOP, false, false},
      {"loop1/f.txt", ELOOP, true, false},
      {"foreign", kErrnoUntrustedLink, false, true},
      {"foreignFolder/f.txt", kErrnoUntrustedLink, true, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    if (c.needsRoot && !Root()) continue;
    PathFailure why{};
    const int fd = ResolvePath(AT_FDCWD, farm.dir / c.path, &why);
    if (c.err == 0) {
      ASSERT_GE(fd, 0) << why.err;
      struct stat info {};
      ASSERT_EQ(fstatat(fd, "", &info, AT_EMPTY_PATH), 0);
      EXPECT_EQ(info.st_ino, file);
      close(fd);
    } else {
      EXPECT_EQ(fd, -1);
      EXPECT_EQ(why.err, c.err);
      EXPECT_EQ(why.inFolder, c.inFolder);
    }
  }
  EXPECT_EQ(OpenDescriptors(), descriptors);
}

TEST(PosixPath, ParentOfTrailingSeparatorsAndTheRoot) {
  Folder dir;
  fs::create_directory(dir / "sub");
  struct Case {
    std::string path;
    std::string name;
  };
  const Case cases[] = {
      {dir / "sub/", "sub"}, {dir / "sub//x", "x"}, {"/", "."}, {dir / "a", "a"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    PathSpot spot{-1, {}};
    PathFailure why{};
    ASSERT_TRUE(ResolveParent(AT_FDCWD, c.path, &spot, &why)) << why.err;
    EXPECT_EQ(spot.name, c.name);
    ReleaseSpot(&spot);
  }
  PathSpot spot{-1, {}};
  PathFailure why{};
  EXPECT_FALSE(ResolveParent(AT_FDCWD, "", &spot, &why));
  EXPECT_EQ(spot.folder, -1);
}

// Every service that takes a name treats another user's link as not there
// and changes nothing behind it.
TEST(PosixPath, ServicesRefuseAnotherUsersLink) {
  if (!Root()) GTEST_SKIP() << "needs root to give a link to another user";
  LinkFarm farm;
  const std::size_t descriptors = OpenDescriptors();
  const auto& os = Native();
  const std::string foreign = farm.dir / "foreign";
  const std::string behind = farm.dir / "foreignFolder/new.txt";
  struct Case {
    const char* what;
    bool (*attempt)(const std::string& foreign, const std::string& behind);
  };
  const Case cases[] = {
      {"read", [](const std::string& f, const std::string&) {
         return Native().createFile(f.c_str(), FileAccess::kRead,
                                    FileCreation::kOpenExisting) != kInvalidHandle;
       }},
      {"append", [](const std::string& f, const std::string&) {
         return Native().createFile(f.c_str(), FileAccess::kReadWrite,
                                    FileCreation::kOpenExisting) != kInvalidHandle;
       }},
      {"create always", [](const std::string& f, const std::string&) {
         return Native().createFile(f.c_str(), FileAccess::kReadWrite,
                                    FileCreation::kCreateAlways) != kInvalidHandle;
       }},
      {"create new over the link", [](const std::string& f, const std::string&) {
         return Native().createFile(f.c_str(), FileAccess::kReadWrite,
                                    FileCreation::kCreateNew) != kInvalidHandle;
       }},
      {"create new behind it", [](const std::string&, const std::string& b) {
         return Native().createFile(b.c_str(), FileAccess::kReadWrite,
                                    FileCreation::kCreateNew) != kInvalidHandle;
       }},
      {"folder behind it", [](const std::string&, const std::string& b) {
         return Native().createDirectory(b.c_str());
       }},
      {"move into it", [](const std::string& f, const std::string& b) {
         const std::string own = f.substr(0, f.rfind('/')) + "/own";
         return Native().moveFile(own.c_str(), b.c_str());
       }},
      {"identity", [](const std::string& f, const std::string&) {
         FileIdentity identity{};
         return Native().fileIdentity(f.c_str(), &identity);
       }},
      {"lookup", [](const std::string& f, const std::string&) {
         FindData entry{};
         const OsHandle h = Native().findFirstFile(f.c_str(), &entry);
         if (h != kInvalidHandle) Native().findClose(h);
         return h != kInvalidHandle;
       }},
      {"search behind it", [](const std::string&, const std::string& b) {
         FindData entry{};
         const std::string pattern = b.substr(0, b.rfind('/')) + "/*";
         const OsHandle h = Native().findFirstFile(pattern.c_str(), &entry);
         if (h != kInvalidHandle) Native().findClose(h);
         return h != kInvalidHandle;
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    os.setLastError(0);
    EXPECT_FALSE(c.attempt(foreign, behind));
    EXPECT_EQ(os.lastError(), kErrUntrustedLink);
    EXPECT_EQ(Read(farm.dir / "real/f.txt"), "data");
    EXPECT_FALSE(fs::exists(farm.dir / "real/new.txt"));
  }
  // Removing the name removes the link; what it leads to stays.
  EXPECT_TRUE(os.deleteFile(foreign.c_str()));
  EXPECT_EQ(Read(farm.dir / "real/f.txt"), "data");
  EXPECT_EQ(OpenDescriptors(), descriptors);
}

TEST(PosixPath, OwnLinksWorkAsTheirTargets) {
  LinkFarm farm;
  const auto& os = Native();
  // A new file behind a link to a folder, and an append through a link.
  const std::string created = farm.dir / "ownFolder/new.txt";
  OsHandle h = os.createFile(created.c_str(), FileAccess::kReadWrite,
                             FileCreation::kCreateNew);
  ASSERT_NE(h, kInvalidHandle);
  os.closeHandle(h);
  EXPECT_TRUE(fs::is_regular_file(farm.dir / "real/new.txt"));
  // A name that is a link exists, wherever it leads.
  for (const char* name : {"own", "dangling"}) {
    SCOPED_TRACE(name);
    EXPECT_EQ(os.createFile((farm.dir / name).c_str(), FileAccess::kReadWrite,
                            FileCreation::kCreateNew),
              kInvalidHandle);
    EXPECT_EQ(os.lastError(), kErrFileExists);
  }
  h = os.createFile((farm.dir / "chain").c_str(), FileAccess::kRead,
                    FileCreation::kOpenExisting);
  ASSERT_NE(h, kInvalidHandle);
  char buffer[8];
  std::uint32_t got = 0;
  EXPECT_TRUE(os.readFile(h, buffer, sizeof buffer, &got));
  EXPECT_EQ(std::string(buffer, got), "data");
  os.closeHandle(h);
  // Unreachable logs leave the numbers of missing files.
  for (const auto& [name, code] : {std::pair{"dangling", kErrFileNotFound},
                                   std::pair{"loop1", kErrCantResolve},
                                   std::pair{"dangling/x", kErrPathNotFound}}) {
    SCOPED_TRACE(name);
    EXPECT_EQ(os.createFile((farm.dir / name).c_str(), FileAccess::kRead,
                            FileCreation::kOpenExisting),
              kInvalidHandle);
    EXPECT_EQ(os.lastError(), code);
  }
  EXPECT_TRUE(os.deleteFile((farm.dir / "own").c_str()));
  EXPECT_FALSE(fs::is_symlink(farm.dir / "own"));
  EXPECT_EQ(Read(farm.dir / "real/f.txt"), "data");
}

// FIFOs, sockets and devices are never entries of a search and never open
// as logs; nothing blocks.
TEST(PosixPath, SpecialFilesAreNotLogs) {
  Folder dir;
  Write(dir / "a.log", "a");
  ASSERT_EQ(mkfifo((dir / "p.log").c_str(), 0644), 0);
  const int sock = socket(AF_UNIX, SOCK_STREAM, 0);
  ASSERT_GE(sock, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  const std::string socketPath = dir / "s.log";
  ASSERT_LT(socketPath.size(), sizeof address.sun_path);
  std::memcpy(address.sun_path, socketPath.c_str(), socketPath.size() + 1);
  ASSERT_EQ(bind(sock, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  Link("p.log", dir / "l.log");
  Link("/dev/null", dir / "n.log");

  const auto& os = Native();
  FindData entry{};
  const OsHandle search = os.findFirstFile((dir / "*.log").c_str(), &entry);
  ASSERT_NE(search, kInvalidHandle);
  std::string names = entry.name;
  while (os.findNextFile(search, &entry)) names += std::string(",") + entry.name;
  os.findClose(search);
  EXPECT_EQ(names, "a.log");
  for (const char* name : {"p.log", "s.log", "l.log", "n.log"}) {
    SCOPED_TRACE(name);
    EXPECT_EQ(os.findFirstFile((dir / name).c_str(), &entry), kInvalidHandle);
    EXPECT_EQ(os.lastError(), kErrFileNotFound);
    EXPECT_EQ(os.createFile((dir / name).c_str(), FileAccess::kRead,
                            FileCreation::kOpenExisting),
              kInvalidHandle);
    EXPECT_EQ(os.lastError(), kErrFileNotFound);
  }
  close(sock);
}

bool LeasesWork(const std::string& path) {
  const int fd = open(path.c_str(), O_RDONLY);
  const bool ok = fd >= 0 && fcntl(fd, F_SETLEASE, F_WRLCK) == 0;
  if (ok) fcntl(fd, F_SETLEASE, F_UNLCK);
  if (fd >= 0) close(fd);
  return ok;
}

// One group: each log opened as its copy left it, then deleted together.
TEST(PosixPath, GroupKeepsLogsHeldOpenOrGrown) {
  Folder dir;
  const auto& os = Native();
  Write(dir / "probe", "x");
  const bool leases = LeasesWork(dir / "probe");
  struct Case {
    const char* name;
    std::int64_t copied;  // the size the copy saw
    bool holdOpen;        // another descriptor open on the log
    bool deleted;
  };
  const Case cases[] = {
      {"unchanged.log", 6, false, true},
      {"unchecked.log", -1, false, true},
      {"grew.log", 3, false, false},
      {"held.log", 6, true, false},
      {"held-unchecked.log", -1, true, false},
      // An earlier run's log on its way out: removed, or renamed to record
      // what is archived now when it must stay.
      {".quilbo-2-old.log", 6, false, true},
      {".quilbo-2-kept.log", 6, true, false},
  };
  const OsHandle folder = os.openFolder(dir.path.c_str());
  ASSERT_NE(folder, kInvalidHandle);
  std::vector<LogRemoval> logs;
  std::vector<int> others;
  for (const Case& c : cases) {
    if (c.holdOpen && !leases) continue;
    Write(dir / c.name, "lines\n");
    if (c.holdOpen) others.push_back(open((dir / c.name).c_str(), O_WRONLY | O_APPEND));
    logs.push_back({os.createFileAt(folder, c.name, FileAccess::kRead, FileCreation::kOpenExisting),
                    c.name, c.copied, -1});
  }
  // A link goes, never the file it leads to, even while that is held.
  Write(dir / "target.log", "kept\n");
  Link("target.log", dir / "link.log");
  others.push_back(open((dir / "target.log").c_str(), O_RDONLY));
  logs.push_back({os.createFileAt(folder, "link.log", FileAccess::kRead,
                                  FileCreation::kOpenExisting), "link.log", 99, -1});
  // Read-only logs stay, as with deleteFile.
  Write(dir / "ro.log", "r\n");
  logs.push_back({os.createFileAt(folder, "ro.log", FileAccess::kRead,
                                  FileCreation::kOpenExisting), "ro.log", 2, -1});
  chmod((dir / "ro.log").c_str(), 0444);
  EXPECT_FALSE(os.removeLogsAt(folder, logs.data(), logs.size()));
  std::size_t i = 0;
  for (const Case& c : cases) {
    if (c.holdOpen && !leases) continue;
    SCOPED_TRACE(c.name);
    EXPECT_EQ(logs[i++].error, c.deleted ? 0 : kErrSharingViolation);
    EXPECT_EQ(fs::exists(dir / c.name), !c.deleted && c.name[0] != '.');
  }
  EXPECT_EQ(logs[i++].error, 0);
  EXPECT_FALSE(fs::is_symlink(dir / "link.log"));
  EXPECT_EQ(Read(dir / "target.log"), "kept\n");
  EXPECT_EQ(logs[i].error, kErrAccessDenied);
  for (const int other : others) close(other);
  // Nothing left aside but the earlier run's log that is still held.
  std::vector<std::string> left;
  for (const auto& item : fs::directory_iterator(dir.path)) {
    const std::string name = item.path().filename().string();
    if (name.rfind(".quilbo-", 0) == 0) left.push_back(name);
  }
  EXPECT_EQ(left, leases ? std::vector<std::string>{".quilbo-6-kept.log"}
                         : std::vector<std::string>{});
  os.closeFolder(folder);
}

// The name appears with the model's access and the first bytes, never
// before; a name that exists is never touched.
TEST(PosixPath, NewFileTakesTheAccessOfAnother) {
  Folder dir;
  const auto& os = Native();
  for (const mode_t mode : {0600u, 0640u, 0644u, 0604u, 0444u}) {
    SCOPED_TRACE(mode);
    const std::string model = dir / "model";
    const std::string copy = dir / "copy";
    Write(model, "m");
    ASSERT_EQ(chmod(model.c_str(), mode), 0);
    if (Root()) {
      ASSERT_EQ(chown(model.c_str(), kOtherUser, kOtherGroup), 0);
    }
    const OsHandle from = os.createFile(model.c_str(), FileAccess::kRead,
                                        FileCreation::kOpenExisting);
    ASSERT_NE(from, kInvalidHandle);
    const OsHandle to = os.createFileAs(copy.c_str(), from, "first", 5);
    ASSERT_NE(to, kInvalidHandle);
    EXPECT_EQ(os.createFileAs(copy.c_str(), from, "x", 1), kInvalidHandle);
    EXPECT_EQ(os.lastError(), kErrFileExists);
    EXPECT_EQ(Read(copy), "first");
    struct stat info {};
    ASSERT_EQ(stat(copy.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, mode | S_IWUSR);
    if (Root()) {
      EXPECT_EQ(info.st_uid, kOtherUser);
      EXPECT_EQ(info.st_gid, kOtherGroup);
    }
    os.closeHandle(from);
    os.closeHandle(to);
    fs::remove(model);
    fs::remove(copy);
  }
}

// Under a file-size limit a write fails with the system's reason after
// writing what fits, never with a short count taken as success.
TEST(PosixPath, WriteIsWholeOrFails) {
  Folder dir;
  const std::string path = dir / "big";
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{1000, 1000};
    setrlimit(RLIMIT_FSIZE, &limit);
    const auto& os = Native();
    const OsHandle h = os.createFile(path.c_str(), FileAccess::kReadWrite,
                                     FileCreation::kCreateNew);
    char block[4096] = {};
    std::uint32_t done = 7;
    const bool ok = os.writeFile(h, block, sizeof block, &done);
    _exit(!ok && done == 0 && os.lastError() == 223 ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_EQ(fs::file_size(path), 1000u);
}

}  // namespace
}  // namespace quilbo

#endif  // !_WIN32
