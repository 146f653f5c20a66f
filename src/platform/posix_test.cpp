// The Windows semantics the POSIX platform gives: error numbers, wildcards,
// times, which links are followed, deleting logs held open, new files'
// access.
#ifndef _WIN32

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "platform/errno_map.h"
#include "platform/error_text.h"
#include "platform/platform.h"
#include "platform/posix_path.h"
#include "support/fs_fixtures.h"

namespace quilbo {
namespace {

namespace fs = std::filesystem;
using testing::TempDir;
using testing::WriteFile;

const PlatformApi& Native() { return NativePlatform(); }

std::size_t OpenDescriptors() {
  return static_cast<std::size_t>(std::distance(fs::directory_iterator("/proc/self/fd"), {}));
}

TEST(Posix, ErrnoBecomesTheWindowsNumberOfTheSameCondition) {
  const std::pair<int, std::int32_t> rows[] = {
      {ENOENT, 2}, {ENOTDIR, 3},  {EACCES, 5},  {EPERM, 5},        {EROFS, 5},   {EISDIR, 5},
      {EMFILE, 4}, {ENOSPC, 112}, {EDQUOT, 112}, {EEXIST, 183},   {ENOTEMPTY, 145}, {EPIPE, 109},
      {ENAMETOOLONG, 206}, {EBUSY, 32}, {ETXTBSY, 32}, {EBADF, 6}, {EINVAL, 87}, {ELOOP, 1921}};
  for (const auto& [err, code] : rows) { EXPECT_EQ(WindowsErrorFromErrno(err, nullptr), code) << err; }
  // Only those may become 2 to 5, and none the program's own 100 to 106.
  for (int err = 1; err < 4096; ++err) {
    const std::int32_t code = WindowsErrorFromErrno(err, nullptr);
    const bool fileError = std::set<int>{ENOENT, ENOTDIR, EACCES, EPERM, EROFS, EISDIR, EMFILE, ENFILE}.contains(err);
    EXPECT_FALSE(!fileError && code >= 2 && code <= 5) << err;
    EXPECT_FALSE(code == 0 || (code >= 100 && code <= 106)) << err;
  }
  TempDir dir;
  EXPECT_EQ(WindowsErrorFromErrno(ENOENT, dir.At("x").c_str()), 2);
  EXPECT_EQ(WindowsErrorFromErrno(ENOENT, dir.At("gone/x").c_str()), 3);
  // Both leave 3; the reason names the errno behind it.
  WriteFile(dir.At("file"), "x");
  char reason[256];
  for (const auto& [name, err] : {std::pair{dir.At("file/x"), ENOTDIR}, {dir.At("gone/x"), ENOENT}}) {
    EXPECT_EQ(Native().createFile(name.c_str(), FileAccess::kRead, FileCreation::kOpenExisting), kInvalidHandle);
    SystemErrorText(Native().lastError(), reason, sizeof reason);
    EXPECT_STREQ(reason, std::strerror(err));
  }
}

TEST(Posix, ReadOnlyFilesAndBrokenPipesFailAsOnWindows) {
  TempDir dir;
  WriteFile(dir.At("ro.log"), "keep");
  chmod(dir.At("ro.log").c_str(), 0444);
  for (FileCreation creation : {FileCreation::kOpenExisting, FileCreation::kCreateAlways}) {
    EXPECT_EQ(Native().createFile(dir.At("ro.log").c_str(), FileAccess::kReadWrite, creation), kInvalidHandle);
    EXPECT_EQ(Native().lastError(), kErrAccessDenied);  // also to root
  }
  EXPECT_FALSE(Native().deleteFile(dir.At("ro.log").c_str()));
  EXPECT_EQ(testing::ReadWholeFile(dir.At("ro.log")), "keep");
  FindData entry{};
  ASSERT_TRUE(Native().lookupFile(dir.At("ro.log").c_str(), &entry));
  EXPECT_EQ(entry.attributes, kAttrReadOnly | kAttrArchive);
  InitPlatform(0, nullptr);  // ignores SIGPIPE
  int ends[2];
  ASSERT_EQ(pipe(ends), 0);
  close(ends[0]);
  EXPECT_EQ(Native().fileType(ends[1]), FileKind::kCharacter);
  std::uint32_t done = 9;
  EXPECT_FALSE(Native().writeFile(ends[1], "x", 1, &done));
  EXPECT_EQ(Native().lastError(), kErrBrokenPipe);
  close(ends[1]);
}

// '*' any run, '?' one byte, every other byte literal and case-sensitive;
// a name without wildcards is that one entry; '\' is a byte of a name.
TEST(Posix, SearchMatchesTheLastComponent) {
  TempDir dir;
  for (const char* name : {"a.log", "ab.log", "A.log", "b.txt", "x\\y.log", "log"}) WriteFile(dir.At(name), "");
  const std::pair<const char*, const char*> rows[] = {
      {"*.log", "A.log,a.log,ab.log,x\\y.log"}, {"?.log", "A.log,a.log"}, {"a*", "a.log,ab.log"},
      {"*b*", "ab.log,b.txt"}, {"*.*", ".,..,A.log,a.log,ab.log,b.txt,log,x\\y.log"},
      {"*g", "A.log,a.log,ab.log,log,x\\y.log"}, {"a?log", "a.log"}, {"l*o*g", "log"},
      {"x\\y.log", "x\\y.log"}, {"ab.log", "ab.log"}, {"c.log", ""}};
  for (const auto& [pattern, expected] : rows) {
    std::vector<std::string> names;
    FindData entry{};
    const OsHandle search = Native().findFirstFile(dir.At(pattern).c_str(), &entry);
    for (bool more = search != kInvalidHandle; more; more = Native().findNextFile(search, &entry))
      names.push_back(entry.name);
    if (search != kInvalidHandle) { EXPECT_EQ(Native().lastError(), kErrNoMoreFiles); }
    if (search != kInvalidHandle) Native().findClose(search);
    std::ranges::sort(names);
    std::string joined;
    for (const std::string& name : names) joined += (joined.empty() ? "" : ",") + name;
    EXPECT_EQ(joined, expected) << pattern;
  }
}

TEST(Posix, FileTimesKeepTheirTicksAndLocalTimesStartIn1601) {
  TempDir dir;
  WriteFile(dir.At("t"), "");
  const struct timespec when[2] = {{1000000000, 999999900}, {1000000000, 999999900}};
  ASSERT_EQ(utimensat(AT_FDCWD, dir.At("t").c_str(), when, 0), 0);
  FindData entry{};
  ASSERT_TRUE(Native().lookupFile(dir.At("t").c_str(), &entry));
  EXPECT_EQ(entry.lastWriteTime, (11644473600ULL + 1000000000ULL) * 10000000ULL + 9999999ULL);
  // An hour west of UTC: the first local instant is 01:00 UTC on 1601-01-01.
  const char* saved = std::getenv("TZ");
  const std::string before = saved != nullptr ? saved : "";
  setenv("TZ", "QLB1", 1);
  tzset();
  std::uint64_t local = 1;
  const bool first = Native().fileTimeToLocalFileTime(3600ULL * 10000000ULL, &local);
  const bool earlier = Native().fileTimeToLocalFileTime(3599ULL * 10000000ULL, &entry.size);
  saved != nullptr ? setenv("TZ", before.c_str(), 1) : unsetenv("TZ");
  tzset();
  EXPECT_TRUE(first);
  EXPECT_EQ(local, 0u);
  EXPECT_FALSE(earlier);
}

// A folder with a file, the running user's links to it and some that must
// not be followed: dangling, looping, and (as root) another user's.
TEST(Posix, FollowsOnlyLinksOfTheUserOrRoot) {
  TempDir dir;
  fs::create_directory(dir.At("real"));
  WriteFile(dir.At("real/f.txt"), "data");
  const bool root = geteuid() == 0;
  for (const auto& [target, link] : std::vector<std::pair<std::string, std::string>>{
           {"real/f.txt", "own"}, {"real", "ownFolder"}, {dir.At("real/f.txt"), "absolute"},
           {"own", "chain"}, {"nowhere", "dangling"}, {"loop2", "loop1"}, {"loop1", "loop2"},
           {"real/f.txt", "foreign"}, {"real", "foreignFolder"}}) {
    ASSERT_EQ(symlink(target.c_str(), dir.At(link).c_str()), 0);
    if (link.starts_with("foreign") && root) lchown(dir.At(link).c_str(), 65534, 65534);
  }
  const std::size_t descriptors = OpenDescriptors();
  struct stat file {};
  stat(dir.At("real/f.txt").c_str(), &file);
  struct Case {
    const char* path;
    int err;  // 0: reaches real/f.txt
    bool inFolder;
    std::int32_t code;  // what an open for reading leaves
  };
  const Case cases[] = {
      {"own", 0, false, 0}, {"ownFolder/f.txt", 0, false, 0}, {"absolute", 0, false, 0},
      {"chain", 0, false, 0}, {"ownFolder/../real/./f.txt", 0, false, 0}, {"real//f.txt", 0, false, 0},
      {"dangling", ENOENT, false, kErrFileNotFound}, {"dangling/f.txt", ENOENT, true, kErrPathNotFound},
      {"real/f.txt/x", ENOTDIR, true, kErrPathNotFound}, {"loop1", ELOOP, false, kErrCantResolve},
      {"loop1/f.txt", ELOOP, true, kErrCantResolve},
      {"foreign", kErrnoUntrustedLink, false, kErrUntrustedLink},
      {"foreignFolder/f.txt", kErrnoUntrustedLink, true, kErrUntrustedLink}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    if (std::string(c.path).starts_with("foreign") && !root) continue;
    PathFailure why{};
    const int fd = ResolvePath(AT_FDCWD, dir.At(c.path), &why);
    struct stat info {};
    EXPECT_EQ(fd >= 0 ? fstat(fd, &info) : why.err, c.err);
    if (fd >= 0) { EXPECT_EQ(info.st_ino, file.st_ino); }
    if (fd >= 0) close(fd);
    if (c.err == 0) continue;
    EXPECT_EQ(fd, -1);
    EXPECT_EQ(why.inFolder, c.inFolder);
    EXPECT_EQ(Native().createFile(dir.At(c.path).c_str(), FileAccess::kRead, FileCreation::kOpenExisting), kInvalidHandle);
    EXPECT_EQ(Native().lastError(), c.code);
  }
  for (const auto& [path, name] : {std::pair{dir.At("real/"), "real"}, {"/", "."}, {dir.At("a"), "a"}}) {
    PathSpot spot{-1, {}};
    PathFailure why{};
    ASSERT_TRUE(ResolveParent(AT_FDCWD, path, &spot, &why)) << path;
    EXPECT_EQ(spot.name, name);
    ReleaseSpot(&spot);
  }
  PathSpot spot{-1, {}};
  PathFailure why{};
  EXPECT_FALSE(ResolveParent(AT_FDCWD, "", &spot, &why));
  EXPECT_EQ(spot.folder, -1);
  EXPECT_EQ(ResolvePath(AT_FDCWD, "", &why), -1);
  EXPECT_EQ(OpenDescriptors(), descriptors);
  // Removing a link removes the link, never what it leads to.
  EXPECT_TRUE(Native().deleteFile(dir.At("own").c_str()));
  EXPECT_EQ(testing::ReadWholeFile(dir.At("real/f.txt")), "data");
}

bool LeasesWork(const std::string& path) {
  const int fd = open(path.c_str(), O_RDONLY);
  const bool ok = fd >= 0 && fcntl(fd, F_SETLEASE, F_WRLCK) == 0;
  if (ok) fcntl(fd, F_SETLEASE, F_UNLCK);
  if (fd >= 0) close(fd);
  return ok;
}

// One group: each log opened as its copy left it, then deleted together;
// a log held open or grown since its copy stays.
TEST(Posix, GroupKeepsLogsHeldOpenOrGrown) {
  TempDir dir;
  WriteFile(dir.At("probe"), "x");
  const bool leases = LeasesWork(dir.At("probe"));
  struct Case {
    const char* name;
    std::int64_t copied;  // the size the copy saw
    bool holdOpen;
    bool deleted;
  };
  const Case cases[] = {
      {"unchanged.log", 6, false, true}, {"unchecked.log", -1, false, true}, {"grew.log", 3, false, false},
      {"held.log", 6, true, false}, {"held-unchecked.log", -1, true, false},
      // An earlier run's log on its way out: removed, or renamed to record
      // what is archived now when it must stay.
      {".quilbo-2-old.log", 6, false, true}, {".quilbo-2-kept.log", 6, true, false}};
  const OsHandle folder = Native().openFolder(dir.path.c_str());
  std::vector<LogRemoval> logs;
  std::vector<int> others;
  std::vector<const Case*> used;
  for (const Case& c : cases) {
    if (c.holdOpen && !leases) continue;
    WriteFile(dir.At(c.name), "lines\n");
    if (c.holdOpen) others.push_back(open(dir.At(c.name).c_str(), O_WRONLY | O_APPEND));
    logs.push_back({Native().createFileAt(folder, c.name, FileAccess::kRead, FileCreation::kOpenExisting),
                    c.name, c.copied, -1});
    used.push_back(&c);
  }
  EXPECT_TRUE(Native().removeLogsAt(folder, logs.data(), logs.size()) == (used.size() == 3));
  for (std::size_t i = 0; i < used.size(); ++i) {
    EXPECT_EQ(logs[i].error, used[i]->deleted ? 0 : kErrSharingViolation) << used[i]->name;
    EXPECT_EQ(fs::exists(dir.At(used[i]->name)), !used[i]->deleted && used[i]->name[0] != '.');
  }
  for (const int other : others) close(other);
  std::vector<std::string> aside;
  for (const auto& item : fs::directory_iterator(dir.path))
    if (item.path().filename().string().starts_with(".quilbo-")) aside.push_back(item.path().filename());
  EXPECT_EQ(aside, leases ? std::vector<std::string>{".quilbo-6-kept.log"} : std::vector<std::string>{});
  Native().closeFolder(folder);
}

// A new file appears with its model's access, owner and group and its
// first bytes; a name that exists is never touched.
TEST(Posix, NewFileTakesTheAccessOfAnother) {
  TempDir dir;
  const bool root = geteuid() == 0;
  const struct { mode_t mode; uid_t uid; gid_t gid; } rows[] = {
      {0640, 65534, 65534}, {0604, 0, 65534}, {0444, 65534, 0}, {0600, 0, 0}};
  for (const auto& row : rows) {
    WriteFile(dir.At("model"), "m");
    chmod(dir.At("model").c_str(), row.mode);
    if (root) { ASSERT_EQ(chown(dir.At("model").c_str(), row.uid, row.gid), 0); }
    const OsHandle from = Native().createFile(dir.At("model").c_str(), FileAccess::kRead, FileCreation::kOpenExisting);
    const OsHandle to = Native().createFileAs(dir.At("copy").c_str(), from, "first", 5);
    ASSERT_NE(to, kInvalidHandle);
    EXPECT_EQ(Native().createFileAs(dir.At("copy").c_str(), from, "x", 1), kInvalidHandle);
    EXPECT_EQ(Native().lastError(), kErrFileExists);
    EXPECT_EQ(testing::ReadWholeFile(dir.At("copy")), "first");
    struct stat info {};
    stat(dir.At("copy").c_str(), &info);
    EXPECT_EQ(info.st_mode & 0777, row.mode | S_IWUSR);
    if (root) { EXPECT_TRUE(info.st_uid == row.uid && info.st_gid == row.gid) << row.mode; }
    Native().closeHandle(from);
    Native().closeHandle(to);
    fs::remove(dir.At("model"));
    fs::remove(dir.At("copy"));
  }
}

}  // namespace
}  // namespace quilbo

#endif  // !_WIN32
