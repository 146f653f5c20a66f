// The POSIX platform: Windows semantics on top of POSIX calls. Names are
// bytes and go to the system unchanged: '/' separates, '\' is a byte of a
// name (the driver turns a typed '\' into '/' before names get here).
#ifndef _WIN32

#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "platform/errno_map.h"
#include "platform/platform.h"
#include "platform/posix_path.h"

namespace quilbo {

namespace {

thread_local std::int32_t tLastError = 0;
int gArgc = 0;
const char* const* gArgv = nullptr;

constexpr std::uint64_t kTicksPerSecond = 10000000;
// Seconds from 1601-01-01 to 1970-01-01.
constexpr std::int64_t kEpochDelta = 11644473600LL;

bool Fail(int err, const char* path = nullptr) {
  tLastError = WindowsErrorFromErrno(err, path);
  return false;
}

// A name as the system takes it. Names longer than the buffer fail rather
// than being cut, so a cut name can never reach another file.
struct PosixName {
  char text[PATH_MAX];
  bool ok;
};

PosixName ToPosix(const char* name) {
  PosixName result{};
  const std::size_t length = std::strlen(name);
  if (length >= sizeof result.text) {
    result.ok = false;
    return result;
  }
  std::memcpy(result.text, name, length + 1);
  result.ok = true;
  return result;
}

bool NoWritePermission(const struct stat& info) {
  return (info.st_mode & 0222) == 0;
}

// The Windows number for a failed resolution of path.
std::int32_t PathError(const PathFailure& why, const char* path) {
  if (why.err == ENOENT && why.inFolder) return kErrPathNotFound;
  if (why.err == ENOENT) return kErrFileNotFound;
  return WindowsErrorFromErrno(why.err, path);
}

bool FailPath(const PathFailure& why, const char* path) {
  tLastError = PathError(why, path);
  return false;
}

OsHandle CreateFilePosix(const char* name, FileAccess access,
                         FileCreation creation) {
  const PosixName path = ToPosix(name);
  if (!path.ok) {
    tLastError = kErrFilenameTooLong;
    return kInvalidHandle;
  }
  PathSpot spot{-1, {}};
  PathFailure why{};
  if (!ResolveParent(AT_FDCWD, path.text, &spot, &why)) {
    FailPath(why, path.text);
    return kInvalidHandle;
  }
  // Never blocking: a FIFO or a device must not hold the open up. Never
  // emptying before the checks below: O_TRUNC comes after them.
  int flags = (access == FileAccess::kRead ? O_RDONLY : O_RDWR) | O_NONBLOCK |
              O_NOCTTY;
  if (creation == FileCreation::kCreateAlways) flags |= O_CREAT;
  if (creation == FileCreation::kCreateNew) flags |= O_CREAT | O_EXCL;
  int fd;
  do {
    // New files start open to their owner only; the archiving engine then
    // gives an archive its log's access.
    fd = OpenAtSpot(&spot, flags, 0600, &why);
  } while (fd < 0 && why.err == EINTR);
  if (fd < 0) {
    struct stat info {};
    if (why.err == EEXIST &&
        fstatat(spot.folder, spot.name.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0 &&
        S_ISDIR(info.st_mode)) {
      tLastError = kErrAccessDenied;
    } else if (why.err == EEXIST) {
      tLastError = kErrFileExists;
    } else if (why.err == ENXIO) {
      tLastError = kErrFileNotFound;  // a socket: nothing to open
    } else {
      FailPath(why, path.text);
    }
    ReleaseSpot(&spot);
    return kInvalidHandle;
  }
  ReleaseSpot(&spot);
  struct stat info {};
  std::int32_t refused = 0;
  if (fstat(fd, &info) != 0) {
    refused = WindowsErrorFromErrno(errno, nullptr);
  } else if (S_ISDIR(info.st_mode)) {
    refused = kErrAccessDenied;
  } else if (access == FileAccess::kRead && !S_ISREG(info.st_mode)) {
    // FIFOs, sockets and devices are not logs.
    refused = kErrFileNotFound;
  } else if (access == FileAccess::kReadWrite && S_ISREG(info.st_mode) &&
             NoWritePermission(info)) {
    // Windows refuses write access to a read-only file even to an
    // administrator; root would otherwise get it here.
    refused = kErrAccessDenied;
  } else if (creation == FileCreation::kCreateAlways && S_ISREG(info.st_mode) &&
             ftruncate(fd, 0) != 0) {
    refused = WindowsErrorFromErrno(errno, nullptr);
  } else {
    const int status = fcntl(fd, F_GETFL);
    if (status < 0 || fcntl(fd, F_SETFL, status & ~O_NONBLOCK) != 0)
      refused = WindowsErrorFromErrno(errno, nullptr);
  }
  if (refused != 0) {
    close(fd);
    tLastError = refused;
    return kInvalidHandle;
  }
  return fd;
}

bool ReadFilePosix(OsHandle file, void* buffer, std::uint32_t size,
                   std::uint32_t* done) {
  if (done != nullptr) *done = 0;
  ssize_t got;
  do {
    got = read(static_cast<int>(file), buffer, size);
  } while (got < 0 && errno == EINTR);
  if (got < 0) return Fail(errno);
  if (done != nullptr) *done = static_cast<std::uint32_t>(got);
  return true;
}

// The whole transfer or a failure with the system's reason, as a Windows
// write to a disk file: a disk that fills up mid-way reports ENOSPC, a
// file-size limit EFBIG, never a short count.
bool WriteFilePosix(OsHandle file, const void* buffer, std::uint32_t size,
                    std::uint32_t* done) {
  if (done != nullptr) *done = 0;
  const auto* bytes = static_cast<const char*>(buffer);
  std::uint32_t written = 0;
  do {
    const ssize_t put =
        write(static_cast<int>(file), bytes + written, size - written);
    if (put < 0) {
      if (errno == EINTR) continue;
      return Fail(errno);
    }
    if (put == 0 && size != 0) return Fail(ENOSPC);
    written += static_cast<std::uint32_t>(put);
  } while (written < size);
  if (done != nullptr) *done = written;
  return true;
}

bool SetFilePointerPosix(OsHandle file, std::int64_t distance, SeekFrom from,
                         std::int64_t* position) {
  const int whence = from == SeekFrom::kBegin     ? SEEK_SET
                     : from == SeekFrom::kCurrent ? SEEK_CUR
                                                  : SEEK_END;
  const off_t result = lseek(static_cast<int>(file), distance, whence);
  if (result < 0) return Fail(errno);
  if (position != nullptr) *position = result;
  return true;
}

bool SetEndOfFilePosix(OsHandle file) {
  const int fd = static_cast<int>(file);
  const off_t here = lseek(fd, 0, SEEK_CUR);
  if (here < 0) return Fail(errno);
  if (ftruncate(fd, here) != 0) return Fail(errno);
  return true;
}

bool CloseHandlePosix(OsHandle handle) {
  if (close(static_cast<int>(handle)) != 0 && errno != EINTR)
    return Fail(errno);
  return true;
}

FileKind FileTypePosix(OsHandle handle) {
  struct stat info {};
  if (fstat(static_cast<int>(handle), &info) != 0) {
    Fail(errno);
    return FileKind::kUnknown;
  }
  if (S_ISREG(info.st_mode)) return FileKind::kDisk;
  if (S_ISCHR(info.st_mode) || S_ISFIFO(info.st_mode) ||
      S_ISSOCK(info.st_mode))
    return FileKind::kCharacter;
  return FileKind::kUnknown;
}

OsHandle StdHandlePosix(StdStream stream) {
  switch (stream) {
    case StdStream::kInput:
      return STDIN_FILENO;
    case StdStream::kOutput:
      return STDOUT_FILENO;
    case StdStream::kError:
      return STDERR_FILENO;
  }
  return kInvalidHandle;
}

// ---- Directory search -------------------------------------------------

struct PosixSearch {
  DIR* dir;  // null for a name looked up directly
  char pattern[NAME_MAX + 1];
};

bool HasWildcards(const char* text) {
  return std::strpbrk(text, "*?") != nullptr;
}

// '*' matches any run (also empty), '?' one byte, all else literally.
bool WildcardMatch(const char* pattern, const char* name) {
  const char* star = nullptr;
  const char* resume = nullptr;
  while (*name != '\0') {
    if (*pattern == '*') {
      star = pattern++;
      resume = name;
    } else if (*pattern == '?' || *pattern == *name) {
      ++pattern;
      ++name;
    } else if (star != nullptr) {
      pattern = star + 1;
      name = ++resume;
    } else {
      return false;
    }
  }
  while (*pattern == '*') ++pattern;
  return *pattern == '\0';
}

bool NameMatches(const char* pattern, const char* name) {
  if (std::strcmp(pattern, "*.*") == 0) return true;
  return WildcardMatch(pattern, name);
}

std::uint64_t ToFileTime(const struct timespec& when) {
  return static_cast<std::uint64_t>(when.tv_sec + kEpochDelta) *
             kTicksPerSecond +
         static_cast<std::uint64_t>(when.tv_nsec / 100);
}

// Fills entry from info, the file reached under name.
void FillEntry(const struct stat& info, const char* name, FindData* entry) {
  std::uint32_t attributes = 0;
  if (S_ISDIR(info.st_mode)) {
    attributes |= kAttrDirectory;
  } else {
    attributes |= kAttrArchive;
  }
  if (NoWritePermission(info)) attributes |= kAttrReadOnly;
  entry->attributes = attributes;
  entry->lastWriteTime = ToFileTime(info.st_mtim);
  entry->size = S_ISDIR(info.st_mode) ? 0 : static_cast<std::uint64_t>(info.st_size);
  std::snprintf(entry->name, sizeof entry->name, "%s", name);
}

// Only regular files and folders are entries: FIFOs, sockets and devices
// are never logs, and opening one could block.
bool IsEntryKind(const struct stat& info) {
  return S_ISREG(info.st_mode) || S_ISDIR(info.st_mode);
}

// What path (from folder start) leads to through trusted links; false with
// the Windows number in *code when that is nothing, or no entry.
bool StatThroughLinks(int start, const char* path, struct stat* info,
                      std::int32_t* code) {
  PathFailure why{};
  const int fd = ResolvePath(start, path, &why);
  if (fd < 0) {
    *code = PathError(why, start == AT_FDCWD ? path : nullptr);
    return false;
  }
  const bool ok = fstatat(fd, "", info, AT_EMPTY_PATH) == 0;
  const int err = errno;
  close(fd);
  if (!ok) {
    *code = WindowsErrorFromErrno(err, nullptr);
    return false;
  }
  if (!IsEntryKind(*info)) {
    *code = kErrFileNotFound;
    return false;
  }
  return true;
}

// The next entry of an open folder scan that matches; sets 18 at the end.
// Entries that lead nowhere (a dangling or looping link, another user's
// link) or to something other than a file or folder are skipped.
bool NextMatch(PosixSearch* search, FindData* entry) {
  const int folder = dirfd(search->dir);
  for (;;) {
    errno = 0;
    const dirent* item = readdir(search->dir);
    if (item == nullptr) {
      if (errno != 0) return Fail(errno);
      tLastError = kErrNoMoreFiles;
      return false;
    }
    if (!NameMatches(search->pattern, item->d_name)) continue;
    struct stat info {};
    if (fstatat(folder, item->d_name, &info, AT_SYMLINK_NOFOLLOW) != 0) continue;
    std::int32_t ignored = 0;
    if (S_ISLNK(info.st_mode) &&
        !StatThroughLinks(folder, item->d_name, &info, &ignored))
      continue;
    if (!IsEntryKind(info)) continue;
    FillEntry(info, item->d_name, entry);
    return true;
  }
}

OsHandle FindFirstFilePosix(const char* pattern, FindData* entry) {
  const PosixName path = ToPosix(pattern);
  if (!path.ok) {
    tLastError = kErrFilenameTooLong;
    return kInvalidHandle;
  }
  const char* slash = std::strrchr(path.text, '/');
  const char* last = slash != nullptr ? slash + 1 : path.text;
  if (std::strlen(last) > NAME_MAX) {
    tLastError = kErrFilenameTooLong;
    return kInvalidHandle;
  }
  std::string folderName;
  if (slash == nullptr) {
    folderName = ".";
  } else if (slash == path.text) {
    folderName = "/";
  } else {
    folderName.assign(path.text, static_cast<std::size_t>(slash - path.text));
  }
  // The folder, through trusted links only.
  PathFailure why{};
  const int folder = ResolvePath(AT_FDCWD, folderName, &why);
  if (folder < 0) {
    tLastError = why.err == ENOENT ? kErrPathNotFound : PathError(why, nullptr);
    return kInvalidHandle;
  }
  struct stat folderInfo {};
  const bool isFolder =
      fstatat(folder, "", &folderInfo, AT_EMPTY_PATH) == 0 && S_ISDIR(folderInfo.st_mode);
  if (!isFolder || *last == '\0') {
    close(folder);
    tLastError = isFolder ? kErrFileNotFound : kErrPathNotFound;
    return kInvalidHandle;
  }
  auto* search = static_cast<PosixSearch*>(std::calloc(1, sizeof(PosixSearch)));
  if (search == nullptr) {
    close(folder);
    tLastError = kErrNotEnoughMemory;
    return kInvalidHandle;
  }
  std::memcpy(search->pattern, last, std::strlen(last) + 1);
  auto fail = [search](std::int32_t code) {
    if (search->dir != nullptr) closedir(search->dir);
    std::free(search);
    tLastError = code;
    return kInvalidHandle;
  };
  if (!HasWildcards(last)) {
    // One name: look it up directly, never by scanning the folder.
    struct stat info {};
    std::int32_t code = 0;
    const bool found = StatThroughLinks(folder, last, &info, &code);
    close(folder);
    if (!found) return fail(code);
    FillEntry(info, last, entry);
    return reinterpret_cast<OsHandle>(search);
  }
  const int listing = openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  const int openError = errno;
  close(folder);
  if (listing < 0) return fail(WindowsErrorFromErrno(openError, nullptr));
  search->dir = fdopendir(listing);
  if (search->dir == nullptr) {
    const int err = errno;
    close(listing);
    return fail(WindowsErrorFromErrno(err, nullptr));
  }
  if (!NextMatch(search, entry)) {
    const std::int32_t code =
        tLastError == kErrNoMoreFiles ? kErrFileNotFound : tLastError;
    return fail(code);
  }
  return reinterpret_cast<OsHandle>(search);
}

bool FindNextFilePosix(OsHandle handle, FindData* entry) {
  auto* search = reinterpret_cast<PosixSearch*>(handle);
  if (search == nullptr || handle == kInvalidHandle) {
    tLastError = kErrInvalidHandle;
    return false;
  }
  if (search->dir == nullptr) {
    tLastError = kErrNoMoreFiles;
    return false;
  }
  return NextMatch(search, entry);
}

bool FindClosePosix(OsHandle handle) {
  auto* search = reinterpret_cast<PosixSearch*>(handle);
  if (search == nullptr || handle == kInvalidHandle) {
    tLastError = kErrInvalidHandle;
    return false;
  }
  if (search->dir != nullptr) closedir(search->dir);
  std::free(search);
  return true;
}

bool FileTimeToLocalPosix(std::uint64_t utc, std::uint64_t* local) {
  const std::time_t seconds =
      static_cast<std::time_t>(utc / kTicksPerSecond) - kEpochDelta;
  struct tm parts {};
  if (localtime_r(&seconds, &parts) == nullptr) return Fail(EINVAL);
  const std::int64_t shifted =
      static_cast<std::int64_t>(utc) +
      parts.tm_gmtoff * static_cast<std::int64_t>(kTicksPerSecond);
  // A local time before 1601 has no file time.
  if (shifted < 0) return Fail(EINVAL);
  *local = static_cast<std::uint64_t>(shifted);
  return true;
}

// Civil date from days since 1970-01-01 (proleptic Gregorian).
void CivilFromDays(std::int64_t days, int* year, unsigned* month,
                   unsigned* day) {
  days += 719468;
  const std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
  const auto doe = static_cast<unsigned>(days - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  *day = doy - (153 * mp + 2) / 5 + 1;
  *month = mp < 10 ? mp + 3 : mp - 9;
  *year = static_cast<int>(static_cast<std::int64_t>(yoe) + era * 400 +
                           (*month <= 2 ? 1 : 0));
}

bool FileTimeToDosPosix(std::uint64_t time, std::uint16_t* dosDate,
                        std::uint16_t* dosTime) {
  const auto seconds =
      static_cast<std::int64_t>(time / kTicksPerSecond) - kEpochDelta;
  std::int64_t days = seconds / 86400;
  std::int64_t rest = seconds % 86400;
  if (rest < 0) {
    rest += 86400;
    --days;
  }
  int year = 0;
  unsigned month = 0;
  unsigned day = 0;
  CivilFromDays(days, &year, &month, &day);
  if (year < 1980 || year > 2107) return Fail(EINVAL);
  const auto hour = static_cast<unsigned>(rest / 3600);
  const auto minute = static_cast<unsigned>(rest % 3600 / 60);
  const auto second = static_cast<unsigned>(rest % 60);
  *dosDate = static_cast<std::uint16_t>(
      (static_cast<unsigned>(year - 1980) << 9) | (month << 5) | day);
  *dosTime =
      static_cast<std::uint16_t>((hour << 11) | (minute << 5) | (second / 2));
  return true;
}

// No code pages on POSIX: names are bytes.
void CharToOemPosix(const char* source, char* destination) {
  if (source != destination) std::memmove(destination, source, std::strlen(source) + 1);
}

void OemToCharPosix(const char* source, char* destination) {
  std::snprintf(destination, kMaxPath, "%s", source);
}

// Resolves the folder part of name (trusted links only) into spot; on
// failure leaves the Windows number and gives false.
bool SpotOf(const char* name, PathSpot* spot, PosixName* path) {
  *path = ToPosix(name);
  if (!path->ok) {
    tLastError = kErrFilenameTooLong;
    return false;
  }
  PathFailure why{};
  if (!ResolveParent(AT_FDCWD, path->text, spot, &why)) return FailPath(why, path->text);
  return true;
}

// The name itself is removed, a link never followed: deleting a link to a
// log removes the link.
bool DeleteFilePosix(const char* name) {
  PathSpot spot{-1, {}};
  PosixName path;
  if (!SpotOf(name, &spot, &path)) return false;
  struct stat info {};
  bool ok = false;
  if (fstatat(spot.folder, spot.name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) {
    Fail(errno, path.text);
  } else if (S_ISDIR(info.st_mode) ||
             (!S_ISLNK(info.st_mode) && NoWritePermission(info))) {
    tLastError = kErrAccessDenied;
  } else if (unlinkat(spot.folder, spot.name.c_str(), 0) != 0) {
    Fail(errno, path.text);
  } else {
    ok = true;
  }
  ReleaseSpot(&spot);
  return ok;
}

// Whether the file open as fd is still the one under name in folder.
bool StillNamed(int fd, int folder, const char* name) {
  struct stat open {};
  struct stat named {};
  return fstat(fd, &open) == 0 &&
         fstatat(folder, name, &named, AT_SYMLINK_NOFOLLOW) == 0 &&
         open.st_dev == named.st_dev && open.st_ino == named.st_ino;
}

// Removes name from folder, fd being open on it under a write lease. An
// open by another process that found the name just before would go on, once
// the lease is given back, with the deleted file, and its lines would be
// lost. So the log is first moved aside: opens that start after that
// create a new log, and one that had already found the name shows as a
// lease being broken during a short pause. The log then goes back under
// its name and stays; otherwise the moved-aside log is removed.
bool RemoveLeased(int folder, const std::string& name, int fd) {
  const std::string aside = "." + name + ".quilbo-deleting";
  if (aside.size() > NAME_MAX ||
      renameat2(folder, name.c_str(), folder, aside.c_str(), RENAME_NOREPLACE) != 0) {
    // No room for the name, or it is taken: remove the log directly.
    return unlinkat(folder, name.c_str(), 0) == 0 || Fail(errno);
  }
  const timespec pause{0, 1000000};
  nanosleep(&pause, nullptr);
  if (fcntl(fd, F_GETLEASE) == F_WRLCK)
    return unlinkat(folder, aside.c_str(), 0) == 0 || Fail(errno);
  // Being opened: back under its name, unless a new log took the name
  // meanwhile; the opener's lines then stay in the moved-aside file.
  renameat2(folder, aside.c_str(), folder, name.c_str(), RENAME_NOREPLACE);
  tLastError = kErrSharingViolation;
  return false;
}

// A log that another process holds open is not deleted, as on Windows,
// where the writer's open does not share deletion: a write lease is granted
// only while nobody else has the file open, and it makes a later open by
// another process wait until it is given back. Where leases are not to be
// had, a log whose size is no longer the size copied is kept. The size is
// checked under the lease too, for a writer that opened, wrote and closed
// after the copy ended.
bool DeleteLogPosix(const char* name, std::int64_t copiedSize) {
  PathSpot spot{-1, {}};
  PosixName path;
  if (!SpotOf(name, &spot, &path)) return false;
  const char* last = spot.name.c_str();
  bool ok = false;
  struct stat info {};
  int fd = -1;
  bool leased = false;
  if (fstatat(spot.folder, last, &info, AT_SYMLINK_NOFOLLOW) != 0) {
    Fail(errno, path.text);
  } else if (S_ISLNK(info.st_mode)) {
    // Removing a link loses no text: the file it leads to stays.
    ok = unlinkat(spot.folder, last, 0) == 0 || Fail(errno, path.text);
  } else if (!S_ISREG(info.st_mode) || NoWritePermission(info)) {
    tLastError = kErrAccessDenied;
  } else if ((fd = openat(spot.folder, last,
                          O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC)) < 0) {
    Fail(errno, path.text);
  } else {
    leased = fcntl(fd, F_SETLEASE, F_WRLCK) == 0;
    const bool heldElsewhere = !leased && (errno == EAGAIN || errno == EBUSY);
    struct stat now {};
    if (heldElsewhere || fstat(fd, &now) != 0 || NoWritePermission(now) ||
        (copiedSize >= 0 && now.st_size != copiedSize) ||
        !StillNamed(fd, spot.folder, last) ||
        // Another process is opening it right now: the lease is being
        // broken, and that open would reach the deleted file.
        (leased && fcntl(fd, F_GETLEASE) != F_WRLCK)) {
      tLastError = kErrSharingViolation;
    } else {
      ok = leased ? RemoveLeased(spot.folder, spot.name, fd)
                  : unlinkat(spot.folder, last, 0) == 0 || Fail(errno, path.text);
    }
  }
  if (leased) fcntl(fd, F_SETLEASE, F_UNLCK);
  if (fd >= 0) close(fd);
  ReleaseSpot(&spot);
  return ok;
}

bool CreateDirectoryPosix(const char* name) {
  PathSpot spot{-1, {}};
  PosixName path;
  if (!SpotOf(name, &spot, &path)) return false;
  const bool ok = mkdirat(spot.folder, spot.name.c_str(), 0777) == 0 ||
                  Fail(errno, path.text);
  ReleaseSpot(&spot);
  return ok;
}

bool MoveBetween(const PathSpot& from, const PathSpot& to, const char* fromPath,
                 const char* toPath) {
  const char* source = from.name.c_str();
  const char* target = to.name.c_str();
  struct stat info {};
  if (fstatat(from.folder, source, &info, AT_SYMLINK_NOFOLLOW) != 0)
    return Fail(errno, fromPath);
  if (renameat2(from.folder, source, to.folder, target, RENAME_NOREPLACE) == 0)
    return true;
  if (errno != EINVAL && errno != ENOSYS) return Fail(errno, toPath);
  // File systems without RENAME_NOREPLACE: a hard link also refuses to
  // replace an existing name.
  if (linkat(from.folder, source, to.folder, target, 0) != 0)
    return Fail(errno, toPath);
  if (unlinkat(from.folder, source, 0) != 0) {
    const int err = errno;
    unlinkat(to.folder, target, 0);
    return Fail(err, fromPath);
  }
  return true;
}

bool MoveFilePosix(const char* from, const char* to) {
  PathSpot source{-1, {}};
  PathSpot target{-1, {}};
  PosixName sourcePath;
  PosixName targetPath;
  bool ok = SpotOf(from, &source, &sourcePath) && SpotOf(to, &target, &targetPath) &&
            MoveBetween(source, target, sourcePath.text, targetPath.text);
  ReleaseSpot(&source);
  ReleaseSpot(&target);
  return ok;
}

bool FileIdentityPosix(const char* name, FileIdentity* identity) {
  const PosixName path = ToPosix(name);
  if (!path.ok) {
    tLastError = kErrFilenameTooLong;
    return false;
  }
  PathFailure why{};
  const int fd = ResolvePath(AT_FDCWD, path.text, &why);
  if (fd < 0) return FailPath(why, path.text);
  struct stat info {};
  const bool ok = fstatat(fd, "", &info, AT_EMPTY_PATH) == 0 || Fail(errno);
  close(fd);
  if (!ok) return false;
  identity->volume = static_cast<std::uint64_t>(info.st_dev);
  identity->index = static_cast<std::uint64_t>(info.st_ino);
  return true;
}

// A new file is created open to its owner only; here it gets the access of
// from: its owner and group where the process may set them (root), then
// its permission bits. Group bits are dropped when the group could not be
// given, so the file is never open to a group the original is not. Its
// owner may always write it: an archive copied from a read-only log would
// otherwise count as read-only and refuse every later append.
bool CopyAccessPosix(OsHandle from, OsHandle to) {
  const int source = static_cast<int>(from);
  const int target = static_cast<int>(to);
  struct stat model {};
  struct stat info {};
  if (fstat(source, &model) != 0 || fstat(target, &info) != 0) return Fail(errno);
  if (!S_ISREG(info.st_mode)) return true;  // devices keep what they have
  if (info.st_uid != model.st_uid || info.st_gid != model.st_gid) {
    if (fchown(target, model.st_uid, model.st_gid) != 0)
      (void)!fchown(target, static_cast<uid_t>(-1), model.st_gid);
    if (fstat(target, &info) != 0) return Fail(errno);
  }
  mode_t mode = (model.st_mode & 0777) | S_IWUSR;
  if (info.st_gid != model.st_gid) mode &= static_cast<mode_t>(~0070);
  if (fchmod(target, mode) != 0) return Fail(errno);
  return true;
}

OsHandle LockFolderPosix(const char* name) {
  const PosixName path = ToPosix(name);
  if (!path.ok) {
    tLastError = kErrFilenameTooLong;
    return kInvalidHandle;
  }
  // Reached as every other name is: another user's link is not followed.
  PathSpot spot{-1, {}};
  PathFailure why{};
  if (!ResolveParent(AT_FDCWD, path.text, &spot, &why)) {
    FailPath(why, path.text);
    return kInvalidHandle;
  }
  // Without O_DIRECTORY, which would hide a link from being followed;
  // never blocking on a FIFO of that name.
  int fd;
  do {
    fd = OpenAtSpot(&spot, O_RDONLY | O_NONBLOCK, 0, &why);
  } while (fd < 0 && why.err == EINTR);
  ReleaseSpot(&spot);
  if (fd < 0) {
    FailPath(why, path.text);
    return kInvalidHandle;
  }
  struct stat info {};
  const bool stated = fstat(fd, &info) == 0;
  const int statError = errno;
  if (!stated || !S_ISDIR(info.st_mode)) {
    close(fd);
    tLastError = stated ? kErrPathNotFound : WindowsErrorFromErrno(statError, nullptr);
    return kInvalidHandle;
  }
  // The lock belongs to the open folder, so it follows the folder's
  // identity, and it goes with the last descriptor when the process dies.
  while (flock(fd, LOCK_EX) != 0) {
    if (errno == EINTR) continue;
    const int err = errno;
    close(fd);
    Fail(err);
    return kInvalidHandle;
  }
  return fd;
}

bool UnlockFolderPosix(OsHandle lock) {
  const int fd = static_cast<int>(lock);
  if (flock(fd, LOCK_UN) != 0) {
    const int err = errno;
    close(fd);
    return Fail(err);
  }
  return CloseHandlePosix(lock);
}

// EINVAL: the file system has no way to flush this file; nothing more can
// be done, and refusing every later step would help no one.
bool Flush(OsHandle handle) {
  int result;
  do {
    result = fsync(static_cast<int>(handle));
  } while (result != 0 && errno == EINTR);
  if (result != 0 && errno != EINVAL) return Fail(errno);
  return true;
}

bool FlushFilePosix(OsHandle file) { return Flush(file); }

// A new or renamed name is durable only once its folder is flushed.
bool FlushFolderPosix(OsHandle lock) { return Flush(lock); }

// One entry by its name, through trusted links only, as the walk sees it.
bool LookupFilePosix(const char* name, FindData* entry) {
  const PosixName path = ToPosix(name);
  if (!path.ok) {
    tLastError = kErrFilenameTooLong;
    return false;
  }
  if (path.text[0] == '\0') {
    tLastError = kErrPathNotFound;
    return false;
  }
  struct stat info {};
  std::int32_t code = 0;
  if (!StatThroughLinks(AT_FDCWD, path.text, &info, &code)) {
    tLastError = code;
    return false;
  }
  FillEntry(info, "", entry);
  return true;
}

const char* CommandLinePosix() { return nullptr; }

bool SplitArgumentsPosix(int* count, const char* const** arguments) {
  *count = gArgc;
  *arguments = gArgv;
  return gArgv != nullptr;
}

std::uint32_t ExecutablePathPosix(char* buffer, std::uint32_t size) {
  if (size == 0) return 0;
  const ssize_t n = readlink("/proc/self/exe", buffer, size - 1);
  if (n < 0) {
    Fail(errno);
    buffer[0] = '\0';
    return 0;
  }
  buffer[n] = '\0';
  return static_cast<std::uint32_t>(n);
}

bool ModuleOfAddressPosix(const void* address, char* path, std::uint32_t size,
                          std::uintptr_t* base) {
  Dl_info info{};
  if (dladdr(address, &info) == 0 || info.dli_fbase == nullptr) return Fail(EINVAL);
  *base = reinterpret_cast<std::uintptr_t>(info.dli_fbase);
  // The main program has no name of its own in the loader's list: use the
  // executable's path.
  char self[PATH_MAX];
  const char* name = info.dli_fname;
  if (name == nullptr || name[0] == '\0' || std::strchr(name, '/') == nullptr) {
    if (ExecutablePathPosix(self, sizeof self) > 0) name = self;
  }
  std::snprintf(path, size, "%s", name != nullptr ? name : "");
  return true;
}

std::int32_t LastErrorPosix() { return tLastError; }
void SetLastErrorPosix(std::int32_t code) { tLastError = code; }
void ExitProcessPosix(std::uint32_t code) { _exit(static_cast<int>(code)); }

void* Allocate(std::size_t size) { return std::malloc(size); }
void Release(void* block) { std::free(block); }

const PlatformApi kPosix = {
    CreateFilePosix,      ReadFilePosix,       WriteFilePosix,
    SetFilePointerPosix,  SetEndOfFilePosix,   CloseHandlePosix,
    FileTypePosix,        StdHandlePosix,      FindFirstFilePosix,
    FindNextFilePosix,    FindClosePosix,      FileTimeToLocalPosix,
    FileTimeToDosPosix,   CharToOemPosix,      OemToCharPosix,
    DeleteFilePosix,      CreateDirectoryPosix, MoveFilePosix,
    FileIdentityPosix,    DeleteLogPosix,      CopyAccessPosix,
    LookupFilePosix,      LockFolderPosix,     UnlockFolderPosix,
    FlushFilePosix,       FlushFolderPosix,    CommandLinePosix,
    SplitArgumentsPosix,
    ExecutablePathPosix,  ModuleOfAddressPosix, Allocate, Release, LastErrorPosix,
    SetLastErrorPosix,    ExitProcessPosix,
};

// ENOENT means "path not found" when the folder part of path is missing.
bool ParentMissing(const char* path) {
  const char* slash = std::strrchr(path, '/');
  if (slash == nullptr) return false;
  if (slash == path) return false;
  char folder[PATH_MAX];
  const auto length = static_cast<std::size_t>(slash - path);
  if (length >= sizeof folder) return true;
  std::memcpy(folder, path, length);
  folder[length] = '\0';
  struct stat info {};
  return stat(folder, &info) != 0 || !S_ISDIR(info.st_mode);
}

}  // namespace

std::int32_t WindowsErrorFromErrno(int err, const char* path) {
  struct Row {
    int err;
    std::int32_t code;
  };
  static constexpr Row kTable[] = {
      {ENOENT, kErrFileNotFound},
      {ENOTDIR, kErrPathNotFound},
      {EACCES, kErrAccessDenied},
      {EPERM, kErrAccessDenied},
      {EROFS, kErrAccessDenied},
      {EISDIR, kErrAccessDenied},
      {EMFILE, kErrTooManyOpenFiles},
      {ENFILE, kErrTooManyOpenFiles},
      {ENOSPC, kErrDiskFull},
      {EDQUOT, kErrDiskFull},
      {EEXIST, kErrAlreadyExists},
      {ENOTEMPTY, 145},  // ERROR_DIR_NOT_EMPTY
      {EPIPE, kErrBrokenPipe},
      {ENAMETOOLONG, kErrFilenameTooLong},
      {EBUSY, kErrSharingViolation},
      {ETXTBSY, kErrSharingViolation},
      {EBADF, kErrInvalidHandle},
      {EINVAL, kErrInvalidParameter},
      {ENOMEM, kErrNotEnoughMemory},
      {EIO, 1117},       // ERROR_IO_DEVICE
      {EFBIG, 223},      // ERROR_FILE_TOO_LARGE
      {EXDEV, 17},       // ERROR_NOT_SAME_DEVICE
      {ELOOP, 1921},     // ERROR_CANT_RESOLVE_FILENAME
      {kErrnoUntrustedLink, kErrUntrustedLink},
      {ESPIPE, 131},     // ERROR_NEGATIVE_SEEK
      {EAGAIN, 232},     // ERROR_NO_DATA
  };
  for (const Row& row : kTable) {
    if (row.err != err) continue;
    if (err == ENOENT && path != nullptr && ParentMissing(path))
      return kErrPathNotFound;
    return row.code;
  }
  return kUnmappedErrnoBase | (err & 0xFFFF);
}

const PlatformApi& NativePlatform() { return kPosix; }

void InitPlatform(int argc, char** argv) {
  gArgc = argc;
  gArgv = argv;
  // A write to a pipe whose reader has gone must fail with 109, and one past
  // the file-size limit with its error, not kill us before the report.
  signal(SIGPIPE, SIG_IGN);
  signal(SIGXFSZ, SIG_IGN);
  // A process opening a log while a deletion holds its lease would send
  // SIGIO, whose default ends the process.
  signal(SIGIO, SIG_IGN);
}

}  // namespace quilbo

#endif  // !_WIN32
