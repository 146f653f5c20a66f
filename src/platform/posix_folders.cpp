// POSIX folders opened once per run, and the steps that work inside them:
// each reaches its entry with one call relative to the folder's
// descriptor, so it costs no resolution from the top and always lands in
// the folder whose links were checked when it was opened.

#ifndef _WIN32

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "platform/errno_map.h"
#include "platform/posix_internal.h"
#include "platform/posix_path.h"

namespace quilbo::posix {

namespace {

// One entry's name: a found name is never split, so a '/' in it (or no
// name at all) can only be a mistake.
bool IsEntryName(const char* name) {
  if (name[0] != '\0' && std::strchr(name, '/') == nullptr) return true;
  return FailWith(kErrInvalidName, name[0] == '\0' ? ENOENT : EINVAL);
}

// The entry itself (a link not followed): false with the error stored.
bool StatEntry(int folder, const char* name, struct stat* info) {
  return fstatat(folder, name, info, AT_SYMLINK_NOFOLLOW) == 0 || Fail(errno);
}

// What the entry leads to, trusted links followed; files and folders only.
bool StatFollowed(int folder, const char* name, struct stat* info) {
  if (!IsEntryName(name) || !StatEntry(folder, name, info)) return false;
  if (S_ISLNK(info->st_mode)) {
    std::int32_t code = 0;
    if (!StatThroughLinks(folder, name, info, &code)) return false;
  }
  if (IsEntryKind(*info)) return true;
  return FailWith(kErrFileNotFound, 0);
}

}  // namespace

OsHandle OpenFolderPosix(const char* name) {
  const PosixName path = ToPosix(name);
  if (!path.ok) {
    Fail(ENAMETOOLONG);
    return kInvalidHandle;
  }
  PathFailure why{};
  const int resolved = ResolvePath(AT_FDCWD, path.text[0] == '\0' ? "." : path.text, &why);
  if (resolved < 0) {
    // What an open inside a missing folder reports.
    FailWith(why.err == ENOENT ? kErrPathNotFound : PathError(why, nullptr), why.err);
    return kInvalidHandle;
  }
  // Readable, so that it can be flushed and locked, not only walked from.
  const int folder = openat(resolved, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  const int err = errno;
  close(resolved);
  if (folder < 0) {
    Fail(err);
    return kInvalidHandle;
  }
  struct stat info {};
  auto* opened = static_cast<PosixFolder*>(std::calloc(1, sizeof(PosixFolder)));
  if (opened == nullptr || fstat(folder, &info) != 0) {
    const int failed = opened == nullptr ? ENOMEM : errno;
    std::free(opened);
    close(folder);
    Fail(failed);
    return kInvalidHandle;
  }
  *opened = PosixFolder{folder, info.st_dev, info.st_ino, false, {}};
  return reinterpret_cast<OsHandle>(opened);
}

bool CloseFolderPosix(OsHandle folder) {
  const int fd = FolderOf(folder).fd;
  std::free(&FolderOf(folder));
  return close(fd) == 0 || errno == EINTR || Fail(errno);
}

bool FolderGiftOf(PosixFolder& folder, FolderGift* gift) {
  if (!folder.giftKnown) {
    struct stat place {};
    if (fstat(folder.fd, &place) != 0) return false;
    folder.gift.group = (place.st_mode & S_ISGID) != 0 ? place.st_gid : getegid();
    folder.gift.plainModes = fgetxattr(folder.fd, "system.posix_acl_default", nullptr, 0) < 0 &&
                             (errno == ENODATA || errno == EOPNOTSUPP);
    folder.giftKnown = true;
  }
  *gift = folder.gift;
  return true;
}

OsHandle CreateFileAtPosix(OsHandle folder, const char* name, FileAccess access,
                           FileCreation creation) {
  if (!IsEntryName(name)) return kInvalidHandle;
  return OpenInFolder(FolderOf(folder).fd, name, access, creation);
}

OsHandle CreateFileAsAtPosix(OsHandle folder, const char* name, OsHandle model,
                             const void* data, std::uint32_t count) {
  if (!IsEntryName(name)) return kInvalidHandle;
  return CreateAsIn(FolderOf(folder), name, model, data, count, nullptr);
}

OsHandle CreateUnnamedAtPosix(OsHandle folder, OsHandle model) {
  return CreateUnnamedIn(FolderOf(folder).fd, model);
}

bool NameFileAtPosix(OsHandle folder, OsHandle file, const char* name) {
  return IsEntryName(name) && NameFileIn(FolderOf(folder).fd, file, name);
}

bool EntryInfoAtPosix(OsHandle folder, const char* name, bool followLinks, FileInfo* info) {
  struct stat found {};
  const int fd = FolderOf(folder).fd;
  if (followLinks ? !StatFollowed(fd, name, &found)
                  : !IsEntryName(name) || !StatEntry(fd, name, &found))
    return false;
  DescribeEntry(found, info);
  return true;
}

bool MoveFileAtPosix(OsHandle fromFolder, const char* from, OsHandle toFolder, const char* to,
                     bool replace) {
  if (!IsEntryName(from) || !IsEntryName(to)) return false;
  const int source = FolderOf(fromFolder).fd;
  const int target = FolderOf(toFolder).fd;
  if (!replace) return MoveBetween(PathSpot{source, from}, PathSpot{target, to});
  return renameat(source, from, target, to) == 0 || Fail(errno);
}

// The name itself is removed, a link never followed: deleting a link to a
// log removes the link.
bool DeleteEntry(int folder, const char* name, const char* path) {
  struct stat info {};
  if (fstatat(folder, name, &info, AT_SYMLINK_NOFOLLOW) != 0) return Fail(errno, path);
  if (S_ISDIR(info.st_mode) || (!S_ISLNK(info.st_mode) && NoWritePermission(info))) {
    return Fail(S_ISDIR(info.st_mode) ? EISDIR : EACCES);
  }
  return unlinkat(folder, name, 0) == 0 || Fail(errno, path);
}

bool DeleteFileAtPosix(OsHandle folder, const char* name) {
  return IsEntryName(name) && DeleteEntry(FolderOf(folder).fd, name, nullptr);
}

}  // namespace quilbo::posix

#endif  // !_WIN32
