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

}  // namespace quilbo::posix

#endif  // !_WIN32
