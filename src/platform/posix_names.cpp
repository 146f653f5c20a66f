// POSIX names: deleting files and logs, folders, moves, identities and the
// access of new files.

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

namespace {

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

}  // namespace

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

namespace {

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

}  // namespace

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

// A new file starts open to its owner only; here it gets the access of
// from: its owner and group where the process may set them (root), then
// its permission bits. Group bits are dropped when the group could not be
// given, so the file is never open to a group the original is not. Its
// owner may always write it: an archive copied from a read-only log would
// otherwise count as read-only and refuse every later append.
bool CopyAccess(int from, int to) {
  struct stat model {};
  struct stat info {};
  if (fstat(from, &model) != 0 || fstat(to, &info) != 0) return Fail(errno);
  if (info.st_uid != model.st_uid || info.st_gid != model.st_gid) {
    if (fchown(to, model.st_uid, model.st_gid) != 0)
      (void)!fchown(to, static_cast<uid_t>(-1), model.st_gid);
    if (fstat(to, &info) != 0) return Fail(errno);
  }
  mode_t mode = (model.st_mode & 0777) | S_IWUSR;
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

// The file is made unnamed (O_TMPFILE), given its access and first bytes,
// and only then linked under its name: no moment, and no crash, shows the
// name with other access or without those bytes. File systems without
// unnamed files get the name at once, open to the owner only until the
// access is given.
OsHandle CreateFileAsPosix(const char* name, OsHandle model, const void* data,
                           std::uint32_t count) {
  PathSpot spot{-1, {}};
  PosixName path;
  if (!SpotOf(name, &spot, &path)) return kInvalidHandle;
  const char* last = spot.name.c_str();
  int fd = openat(spot.folder, ".", O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
  const bool named = fd < 0;
  PathFailure why{};
  if (named) fd = OpenAtSpot(&spot, O_RDWR | O_CREAT | O_EXCL | O_NOCTTY, 0600, &why);
  bool ok = fd >= 0;
  if (!ok) {
    if (why.err == EEXIST) {
      tLastError = ExistsError(spot.folder, last);
    } else {
      FailPath(why, path.text);
    }
  } else if (!CopyAccess(static_cast<int>(model), fd) || !WriteAll(fd, data, count)) {
    ok = false;
  } else if (!named && !LinkUnnamed(fd, spot.folder, last)) {
    ok = false;
    if (errno == EEXIST) {
      tLastError = ExistsError(spot.folder, last);
    } else {
      Fail(errno, path.text);
    }
  }
  if (!ok && fd >= 0) {
    const std::int32_t error = tLastError;
    if (named) unlinkat(spot.folder, last, 0);
    close(fd);
    tLastError = error;
    fd = -1;
  }
  ReleaseSpot(&spot);
  return ok ? fd : kInvalidHandle;
}

bool MoveFileOverPosix(const char* from, const char* to, bool replace) {
  if (!replace) return MoveFilePosix(from, to);
  PathSpot source{-1, {}};
  PathSpot target{-1, {}};
  PosixName sourcePath;
  PosixName targetPath;
  bool ok = SpotOf(from, &source, &sourcePath) && SpotOf(to, &target, &targetPath);
  if (ok && renameat(source.folder, source.name.c_str(), target.folder,
                     target.name.c_str()) != 0)
    ok = Fail(errno, targetPath.text);
  ReleaseSpot(&source);
  ReleaseSpot(&target);
  return ok;
}

}  // namespace quilbo::posix

#endif  // !_WIN32
