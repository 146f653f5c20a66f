// The platform layer through real operations: the Windows numbers failures
// leave, the time conversions, and on POSIX the Windows semantics built
// there (wildcards, which links are followed, logs held open).
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "support/fs_fixtures.h"

#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <ctime>

#include "platform/errno_map.h"
#include "platform/error_text.h"
#include "platform/posix_path.h"
#endif

namespace quilbo {
namespace {

namespace fs = std::filesystem;
using testing::TempDir;
using testing::WriteFile;

const PlatformApi& Native() { return NativePlatform(); }

bool Open(const std::string& name, FileCreation creation = FileCreation::kOpenExisting) {
  const FileAccess access = creation == FileCreation::kOpenExisting ? FileAccess::kRead : FileAccess::kReadWrite;
  const OsHandle file = CreateFileByPath(name.c_str(), access, creation);
  return file != kInvalidHandle && Native().closeHandle(file);
}

TEST(Platform, FailuresLeaveTheWindowsNumbers) {
  TempDir dir;
  WriteFile(dir.At("a.txt"), "a");
  WriteFile(dir.At("b.txt"), "b");
  const std::string gone = dir.At("nofolder") + testing::kSep + "x.txt";
  FindData entry{};
  FileInfo info{};
  const std::pair<std::function<bool()>, std::int32_t> cases[] = {
      {[&] { return Open(dir.At("missing.txt")); }, kErrFileNotFound},
      {[&] { return Open(gone); }, kErrPathNotFound},
      {[&] { return Open(gone, FileCreation::kCreateAlways); }, kErrPathNotFound},
      {[&] { return MoveFileByPath(dir.At("a.txt").c_str(), dir.At("b.txt").c_str()); }, kErrAlreadyExists},
      {[&] { return DeleteFileByPath(dir.At("missing.txt").c_str()); }, kErrFileNotFound},
      {[&] { return EntryInfoByPath(gone.c_str(), true, &info); }, kErrPathNotFound},
      {[&] { return Native().findFirstFile((gone + "*").c_str(), nullptr, &entry) != kInvalidHandle; }, kErrPathNotFound},
      {[&] { return Native().findNextFile(kInvalidHandle, &entry); }, kErrInvalidHandle},
      {[&] { return Native().openFolder(gone.c_str()) != kInvalidHandle; }, kErrPathNotFound},
  };
  for (const auto& [attempt, error] : cases) {
    Native().setLastError(0);
    EXPECT_FALSE(attempt());
    EXPECT_EQ(Native().lastError(), error);
  }
  EXPECT_EQ(testing::ReadWholeFile(dir.At("b.txt")), "b");  // the refused move changed nothing
}

// A file made without a name shows under none until it is named, which
// never replaces a name that exists; Windows has no such files.
// A whole path reaches its entry through its folder: split at the last
// separator only (on POSIX a backslash is a byte of a name), a path ending in a
// separator names its folder, and a missing folder is "path not found".
TEST(Platform, PathsReachTheirEntryThroughTheirFolder) {
  TempDir dir;
  WriteFile(dir.At("f"), "f");
  FileInfo info{};
  ASSERT_TRUE(EntryInfoByPath((dir.path + testing::kSep).c_str(), true, &info));
  EXPECT_NE(info.attributes & kAttrDirectory, 0U);
  ASSERT_TRUE(EntryInfoByPath(dir.At("f").c_str(), true, &info));
  EXPECT_EQ(info.attributes & kAttrDirectory, 0U);
  EXPECT_EQ(info.size, 1U);
  EXPECT_FALSE(Open(dir.At("gone") + testing::kSep + "f", FileCreation::kCreateNew));
  EXPECT_EQ(Native().lastError(), kErrPathNotFound);
  EXPECT_TRUE(Open(dir.At("f")) && DeleteFileByPath(dir.At("f").c_str()) && !fs::exists(dir.At("f")));
#ifndef _WIN32
  EXPECT_TRUE(Open(dir.At("a\\b"), FileCreation::kCreateNew));
  EXPECT_TRUE(fs::is_regular_file(dir.At("a\\b")));
#endif
}

TEST(Platform, UnnamedFilesGetTheirNameOnlyWhenDone) {
  TempDir dir;
  WriteFile(dir.At("taken"), "mine");
  const OsHandle folder = Native().openFolder(dir.path.c_str());
  const OsHandle model = CreateFileByPath(dir.At("taken").c_str(), FileAccess::kRead, FileCreation::kOpenExisting);
  ASSERT_NE(folder, kInvalidHandle);
  const OsHandle file = Native().createUnnamedAt(folder, model);
#ifdef _WIN32
  EXPECT_EQ((file == kInvalidHandle) ? Native().lastError() : 0, kErrNotSupported);
#else
  ASSERT_NE(file, kInvalidHandle);
  std::uint32_t done = 0;
  ASSERT_TRUE(Native().writeFile(file, "whole", 5, &done) && Native().flushFile(file));
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.path), fs::directory_iterator()), 1);
  EXPECT_FALSE(Native().nameFileAt(folder, file, "taken"));
  EXPECT_EQ(Native().lastError(), kErrFileExists);
  EXPECT_FALSE(Native().nameFileAt(folder, file, "a/b"));
  EXPECT_TRUE(Native().nameFileAt(folder, file, "new"));
  EXPECT_EQ(testing::ReadWholeFile(dir.At("taken")) + testing::ReadWholeFile(dir.At("new")), "minewhole");
  Native().closeHandle(file);
#endif
  Native().closeHandle(model);
  Native().closeFolder(folder);
}

// 100 ns units since 1601 of a UTC time.
std::uint64_t Ticks(std::int64_t days1970, std::int64_t seconds) {
  return static_cast<std::uint64_t>(11644473600LL + days1970 * 86400 + seconds) * 10000000ULL;
}

TEST(Platform, FileTimesPackWithinTheirRangeOnly) {
  const struct { std::uint64_t time; bool ok; std::uint32_t packed; } rows[] = {
      {Ticks(19787, 52217), true, 0x586573C8},  // 2024-03-05 14:30:17
      {Ticks(3652, 0), true, 0x00210000},       // 1980-01-01
      {Ticks(50402, 86399), true, 0xFF9FBF7D},  // 2107-12-31 23:59:59
      {Ticks(3652, -1), false, 0}, {Ticks(50403, 0), false, 0}, {0, false, 0}};
  for (const auto& row : rows) {
    std::uint16_t date = 0, clock = 0;
    EXPECT_EQ(Native().fileTimeToDosDateTime(row.time, &date, &clock), row.ok) << row.time;
    EXPECT_EQ(row.ok ? (static_cast<std::uint32_t>(date) << 16 | clock) : 0, row.packed) << row.time;
  }
}

#ifndef _WIN32

TEST(Posix, ErrnoBecomesTheWindowsNumberOfTheSameCondition) {
  const std::pair<int, std::int32_t> rows[] = {
      {ENOENT, 2}, {ENOTDIR, 3}, {EACCES, 5}, {EPERM, 5}, {EROFS, 5}, {EISDIR, 5}, {EMFILE, 4},
      {ENOSPC, 112}, {EDQUOT, 112}, {EEXIST, 183}, {ENOTEMPTY, 145}, {EPIPE, 109},
      {ENAMETOOLONG, 206}, {EBUSY, 32}, {ETXTBSY, 32}, {EBADF, 6}, {EINVAL, 87}, {ELOOP, 1921}};
  for (const auto& [err, code] : rows) EXPECT_EQ(WindowsErrorFromErrno(err, nullptr), code) << err;
  EXPECT_EQ(WindowsErrorFromErrno(ECHILD, nullptr), kUnmappedErrnoBase | ECHILD);  // kept, not mapped
  // Only those may become 2 to 5, and none the program's own 100 to 106.
  const std::set<int> fileErrors = {ENOENT, ENOTDIR, EACCES, EPERM, EROFS, EISDIR, EMFILE, ENFILE};
  for (int err = 1; err < 4096; ++err) {
    const std::int32_t code = WindowsErrorFromErrno(err, nullptr);
    EXPECT_FALSE((!fileErrors.contains(err) && code >= 2 && code <= 5) || code == 0 ||
                 (code >= 100 && code <= 106)) << err;
  }
  TempDir dir;
  WriteFile(dir.At("ro"), "keep");  // read-only refuses writes and deletes, also to root
  chmod(dir.At("ro").c_str(), 0444);
  EXPECT_FALSE(Open(dir.At("ro"), FileCreation::kCreateAlways) || DeleteFileByPath(dir.At("ro").c_str()));
  EXPECT_EQ(Native().lastError(), kErrAccessDenied);
  // A failed read or write reports no bytes; the count is optional.
  const OsHandle reader = CreateFileByPath(dir.At("ro").c_str(), FileAccess::kRead, FileCreation::kOpenExisting);
  std::uint32_t done = 99;
  EXPECT_FALSE(Native().writeFile(reader, "x", 1, &done) || Native().writeFile(reader, "x", 1, nullptr) || done != 0);
  done = 99;
  char byte = 0;
  EXPECT_FALSE(Native().readFile(kInvalidHandle, &byte, 1, &done) || done != 0);
  Native().closeHandle(reader);
  EXPECT_EQ(testing::ReadWholeFile(dir.At("ro")), "keep");
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
      {"x\\y.log", "x\\y.log"}, {"ab.log", "ab.log"}, {"c*", ""}};
  for (const auto& [pattern, expected] : rows) {
    std::vector<std::string> names;
    FindData entry{};
    const OsHandle search = Native().findFirstFile(dir.At(pattern).c_str(), nullptr, &entry);
    for (bool more = search != kInvalidHandle; more; more = Native().findNextFile(search, &entry))
      names.push_back(entry.name);
    EXPECT_EQ(Native().lastError(), search != kInvalidHandle ? kErrNoMoreFiles : kErrFileNotFound);
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
  FileInfo info{};
  ASSERT_TRUE(EntryInfoByPath(dir.At("t").c_str(), true, &info));
  EXPECT_EQ(info.lastWriteTime, Ticks(0, 1000000000) + 9999999);
  // An hour west of UTC, the first local instant is 01:00 UTC on 1601-01-01.
  const char* saved = std::getenv("TZ");
  const std::string before = saved != nullptr ? saved : "";
  setenv("TZ", "QLB1", 1);
  tzset();
  std::uint64_t local = 1;
  const bool first = Native().fileTimeToLocalFileTime(3600ULL * 10000000ULL, &local);
  const bool earlier = Native().fileTimeToLocalFileTime(3599ULL * 10000000ULL, &info.size);
  saved != nullptr ? setenv("TZ", before.c_str(), 1) : unsetenv("TZ");
  tzset();
  EXPECT_TRUE(first && !earlier);
  EXPECT_EQ(local, 0u);
}

// A failure's reason is the errno of the call that failed, though several
// become one Windows number; a number set without one is read as the errno
// it usually stands for, never as an earlier failure's.
TEST(Posix, FailuresKeepTheirErrno) {
  TempDir dir;
  WriteFile(dir.At("a.txt"), "a");
  fs::create_directory(dir.At("sub"));
  FindData entry{};
  FileInfo info{};
  const std::string under = dir.At("a.txt") + "/x";
  const std::tuple<std::function<bool()>, std::int32_t, int> cases[] = {
      {[&] { return Native().openFolder(dir.At("a.txt").c_str()) != kInvalidHandle; }, kErrPathNotFound, ENOTDIR},
      {[&] { return Native().openFolder(dir.At("gone").c_str()) != kInvalidHandle; }, kErrPathNotFound, ENOENT},
      {[&] { return Open(under, FileCreation::kCreateAlways); }, kErrPathNotFound, ENOTDIR},
      {[&] { return EntryInfoByPath(under.c_str(), true, &info); }, kErrPathNotFound, ENOTDIR},
      {[&] { return Native().findFirstFile((under + "/*").c_str(), nullptr, &entry) != kInvalidHandle; }, kErrPathNotFound,
       ENOTDIR},
      {[&] { return Open(dir.At("sub"), FileCreation::kCreateAlways); }, kErrAccessDenied, EISDIR},
      {[&] { return DeleteFileByPath(dir.At("sub").c_str()); }, kErrAccessDenied, EISDIR},
      {[&] { return Native().setLastError(kErrPathNotFound), false; }, kErrPathNotFound, 0}};
  for (const auto& [attempt, code, err] : cases) {
    EXPECT_FALSE(attempt());
    EXPECT_EQ(Native().lastError(), code) << err;
    EXPECT_EQ(Native().lastCause(), err) << code;
  }
  const std::tuple<std::int32_t, std::int32_t, const char*> texts[] = {
      {kErrAccessDenied, EROFS, "Read-only file system"}, {kErrAccessDenied, 0, "Permission denied"},
      {kErrPathNotFound, ENOTDIR, "Not a directory"}, {kErrPathNotFound, 0, "No such file or directory"},
      {kErrUntrustedLink, kErrnoUntrustedLink, "a link owned by another user, not followed"},
      {kUnmappedErrnoBase | EXDEV, 0, "Invalid cross-device link"}, {9999, 0, "error 9999"}};
  for (const auto& [code, cause, text] : texts) {
    char out[64];
    SystemErrorText(code, cause, out, sizeof out);
    EXPECT_STREQ(out, text) << code << " " << cause;
  }
}

// The running user's links are followed; dangling, looping and (as root)
// another user's are not, and every resolution closes what it opened.
TEST(Posix, FollowsOnlyLinksOfTheUserOrRoot) {
  TempDir dir;
  fs::create_directory(dir.At("real"));
  WriteFile(dir.At("real/f.txt"), "data");
  const bool root = geteuid() == 0;
  for (const auto& [target, link] : std::vector<std::pair<std::string, std::string>>{
           {"real/f.txt", "own"}, {"real", "ownFolder"}, {dir.At("real/f.txt"), "absolute"}, {"own", "chain"},
           {"nowhere", "dangling"}, {"loop2", "loop1"}, {"loop1", "loop2"}, {"real/f.txt", "other"},
           {"real", "otherFolder"}}) {
    ASSERT_EQ(symlink(target.c_str(), dir.At(link).c_str()), 0);
    if (link.starts_with("other") && root) {
      ASSERT_EQ(lchown(dir.At(link).c_str(), 65534, 65534), 0);
    }
  }
  const auto descriptors = [] { return std::distance(fs::directory_iterator("/proc/self/fd"), {}); };
  const auto opened = descriptors();
  const struct { const char* path; int err; bool inFolder; std::int32_t code; } cases[] = {
      {"own", 0, false, 0}, {"ownFolder/../real/./f.txt", 0, false, 0}, {"absolute", 0, false, 0},
      {"chain", 0, false, 0}, {"real//f.txt", 0, false, 0},
      {"dangling", ENOENT, false, kErrFileNotFound}, {"dangling/f.txt", ENOENT, true, kErrPathNotFound},
      {"real/f.txt/x", ENOTDIR, true, kErrPathNotFound}, {"loop1", ELOOP, false, kErrCantResolve},
      {"loop1/f.txt", ELOOP, true, kErrCantResolve}, {"other", kErrnoUntrustedLink, false, kErrUntrustedLink},
      {"otherFolder/f.txt", kErrnoUntrustedLink, true, kErrUntrustedLink}};
  for (const auto& c : cases) {
    if (std::string(c.path).starts_with("other") && !root) continue;
    PathFailure why{};
    const int fd = ResolvePath(AT_FDCWD, dir.At(c.path), &why);
    EXPECT_EQ(fd >= 0 ? 0 : fd, c.err == 0 ? 0 : -1) << c.path;
    EXPECT_EQ(fd >= 0 ? 0 : why.err, c.err) << c.path;
    if (fd >= 0) close(fd);
    if (c.err == 0) continue;
    EXPECT_EQ(why.inFolder, c.inFolder) << c.path;
    EXPECT_FALSE(Open(dir.At(c.path)));
    EXPECT_EQ(Native().lastError(), c.code) << c.path;
    EXPECT_EQ(Native().lastCause(), c.err) << c.path;
  }
  for (const auto& [path, name] : {std::pair{dir.At("real/"), "real"}, {"/", "."}, {"", ""}}) {
    PathSpot spot{-1, {}};
    PathFailure why{};
    EXPECT_EQ(ResolveParent(AT_FDCWD, path, &spot, &why), !path.empty()) << path;
    EXPECT_EQ(spot.name, name);
    ReleaseSpot(&spot);
    EXPECT_EQ(spot.folder, -1);
  }
  EXPECT_EQ(descriptors(), opened);
  EXPECT_TRUE(DeleteFileByPath(dir.At("own").c_str()));  // the link, never its target
  EXPECT_EQ(testing::ReadWholeFile(dir.At("real/f.txt")), "data");
}

bool IsOpen(int fd) { return fcntl(fd, F_GETFD) != -1; }

int OpenDescriptors() {
  int count = 0;
  for (int fd = 0; fd < 1024; ++fd) count += IsOpen(fd) ? 1 : 0;
  return count;
}

// The walk opens each plain file it finds to describe it; the open of the
// found entry in that folder takes the very file found, once; in another
// folder, or by a plain open, the name is opened; the walk's next step
// closes a file nobody took. A name the caller keeps shut (a log on its
// way out) is never opened by the walk: that would break its lease.
TEST(Posix, WalkHandsItsFileOnlyToItsOwnFolder) {
  TempDir dir;
  for (const char* folder : {"a", "b"}) {
    fs::create_directory(dir.At(folder));
    WriteFile(dir.At(folder) + "/x.log", folder);
  }
  for (const char* name : {"a/v.log", "a/w.log", "a/y.log"}) WriteFile(dir.At(name), "y");
  const std::string aside = dir.At("a/.quilbo-1-z.log");
  WriteFile(aside, "z");
  signal(SIGIO, SIG_IGN);  // as a run does: a lease broken by an open is no end
  const int leased = open(aside.c_str(), O_RDONLY);
  const bool leases = fcntl(leased, F_SETLEASE, F_WRLCK) == 0;
  const OsHandle a = Native().openFolder(dir.At("a").c_str());
  const OsHandle b = Native().openFolder(dir.At("b").c_str());
  const auto readAll = [](OsHandle file) {
    char text[8] = {};
    std::uint32_t done = 0;
    if (file == kInvalidHandle || !Native().readFile(file, text, sizeof text, &done)) return std::string("-");
    Native().closeHandle(file);
    return std::string(text, done);
  };
  const int before = OpenDescriptors();
  int most = 0;
  std::string seen;
  FindData entry{};
  const OsHandle search = Native().findFirstFile((dir.At("a") + "/*").c_str(), ".quilbo-", &entry);
  for (bool more = search != kInvalidHandle; more; more = Native().findNextFile(search, &entry)) {
    most = std::max(most, OpenDescriptors());
    if (entry.name != std::string("x.log")) continue;
    fs::remove(dir.At("a/x.log"));  // gone from its name, still the file found
    seen += readAll(Native().openFoundAt(b, &entry));
    seen += readAll(Native().createFileAt(a, "y.log", FileAccess::kRead, FileCreation::kOpenExisting));
    seen += readAll(Native().openFoundAt(a, &entry));
    seen += readAll(Native().openFoundAt(a, &entry));
  }
  Native().findClose(search);
  EXPECT_EQ(seen, "bya-");
  EXPECT_LE(most, before + 2);  // the search's own and the file found
  EXPECT_EQ(OpenDescriptors(), before);
  if (leases) {
    EXPECT_EQ(fcntl(leased, F_GETLEASE), F_WRLCK);
  }
  close(leased);
  Native().closeFolder(a);
  Native().closeFolder(b);
}

#endif  // !_WIN32

}  // namespace
}  // namespace quilbo
