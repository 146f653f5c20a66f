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

bool DeleteFilePosix(const char* name) {
  PathSpot spot{-1, {}};
  PosixName path;
  if (!SpotOf(name, &spot, &path)) return false;
  const bool ok = DeleteEntry(spot.folder, spot.name.c_str(), path.text);
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

// The mode a file copied from model gets: model's permission bits, and
// its owner may always write it: an archive copied from a read-only log
// would otherwise count as read-only and refuse every later append.
mode_t CopiedMode(const struct stat& model) {
  return static_cast<mode_t>((model.st_mode & 0777) | S_IWUSR);
}

// What fd's open found, or asks the system.
bool InfoOf(int fd, struct stat* info) {
  return OpenedInfo(fd, info) || fstat(fd, info) == 0 || Fail(errno);
}

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

// Links the unnamed file fd as name in folder. AT_EMPTY_PATH needs a
// privilege; the file's entry in /proc does not.
bool LinkUnnamed(int fd, int folder, const char* name) {
  if (linkat(fd, "", folder, name, AT_EMPTY_PATH) == 0) return true;
  char self[40];
  std::snprintf(self, sizeof self, "/proc/self/fd/%d", fd);
  return linkat(AT_FDCWD, self, folder, name, AT_SYMLINK_FOLLOW) == 0;
}

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
bool CreationGivesAccess(int folder, const struct stat& model, mode_t mode) {
  static const uid_t user = geteuid();
  if (model.st_uid != user || (mode & RunUmask()) != 0) return false;
  FolderGift gift{};
  return FolderGiftOf(folder, &gift) && gift.group == model.st_gid && gift.plainModes;
}

}  // namespace

// The file is made unnamed (O_TMPFILE), given its access and first bytes,
// and only then linked under its name: no moment, and no crash, shows the
// name with other access or without those bytes. A file without first
// bytes whose creation itself gives it that access (the common case: the
// run's own logs) gets its name at once, in one call. File systems without
// unnamed files get the name at once, open to the owner only until the
// access is given.
OsHandle CreateAsIn(int folder, const char* name, OsHandle model, const void* data,
                    std::uint32_t count, const char* path) {
  struct stat access {};
  if (!InfoOf(static_cast<int>(model), &access)) return kInvalidHandle;
  const int namedFlags = O_RDWR | O_CREAT | O_EXCL | O_NOCTTY | O_NOFOLLOW | O_CLOEXEC;
  if (count == 0 && CreationGivesAccess(folder, access, CopiedMode(access))) {
    const int fd = openat(folder, name, namedFlags, CopiedMode(access));
    if (fd >= 0) return fd;
    if (errno == EEXIST) {
      tLastError = ExistsError(folder, name);
    } else {
      Fail(errno, path);
    }
    return kInvalidHandle;
  }
  int fd = openat(folder, ".", O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
  const bool named = fd < 0;
  if (named) fd = openat(folder, name, namedFlags, 0600);
  bool ok = fd >= 0;
  if (!ok) {
    if (errno == EEXIST) {
      tLastError = ExistsError(folder, name);
    } else {
      Fail(errno, path);
    }
  } else if (!CopyAccess(access, fd) || !WriteAll(fd, data, count)) {
    ok = false;
  } else if (!named && !LinkUnnamed(fd, folder, name)) {
    ok = false;
    if (errno == EEXIST) {
      tLastError = ExistsError(folder, name);
    } else {
      Fail(errno, path);
    }
  }
  if (!ok && fd >= 0) {
    const std::int32_t error = tLastError;
    if (named) unlinkat(folder, name, 0);
    close(fd);
    tLastError = error;
    fd = -1;
  }
  return ok ? fd : kInvalidHandle;
}

OsHandle CreateFileAsPosix(const char* name, OsHandle model, const void* data,
                           std::uint32_t count) {
  PathSpot spot{-1, {}};
  PosixName path;
  if (!SpotOf(name, &spot, &path)) return kInvalidHandle;
  const OsHandle file = CreateAsIn(spot.folder, spot.name.c_str(), model, data, count, path.text);
  ReleaseSpot(&spot);
  return file;
}

}  // namespace quilbo::posix

#endif  // !_WIN32
