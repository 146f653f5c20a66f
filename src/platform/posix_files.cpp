// POSIX files and handles: open and create, transfers, positions, the
// handle's type, the standard handles; the shared error helpers.

#ifndef _WIN32

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "platform/errno_map.h"
#include "platform/posix_internal.h"
#include "platform/posix_path.h"

namespace quilbo::posix {

thread_local std::int32_t tLastError = 0;

bool Fail(int err, const char* path) {
  tLastError = WindowsErrorFromErrno(err, path);
  RememberErrno(err, tLastError);
  return false;
}

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
  RememberErrno(why.err, tLastError);
  return false;
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

// What the open of a handle the core holds found, so that asking again
// costs no call: a handle's kind never changes while it is open, and a
// log's access and owner, as its open found them, are the model of its
// new archive. A handle is forgotten when it closes. Kept by descriptor,
// so that a whole group of logs held open for deletion is still known.
namespace {
struct OpenedFacts {
  bool known;
  mode_t mode;
  uid_t uid;
  gid_t gid;
  dev_t dev;
  ino_t ino;
};
constexpr int kOpenedKept = 1 << 16;  // descriptors above are asked again
thread_local std::vector<OpenedFacts> tOpened;  // grows with the highest descriptor

OpenedFacts* FactsOf(int fd) {
  const auto at = static_cast<std::size_t>(fd);
  return fd >= 0 && at < tOpened.size() ? &tOpened[at] : nullptr;
}
}  // namespace

void RememberOpened(int fd, const struct stat& info) {
  if (fd < 0 || fd >= kOpenedKept) return;
  if (FactsOf(fd) == nullptr) tOpened.resize(static_cast<std::size_t>(fd) + 1);
  *FactsOf(fd) = OpenedFacts{true, info.st_mode, info.st_uid, info.st_gid, info.st_dev, info.st_ino};
}

bool OpenedInfo(int fd, struct stat* info) {
  const OpenedFacts* found = FactsOf(fd);
  if (found == nullptr || !found->known) return false;
  const OpenedFacts& facts = *found;
  *info = {};
  info->st_mode = facts.mode;
  info->st_uid = facts.uid;
  info->st_gid = facts.gid;
  info->st_dev = facts.dev;
  info->st_ino = facts.ino;
  return true;
}

namespace {
// The open folders that files were created in, and what creating a file
// there gives it; found at the first creation, kept while open.
struct FolderFacts {
  int fd;
  FolderGift gift;
};
thread_local FolderFacts tFolders[2] = {{-1, {}}, {-1, {}}};
}  // namespace

void CloseOpened(int fd) {
  ForgetOpened(fd);
  close(fd);
}

bool FolderGiftOf(int folder, FolderGift* gift) {
  for (const FolderFacts& facts : tFolders) {
    if (facts.fd == folder && folder >= 0) {
      *gift = facts.gift;
      return true;
    }
  }
  struct stat place {};
  if (fstat(folder, &place) != 0) return false;
  gift->group = (place.st_mode & S_ISGID) != 0 ? place.st_gid : getegid();
  gift->plainModes = fgetxattr(folder, "system.posix_acl_default", nullptr, 0) < 0 &&
                     (errno == ENODATA || errno == EOPNOTSUPP);
  FolderFacts& kept = tFolders[tFolders[0].fd < 0 ? 0 : 1];
  kept = FolderFacts{folder, *gift};
  return true;
}

void ForgetOpened(int fd) {
  if (OpenedFacts* facts = FactsOf(fd)) facts->known = false;
  for (FolderFacts& facts : tFolders)
    if (facts.fd == fd) facts.fd = -1;
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
    tLastError = kErrAccessDenied;
  } else if (why.err == EEXIST) {
    tLastError = kErrFileExists;
  } else if (why.err == ENXIO) {
    tLastError = kErrFileNotFound;  // a socket: nothing to open
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
  } else if (!S_ISREG(info.st_mode)) {
    // O_NONBLOCK changes nothing for a disk file; elsewhere it must go.
    const int status = fcntl(fd, F_GETFL);
    if (status < 0 || fcntl(fd, F_SETFL, status & ~O_NONBLOCK) != 0)
      refused = WindowsErrorFromErrno(errno, nullptr);
  }
  if (refused != 0) {
    close(fd);
    tLastError = refused;
    return kInvalidHandle;
  }
  RememberOpened(fd, info);
  return fd;
}

// Reading a log to archive it is no use of it: its access time stays, as
// backup tools leave it, and the read costs its inode no update. Only the
// owner, or root, may ask that; once refused, the run stops asking.
namespace {
thread_local bool tKeepAccessTime = true;

int OpenEntry(int folder, const char* name, int flags) {
  int fd;
  do {
    fd = openat(folder, name, flags | O_NOFOLLOW | O_CLOEXEC, kNewFileMode);
  } while (fd < 0 && errno == EINTR);
  return fd;
}
}  // namespace

int OpenAsIn(int folder, const char* name, FileAccess access, FileCreation creation) {
  const int flags = OpenFlags(access, creation);
  const bool keepAccessTime = access == FileAccess::kRead && tKeepAccessTime;
  int fd = OpenEntry(folder, name, keepAccessTime ? flags | O_NOATIME : flags);
  if (fd < 0 && errno == EPERM && keepAccessTime) {
    tKeepAccessTime = false;
    fd = OpenEntry(folder, name, flags);
  }
  return fd;
}

OsHandle OpenInFolder(int folder, const char* name, FileAccess access,
                      FileCreation creation) {
  if (access == FileAccess::kRead && creation == FileCreation::kOpenExisting) {
    const int held = TakeHeldEntry(folder, name);
    if (held >= 0) return held;
  }
  const int flags = OpenFlags(access, creation);
  const int fd = OpenAsIn(folder, name, access, creation);
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

OsHandle CreateFilePosix(const char* name, FileAccess access,
                         FileCreation creation) {
  PathSpot spot{-1, {}};
  PosixName path;
  if (!SpotOf(name, &spot, &path)) return kInvalidHandle;
  const OsHandle file = OpenInSpot(&spot, access, creation, path.text);
  ReleaseSpot(&spot);
  return file;
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
  ForgetOpened(static_cast<int>(handle));
  if (close(static_cast<int>(handle)) != 0 && errno != EINTR)
    return Fail(errno);
  return true;
}

void CloseDescriptors(int* fds, std::size_t count) {
  std::sort(fds, fds + count);
  for (std::size_t first = 0; first < count;) {
    std::size_t end = first + 1;
    while (end < count && fds[end] == fds[end - 1] + 1) ++end;
    for (std::size_t i = first; i < end; ++i) ForgetOpened(fds[i]);
    // A run of consecutive descriptors, as a walk's logs opened one after
    // another are, goes in one call.
    if (end - first == 1 || close_range(static_cast<unsigned>(fds[first]),
                                        static_cast<unsigned>(fds[end - 1]), 0) != 0) {
      for (std::size_t i = first; i < end; ++i) close(fds[i]);
    }
    first = end;
  }
}

namespace {
thread_local int tReadHandles[kReadHandlesHeld];
thread_local std::size_t tReadHandleCount = 0;
}  // namespace

bool CloseReadHandlePosix(OsHandle handle) {
  if (handle != kInvalidHandle) tReadHandles[tReadHandleCount++] = static_cast<int>(handle);
  if (tReadHandleCount == kReadHandlesHeld || (handle == kInvalidHandle && tReadHandleCount > 0)) {
    CloseDescriptors(tReadHandles, tReadHandleCount);
    tReadHandleCount = 0;
  }
  return true;
}

FileKind FileTypePosix(OsHandle handle) {
  struct stat info {};
  if (!InfoOf(static_cast<int>(handle), &info)) return FileKind::kUnknown;
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

}  // namespace quilbo::posix

#endif  // !_WIN32
