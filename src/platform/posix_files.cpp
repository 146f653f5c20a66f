// POSIX files: open and create, transfers, positions, the handle's type,
// the standard handles; the shared error helpers.

#ifndef _WIN32

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/errno_map.h"
#include "platform/posix_internal.h"
#include "platform/posix_path.h"

namespace quilbo::posix {

namespace {

// The calling thread's last failure: its number and the errno behind it.
struct LastFailure {
  std::int32_t code;
  int err;
};
thread_local LastFailure tLast{0, 0};

}  // namespace

bool FailWith(std::int32_t code, int err) {
  tLast = {code, err};
  return false;
}

std::int32_t LastError() { return tLast.code; }
std::int32_t LastCause() { return tLast.err; }

bool Fail(int err, const char* path) { return FailWith(WindowsErrorFromErrno(err, path), err); }

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
  return FailWith(PathError(why, path), why.err);
}

// Resolves the folder part of name (trusted links only) into spot; on
// failure leaves the Windows number and gives false.
bool SpotOf(const char* name, PathSpot* spot, PosixName* path) {
  *path = ToPosix(name);
  if (!path->ok) return Fail(ENAMETOOLONG);
  PathFailure why{};
  if (!ResolveParent(AT_FDCWD, path->text, spot, &why)) return FailPath(why, path->text);
  return true;
}

namespace {

int OpenFlags(FileAccess access, FileCreation creation) {
  // Never blocking: a FIFO or a device must not hold the open up. Never
  // emptying before the checks below: O_TRUNC comes after them.
  int flags = (access == FileAccess::kRead ? O_RDONLY : O_RDWR) | O_NONBLOCK |
              O_NOCTTY;
  if (creation == FileCreation::kCreateAlways) flags |= O_CREAT;
  if (creation == FileCreation::kCreateNew) flags |= O_CREAT | O_EXCL;
  return flags;
}

// New files start open to their owner only; the archiving engine then
// gives an archive its log's access.
constexpr mode_t kNewFileMode = 0600;

OsHandle FailedOpen(const PathFailure& why, int folder, const char* name,
                    const char* path) {
  struct stat info {};
  if (why.err == EEXIST &&
      fstatat(folder, name, &info, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(info.st_mode)) {
    Fail(EISDIR);
  } else if (why.err == EEXIST) {
    FailWith(kErrFileExists, EEXIST);
  } else if (why.err == ENXIO) {
    FailWith(kErrFileNotFound, ENXIO);  // a socket: nothing to open
  } else {
    FailPath(why, path);
  }
  return kInvalidHandle;
}

OsHandle OpenInSpot(PathSpot* spot, FileAccess access, FileCreation creation,
                    const char* path) {
  PathFailure why{};
  int fd;
  do {
    fd = OpenAtSpot(spot, OpenFlags(access, creation), kNewFileMode, &why);
  } while (fd < 0 && why.err == EINTR);
  if (fd < 0) return FailedOpen(why, spot->folder, spot->name.c_str(), path);
  return CheckOpened(fd, access, creation);
}

}  // namespace

OsHandle CheckOpened(int fd, FileAccess access, FileCreation creation) {
  struct stat info {};
  std::int32_t refused = 0;
  int err = 0;  // the system's reason, where a call of its failed
  if (fstat(fd, &info) != 0) {
    err = errno;
  } else if (S_ISDIR(info.st_mode)) {
    refused = kErrAccessDenied;
    err = EISDIR;
  } else if (access == FileAccess::kRead && !S_ISREG(info.st_mode)) {
    // FIFOs, sockets and devices are not logs.
    refused = kErrFileNotFound;
  } else if (access == FileAccess::kReadWrite && S_ISREG(info.st_mode) &&
             NoWritePermission(info)) {
    // Windows refuses write access to a read-only file even to an
    // administrator; root would otherwise get it here.
    refused = kErrAccessDenied;
    err = EACCES;
  } else if (creation == FileCreation::kCreateAlways && S_ISREG(info.st_mode) &&
             ftruncate(fd, 0) != 0) {
    err = errno;
  } else if (!S_ISREG(info.st_mode)) {
    // O_NONBLOCK changes nothing for a disk file; elsewhere it must go.
    const int status = fcntl(fd, F_GETFL);
    if (status < 0 || fcntl(fd, F_SETFL, status & ~O_NONBLOCK) != 0)
      err = errno;
  }
  if (refused == 0 && err != 0) refused = WindowsErrorFromErrno(err, nullptr);
  if (refused != 0) {
    close(fd);
    FailWith(refused, err);
    return kInvalidHandle;
  }
  return fd;
}

namespace {

int OpenEntry(int folder, const char* name, int flags) {
  int fd;
  do {
    fd = openat(folder, name, flags | O_NOFOLLOW | O_CLOEXEC, kNewFileMode);
  } while (fd < 0 && errno == EINTR);
  return fd;
}
}  // namespace

// Reading a log to archive it is no use of it: its access time stays, as
// backup tools leave it, and the read costs its inode no update. Only the
// file's owner, or root, may ask that; a caller that opens many files
// keeps *keepAccessTime, which a refusal clears, so that it stops asking.
int OpenAsIn(int folder, const char* name, FileAccess access, FileCreation creation,
             bool* keepAccessTime) {
  const int flags = OpenFlags(access, creation);
  const bool keep = access == FileAccess::kRead && *keepAccessTime;
  int fd = OpenEntry(folder, name, keep ? flags | O_NOATIME : flags);
  if (fd < 0 && errno == EPERM && keep) {
    *keepAccessTime = false;
    fd = OpenEntry(folder, name, flags);
  }
  return fd;
}

OsHandle OpenInFolder(int folder, const char* name, FileAccess access,
                      FileCreation creation) {
  const int flags = OpenFlags(access, creation);
  bool keepAccessTime = true;
  const int fd = OpenAsIn(folder, name, access, creation, &keepAccessTime);
  if (fd >= 0) return CheckOpened(fd, access, creation);
  // A link at the end (refused by O_NOFOLLOW, or found by O_EXCL): the
  // one-step resolution decides whether it may be followed.
  if (errno == ELOOP || (errno == EEXIST && (flags & O_EXCL) != 0)) {
    PathSpot spot{fcntl(folder, F_DUPFD_CLOEXEC, 0), name};
    if (spot.folder < 0) {
      Fail(errno);
      return kInvalidHandle;
    }
    const OsHandle file = OpenInSpot(&spot, access, creation, nullptr);
    ReleaseSpot(&spot);
    return file;
  }
  return FailedOpen(PathFailure{errno, false}, folder, name, nullptr);
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
bool WriteAll(int fd, const void* data, std::uint32_t count) {
  const auto* bytes = static_cast<const char*>(data);
  std::uint32_t written = 0;
  while (written < count) {
    const ssize_t put = write(fd, bytes + written, count - written);
    if (put < 0) {
      if (errno == EINTR) continue;
      return Fail(errno);
    }
    if (put == 0) return Fail(ENOSPC);
    written += static_cast<std::uint32_t>(put);
  }
  return true;
}

bool WriteFilePosix(OsHandle file, const void* buffer, std::uint32_t size,
                    std::uint32_t* done) {
  if (done != nullptr) *done = 0;
  if (!WriteAll(static_cast<int>(file), buffer, size)) return false;
  if (done != nullptr) *done = size;
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
  if (close(static_cast<int>(handle)) != 0 && errno != EINTR) return Fail(errno);
  return true;
}

FileKind KindOf(mode_t mode) {
  if (S_ISREG(mode)) return FileKind::kDisk;
  if (S_ISCHR(mode) || S_ISFIFO(mode) || S_ISSOCK(mode)) return FileKind::kCharacter;
  return FileKind::kUnknown;
}

FileKind FileTypePosix(OsHandle handle) {
  struct stat info {};
  if (!InfoOf(static_cast<int>(handle), &info)) return FileKind::kUnknown;
  return KindOf(info.st_mode);
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

}  // namespace quilbo::posix

#endif  // !_WIN32
