// POSIX names: deleting files, folders, moves, identities and the access of
// new files.

#ifndef _WIN32

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <ctime>
#include <string>

#include "platform/errno_map.h"
#include "platform/posix_internal.h"
#include "platform/posix_path.h"

namespace quilbo::posix {

bool CreateDirectoryPosix(const char* name) {
  PathSpot spot{-1, {}};
  PosixName path;
  if (!SpotOf(name, &spot, &path)) return false;
  const bool ok = mkdirat(spot.folder, spot.name.c_str(), 0777) == 0 ||
                  Fail(errno, path.text);
  ReleaseSpot(&spot);
  return ok;
}

namespace {

// What a file system without the call answers (exFAT, FUSE mounts: no
// hard links, no RENAME_NOREPLACE).
bool Unsupported(int err) {
  return err == EPERM || err == EOPNOTSUPP || err == ENOSYS || err == EINVAL || err == EMLINK;
}

}  // namespace

bool MoveBetween(const PathSpot& from, const PathSpot& to) {
  const char* source = from.name.c_str();
  const char* target = to.name.c_str();
  if (renameat2(from.folder, source, to.folder, target, RENAME_NOREPLACE) == 0)
    return true;
  if (errno != EINVAL && errno != ENOSYS) return Fail(errno);
  // File systems without RENAME_NOREPLACE: a hard link also refuses to
  // replace an existing name.
  if (linkat(from.folder, source, to.folder, target, 0) == 0) {
    if (unlinkat(from.folder, source, 0) == 0) return true;
    const int err = errno;
    unlinkat(to.folder, target, 0);
    return Fail(err);
  }
  // Nor hard links (exFAT): no move here can refuse to replace, and the
  // caller decides what stands in for one.
  if (Unsupported(errno)) return FailWith(kErrNotSupported, errno);
  return Fail(errno);
}

// The mode a file copied from model gets: model's permission bits, and
// its owner may always write it: an archive copied from a read-only log
// would otherwise count as read-only and refuse every later append.
mode_t CopiedMode(const struct stat& model) {
  return static_cast<mode_t>((model.st_mode & 0777) | S_IWUSR);
}

bool InfoOf(int fd, struct stat* info) { return fstat(fd, info) == 0 || Fail(errno); }

// A new file starts open to its owner only; here it gets the access of
// model: its owner and group where the process may set them (root), then
// its permission bits. Group bits are dropped when the group could not be
// given, so the file is never open to a group the original is not.
bool CopyAccess(const struct stat& model, int to) {
  struct stat info {};
  if (fstat(to, &info) != 0) return Fail(errno);
  if (info.st_uid != model.st_uid || info.st_gid != model.st_gid) {
    if (fchown(to, model.st_uid, model.st_gid) != 0)
      (void)!fchown(to, static_cast<uid_t>(-1), model.st_gid);
    if (fstat(to, &info) != 0) return Fail(errno);
  }
  mode_t mode = CopiedMode(model);
  if (info.st_gid != model.st_gid) mode &= static_cast<mode_t>(~0070);
  if (fchmod(to, mode) != 0) return Fail(errno);
  return true;
}

namespace {

// The number for a name that exists: a folder is "access denied", as the
// emptying open reports it; another user's link is a link not followed.
std::int32_t ExistsError(int folder, const char* name) {
  struct stat info {};
  if (fstatat(folder, name, &info, AT_SYMLINK_NOFOLLOW) != 0) return kErrFileExists;
  if (S_ISDIR(info.st_mode)) return kErrAccessDenied;
  if (S_ISLNK(info.st_mode) && !TrustedLinkOwner(info.st_uid)) return kErrUntrustedLink;
  return kErrFileExists;
}

}  // namespace

namespace {

// The umask, read once: the run never changes it.
mode_t RunUmask() {
  static const mode_t mask = [] {
    const mode_t kept = umask(0077);
    umask(kept);
    return kept;
  }();
  return mask;
}

// Whether creating a file in folder with mode gives it exactly model's
// access: the run's user owns model, the folder gives new files model's
// group, the umask keeps every bit of mode, and no default ACL of the
// folder sets the bits instead of the umask.
bool CreationGivesAccess(PosixFolder& folder, const struct stat& model, mode_t mode) {
  static const uid_t user = geteuid();
  if (model.st_uid != user || (mode & RunUmask()) != 0) return false;
  FolderGift gift{};
  return FolderGiftOf(folder, &gift) && gift.group == model.st_gid && gift.plainModes;
}

}  // namespace

namespace {

// The Windows number for a creation of name that failed with err.
bool FailCreation(int err, int folder, const char* name, const char* path) {
  if (err != EEXIST) return Fail(err, path);
  return FailWith(ExistsError(folder, name), err);
}

// A new file under name, open to its owner only until access is given.
int CreateNamed(int folder, const char* name, mode_t mode, const char* path) {
  const int fd = openat(folder, name, O_RDWR | O_CREAT | O_EXCL | O_NOCTTY | O_NOFOLLOW | O_CLOEXEC, mode);
  if (fd < 0) FailCreation(errno, folder, name, path);
  return fd;
}

// Takes back a file made under name that failed before it was done; the
// failure stays the one stored.
void DropNamed(int folder, const char* name, int fd) {
  unlinkat(folder, name, 0);
  close(fd);
}

// fd, an unnamed file, under name; errno set on failure.
bool LinkUnnamed(int fd, int folder, const char* name) {
  // AT_EMPTY_PATH needs a privilege; the file's entry in /proc does not.
  if (linkat(fd, "", folder, name, AT_EMPTY_PATH) == 0) return true;
  char self[40];
  std::snprintf(self, sizeof self, "/proc/self/fd/%d", fd);
  return linkat(AT_FDCWD, self, folder, name, AT_SYMLINK_FOLLOW) == 0;
}

// An unnamed file (O_TMPFILE) of folder with the access of model; -1 on
// failure (its number stored), *unsupported telling a file system without
// such files.
int CreateUnnamed(int folder, const struct stat& model, bool* unsupported) {
  const int fd = openat(folder, ".", O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
  *unsupported = fd < 0 && (Unsupported(errno) || errno == EISDIR);
  if (fd < 0) {
    Fail(errno);
    return -1;
  }
  if (CopyAccess(model, fd)) return fd;
  close(fd);
  return -1;
}

// The bytes of from, from its start, into to.
bool CopyBytes(int from, int to) {
  char block[64 * 1024];
  for (off_t at = 0;;) {
    const ssize_t got = pread(from, block, sizeof block, at);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return Fail(errno);
    if (got == 0) return true;
    if (!WriteAll(to, block, static_cast<std::uint32_t>(got))) return false;
    at += got;
  }
}

}  // namespace

OsHandle CreateUnnamedIn(int folder, OsHandle model) {
  struct stat access {};
  if (!InfoOf(static_cast<int>(model), &access)) return kInvalidHandle;
  bool unsupported = false;
  const int fd = CreateUnnamed(folder, access, &unsupported);
  if (fd >= 0) return fd;
  if (unsupported) FailWith(kErrNotSupported, LastCause());
  return kInvalidHandle;
}

bool NameFileIn(int folder, OsHandle file, const char* name) {
  const int fd = static_cast<int>(file);
  if (LinkUnnamed(fd, folder, name)) return true;
  if (!Unsupported(errno)) return FailCreation(errno, folder, name, nullptr);
  // No hard links: a named copy, flushed as the file was.
  struct stat access {};
  if (!InfoOf(fd, &access)) return false;
  const int copy = CreateNamed(folder, name, 0600, nullptr);
  if (copy < 0) return false;
  if (!CopyAccess(access, copy) || !CopyBytes(fd, copy) || (fsync(copy) != 0 && !Fail(errno))) {
    DropNamed(folder, name, copy);
    return false;
  }
  return close(copy) == 0 || Fail(errno);
}

// The file is made unnamed (O_TMPFILE), given its access and first bytes,
// and only then linked under its name: no moment, and no crash, shows the
// name with other access or without those bytes. A file without first
// bytes whose creation itself gives it that access (the common case: the
// run's own logs) gets its name at once, in one call. File systems without
// unnamed files or hard links get the name at once, open to the owner only
// until the access is given.
OsHandle CreateAsIn(PosixFolder& place, const char* name, OsHandle model, const void* data,
                    std::uint32_t count, const char* path) {
  const int folder = place.fd;
  struct stat access {};
  if (!InfoOf(static_cast<int>(model), &access)) return kInvalidHandle;
  if (count == 0 && CreationGivesAccess(place, access, CopiedMode(access))) {
    const int fd = CreateNamed(folder, name, CopiedMode(access), path);
    return fd < 0 ? kInvalidHandle : fd;
  }
  bool unsupported = false;
  const int unnamed = CreateUnnamed(folder, access, &unsupported);
  if (unnamed >= 0) {
    const bool written = WriteAll(unnamed, data, count);
    if (written && LinkUnnamed(unnamed, folder, name)) return unnamed;
    const int err = errno;
    close(unnamed);
    if (!written) return kInvalidHandle;
    if (!Unsupported(err)) {
      FailCreation(err, folder, name, path);
      return kInvalidHandle;
    }
  } else if (!unsupported) {
    return kInvalidHandle;
  }
  const int fd = CreateNamed(folder, name, 0600, path);
  if (fd < 0) return kInvalidHandle;
  if (CopyAccess(access, fd) && WriteAll(fd, data, count)) return fd;
  DropNamed(folder, name, fd);
  return kInvalidHandle;
}

}  // namespace quilbo::posix

#endif  // !_WIN32
