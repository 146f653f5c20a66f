// POSIX folder locks and flushes.

#ifndef _WIN32

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/errno_map.h"
#include "platform/posix_internal.h"
#include "platform/posix_path.h"

namespace quilbo::posix {

namespace {

// flock has no time limit: a limited wait tries again every few
// milliseconds.
bool TakeLock(int fd, std::uint32_t waitMs, int* err) {
  if (waitMs == kWaitForever) {
    while (flock(fd, LOCK_EX) != 0) {
      if (errno != EINTR) {
        *err = errno;
        return false;
      }
    }
    return true;
  }
  constexpr std::uint32_t kStepMs = 10;
  for (std::uint32_t waited = 0;; waited += kStepMs) {
    if (flock(fd, LOCK_EX | LOCK_NB) == 0) return true;
    if (errno != EWOULDBLOCK && errno != EINTR) {
      *err = errno;
      return false;
    }
    if (waited >= waitMs) {
      *err = 0;
      return false;
    }
    usleep(kStepMs * 1000);
  }
}

}  // namespace

OsHandle LockFolderPosix(const char* name, std::uint32_t waitMs) {
  // Reached as every other name is: another user's link is not followed.
  PathSpot spot{-1, {}};
  PosixName path;
  if (!SpotOf(name, &spot, &path)) return kInvalidHandle;
  PathFailure why{};
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
    FailWith(stated ? kErrPathNotFound : WindowsErrorFromErrno(statError, nullptr),
             stated ? ENOTDIR : statError);
    return kInvalidHandle;
  }
  // The lock belongs to the open folder, so it follows the folder's
  // identity, and it goes with the last descriptor when the process dies.
  int err = 0;
  if (!TakeLock(fd, waitMs, &err)) {
    close(fd);
    if (err != 0)
      Fail(err);
    else
      FailWith(kErrTimeout, 0);
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

namespace {

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

}  // namespace

bool FlushFilePosix(OsHandle file) { return Flush(file); }

// A new or renamed name is durable only once its folder is flushed.
bool FlushFolderPosix(OsHandle lock) { return Flush(lock); }

// One flush of the folder's file system writes every named file, and
// every name made in the folder, through to the disk: far cheaper than a
// flush of each file and of the folder, and as sound. A system without
// syncfs flushes each file, then the folder.
bool FlushFilesAtPosix(OsHandle folder, const char* const* names, std::size_t count) {
  const int fd = FolderOf(folder).fd;
  if (syncfs(fd) == 0) return true;
  if (errno != ENOSYS) return Fail(errno);
  for (std::size_t i = 0; i < count; ++i) {
    const OsHandle file = OpenInFolder(fd, names[i], FileAccess::kRead, FileCreation::kOpenExisting);
    if (file == kInvalidHandle) return false;
    const bool flushed = Flush(file);
    close(static_cast<int>(file));
    if (!flushed) return false;
  }
  return Flush(fd);
}

}  // namespace quilbo::posix

#endif  // !_WIN32
