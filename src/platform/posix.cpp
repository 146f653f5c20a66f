// The POSIX platform: Windows semantics on top of POSIX calls. Names may use
// '\' or '/' as separators; every name is handed to the system with '/'.
#ifndef _WIN32

#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "platform/errno_map.h"
#include "platform/platform.h"

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

// A name in POSIX form: '\' becomes '/'. Names longer than the buffer fail
// rather than being cut, so a cut name can never reach another file.
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
  for (std::size_t i = 0; i <= length; ++i)
    result.text[i] = name[i] == '\\' ? '/' : name[i];
  result.ok = true;
  return result;
}

bool NoWritePermission(const struct stat& info) {
  return (info.st_mode & 0222) == 0;
}

OsHandle CreateFilePosix(const char* name, FileAccess access,
                         FileCreation creation) {
  const PosixName path = ToPosix(name);
  if (!path.ok) {
    tLastError = kErrFilenameTooLong;
    return kInvalidHandle;
  }
  if (path.text[0] == '\0') {
    tLastError = kErrPathNotFound;
    return kInvalidHandle;
  }
  struct stat info {};
  const bool exists = stat(path.text, &info) == 0;
  if (exists && S_ISDIR(info.st_mode)) {
    tLastError = kErrAccessDenied;
    return kInvalidHandle;
  }
  // Windows refuses write access to a read-only file even to an
  // administrator; root would otherwise get it here.
  if (exists && access == FileAccess::kReadWrite && NoWritePermission(info)) {
    tLastError = kErrAccessDenied;
    return kInvalidHandle;
  }
  if (exists && creation == FileCreation::kCreateNew) {
    tLastError = kErrFileExists;
    return kInvalidHandle;
  }
  int flags = access == FileAccess::kRead ? O_RDONLY : O_RDWR;
  if (creation == FileCreation::kCreateAlways) flags |= O_CREAT | O_TRUNC;
  if (creation == FileCreation::kCreateNew) flags |= O_CREAT | O_EXCL;
  int fd;
  do {
    fd = open(path.text, flags, 0666);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) {
    Fail(errno, path.text);
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

bool WriteFilePosix(OsHandle file, const void* buffer, std::uint32_t size,
                    std::uint32_t* done) {
  if (done != nullptr) *done = 0;
  ssize_t put;
  do {
    put = write(static_cast<int>(file), buffer, size);
  } while (put < 0 && errno == EINTR);
  if (put < 0) return Fail(errno);
  if (done != nullptr) *done = static_cast<std::uint32_t>(put);
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
  char folder[PATH_MAX];
  char pattern[PATH_MAX];
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

// Fills entry from the file at path; false when it has vanished.
bool Describe(const char* path, const char* name, FindData* entry) {
  struct stat info {};
  if (stat(path, &info) != 0 && lstat(path, &info) != 0) return false;
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
  return true;
}

bool JoinPath(const char* folder, const char* name, char* out,
              std::size_t size) {
  const int n = std::snprintf(out, size, "%s/%s", folder, name);
  return n >= 0 && static_cast<std::size_t>(n) < size;
}

// The next entry of an open folder scan that matches; sets 18 at the end.
bool NextMatch(PosixSearch* search, FindData* entry) {
  for (;;) {
    errno = 0;
    const dirent* item = readdir(search->dir);
    if (item == nullptr) {
      if (errno != 0) return Fail(errno);
      tLastError = kErrNoMoreFiles;
      return false;
    }
    if (!NameMatches(search->pattern, item->d_name)) continue;
    char path[PATH_MAX];
    if (!JoinPath(search->folder, item->d_name, path, sizeof path)) continue;
    if (Describe(path, item->d_name, entry)) return true;
  }
}

bool FolderExists(const char* folder) {
  struct stat info {};
  return stat(folder, &info) == 0 && S_ISDIR(info.st_mode);
}

OsHandle FindFirstFilePosix(const char* pattern, FindData* entry) {
  const PosixName path = ToPosix(pattern);
  if (!path.ok) {
    tLastError = kErrFilenameTooLong;
    return kInvalidHandle;
  }
  auto* search = static_cast<PosixSearch*>(std::calloc(1, sizeof(PosixSearch)));
  if (search == nullptr) {
    tLastError = kErrNotEnoughMemory;
    return kInvalidHandle;
  }
  const char* slash = std::strrchr(path.text, '/');
  const char* last = slash != nullptr ? slash + 1 : path.text;
  if (slash == nullptr) {
    std::strcpy(search->folder, ".");
  } else if (slash == path.text) {
    std::strcpy(search->folder, "/");
  } else {
    std::memcpy(search->folder, path.text, static_cast<std::size_t>(slash - path.text));
  }
  std::snprintf(search->pattern, sizeof search->pattern, "%s", last);

  auto fail = [search](std::int32_t code) {
    if (search->dir != nullptr) closedir(search->dir);
    std::free(search);
    tLastError = code;
    return kInvalidHandle;
  };
  if (!FolderExists(search->folder)) {
    return fail(kErrPathNotFound);
  }
  if (*last == '\0') return fail(kErrFileNotFound);
  if (!HasWildcards(last)) {
    // One name: look it up directly, never by scanning the folder.
    if (!Describe(path.text, last, entry))
      return fail(WindowsErrorFromErrno(errno, path.text));
    return reinterpret_cast<OsHandle>(search);
  }
  search->dir = opendir(search->folder);
  if (search->dir == nullptr) return fail(WindowsErrorFromErrno(errno, path.text));
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

bool DeleteFilePosix(const char* name) {
  const PosixName path = ToPosix(name);
  if (!path.ok) {
    tLastError = kErrFilenameTooLong;
    return false;
  }
  struct stat info {};
  if (lstat(path.text, &info) != 0) return Fail(errno, path.text);
  if (S_ISDIR(info.st_mode) || (!S_ISLNK(info.st_mode) && NoWritePermission(info))) {
    tLastError = kErrAccessDenied;
    return false;
  }
  if (unlink(path.text) != 0) return Fail(errno, path.text);
  return true;
}

bool CreateDirectoryPosix(const char* name) {
  const PosixName path = ToPosix(name);
  if (!path.ok) {
    tLastError = kErrFilenameTooLong;
    return false;
  }
  if (path.text[0] == '\0') {
    tLastError = kErrPathNotFound;
    return false;
  }
  if (mkdir(path.text, 0777) != 0) return Fail(errno, path.text);
  return true;
}

bool MoveFilePosix(const char* from, const char* to) {
  const PosixName source = ToPosix(from);
  const PosixName target = ToPosix(to);
  if (!source.ok || !target.ok) {
    tLastError = kErrFilenameTooLong;
    return false;
  }
  struct stat info {};
  if (lstat(source.text, &info) != 0) return Fail(errno, source.text);
  if (renameat2(AT_FDCWD, source.text, AT_FDCWD, target.text,
                RENAME_NOREPLACE) == 0)
    return true;
  if (errno != EINVAL && errno != ENOSYS) return Fail(errno, target.text);
  // File systems without RENAME_NOREPLACE: a hard link also refuses to
  // replace an existing name.
  if (link(source.text, target.text) != 0) return Fail(errno, target.text);
  if (unlink(source.text) != 0) {
    const int err = errno;
    unlink(target.text);
    return Fail(err, source.text);
  }
  return true;
}

bool FileIdentityPosix(const char* name, FileIdentity* identity) {
  const PosixName path = ToPosix(name);
  if (!path.ok) {
    tLastError = kErrFilenameTooLong;
    return false;
  }
  struct stat info {};
  if (stat(path.text, &info) != 0) return Fail(errno, path.text);
  identity->volume = static_cast<std::uint64_t>(info.st_dev);
  identity->index = static_cast<std::uint64_t>(info.st_ino);
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
    FileIdentityPosix,    CommandLinePosix,    SplitArgumentsPosix,
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
  return !FolderExists(folder);
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
  // A write to a pipe whose reader has gone must fail with 109, not kill us.
  signal(SIGPIPE, SIG_IGN);
}

}  // namespace quilbo

#endif  // !_WIN32
