// POSIX leases, and what an entry or an open handle is.

#ifndef _WIN32

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>

#include "platform/posix_internal.h"

namespace quilbo::posix {

void DescribeEntry(const struct stat& info, FileInfo* out) {
  std::uint32_t attributes = kAttrArchive;
  if (S_ISLNK(info.st_mode)) attributes |= kAttrLink;
  if (S_ISDIR(info.st_mode)) attributes = kAttrDirectory;
  if (!S_ISLNK(info.st_mode) && NoWritePermission(info)) attributes |= kAttrReadOnly;
  out->attributes = attributes;
  out->size = S_ISDIR(info.st_mode) ? 0 : static_cast<std::uint64_t>(info.st_size);
  out->lastWriteTime = ToFileTime(info.st_mtim);
  out->identity = FileIdentity{static_cast<std::uint64_t>(info.st_dev),
                               static_cast<std::uint64_t>(info.st_ino)};
  out->kind = KindOf(info.st_mode);
}

bool FileInfoOfPosix(OsHandle file, FileInfo* info) {
  struct stat found {};
  if (fstat(static_cast<int>(file), &found) != 0) return Fail(errno);
  DescribeEntry(found, info);
  return true;
}

// EAGAIN: another process has the file open. EINVAL (a file system without
// leases) and EACCES (a file of another user, without the right to lease
// it) both mean no lease is to be had here.
bool TakeLeasePosix(OsHandle file) {
  if (fcntl(static_cast<int>(file), F_SETLEASE, F_WRLCK) == 0) return true;
  const int err = errno;
  if (err == EAGAIN || err == EBUSY) {
    FailWith(kErrSharingViolation, err);
  } else if (err == EINVAL || err == EACCES || err == ENOLCK || err == EPERM) {
    FailWith(kErrNotSupported, err);
  } else {
    Fail(err);
  }
  return false;
}

// An open by another process turns the write lease into a lease being
// broken (F_UNLCK pending): no longer F_WRLCK.
bool LeaseHeldPosix(OsHandle file) {
  const int lease = fcntl(static_cast<int>(file), F_GETLEASE);
  if (lease < 0) return Fail(errno);
  return lease == F_WRLCK;
}

bool DropLeasePosix(OsHandle file) {
  return fcntl(static_cast<int>(file), F_SETLEASE, F_UNLCK) == 0 || Fail(errno);
}

// No sharing modes here: a deletion leases the log instead.
OsHandle OpenToDeleteAtPosix(OsHandle /*folder*/, const char* /*name*/) {
  FailWith(kErrNotSupported, 0);
  return kInvalidHandle;
}

}  // namespace quilbo::posix

#endif  // !_WIN32
