// POSIX deletion of a group of logs whose archives are on the disk.
//
// A log that another process holds open is not deleted, as on Windows,
// where the writer's open does not share deletion: a write lease is granted
// only while nobody else has the file open, and it makes a later open by
// another process wait until it is given back. Where leases are not to be
// had, a log whose size is no longer the size copied is kept. The size is
// checked under the lease too, for a writer that opened, wrote and closed
// after the copy ended.
//
// An open by another process that found the name just before the deletion
// would go on, once the lease is given back, with the deleted file, and its
// lines would be lost. So each log is first moved aside, to AsideName(log,
// bytes archived): opens that start after that create a new log, and one
// that had already found the name shows as a lease being broken during one
// short pause, shared by the whole group. Such a log goes back under its
// name and stays; the others are removed. A run that dies in between
// leaves the aside name, which the next run recognises: it archives what a
// writer added after the bytes the name records, then deletes it.

#ifndef _WIN32

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <ctime>
#include <string>
#include <string_view>
#include <vector>

#include "platform/aside_name.h"
#include "platform/errno_map.h"
#include "platform/posix_internal.h"

namespace quilbo::posix {

namespace {

// How long an open that found a name before it went aside may take to
// reach the lease.
constexpr long kPauseNanoseconds = 1000000;

bool Rename(int folder, const std::string& from, const std::string& to) {
  return renameat2(folder, from.c_str(), folder, to.c_str(), RENAME_NOREPLACE) == 0;
}

bool SameFile(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// Whether nobody has begun to open the leased file since the lease.
bool LeaseIntact(int fd) { return fcntl(fd, F_GETLEASE) == F_WRLCK; }

std::int32_t Unlink(int folder, const std::string& name) {
  if (unlinkat(folder, name.c_str(), 0) == 0) return 0;
  Fail(errno);
  return tLastError;
}

// A log that is already aside (an earlier run's) is named only by this
// program, so nobody opens it anew: it is removed at once (see RemoveNamed),
// or, when it must stay, renamed to record the bytes archived now.
std::int32_t RemoveAside(int folder, const LogRemoval& log, std::string_view base,
                         std::int64_t recorded, bool keep) {
  if (!keep) return Unlink(folder, log.name);
  if (log.copiedSize >= 0 && log.copiedSize != recorded)
    Rename(folder, log.name, AsideName(base, log.copiedSize));
  return kErrSharingViolation;
}

// Without the move aside: the log goes at once, checked under its name.
std::int32_t RemoveNamed(int folder, const LogRemoval& log, bool leased, bool held) {
  struct stat named {};
  struct stat open {};
  if (fstatat(folder, log.name, &named, AT_SYMLINK_NOFOLLOW) != 0) {
    Fail(errno);
    return tLastError;
  }
  // Removing a link loses no text: the file it leads to stays.
  if (S_ISLNK(named.st_mode)) return Unlink(folder, log.name);
  if (!S_ISREG(named.st_mode) || NoWritePermission(named)) return kErrAccessDenied;
  if (held || fstat(static_cast<int>(log.file), &open) != 0 || !SameFile(open, named) ||
      (!leased && log.copiedSize >= 0 && open.st_size != log.copiedSize))
    return kErrSharingViolation;
  return Unlink(folder, log.name);
}

// The first step of one log: everything but the final removal of a log
// that went aside, whose name is then in *aside.
std::int32_t Prepare(int folder, LogRemoval& log, const FileIdentity* opened, std::string* aside) {
  const int fd = static_cast<int>(log.file);
  const std::string name(log.name);
  if (name.empty() || name.find('/') != std::string::npos) return kErrInvalidName;
  const bool leased = fcntl(fd, F_SETLEASE, F_WRLCK) == 0;
  const bool held = !leased && (errno == EAGAIN || errno == EBUSY);
  std::string_view base;
  std::int64_t recorded = 0;
  if (ParseAsideName(name, &base, &recorded)) {
    struct stat open {};
    const bool keep = held || fstat(fd, &open) != 0 ||
                      (log.copiedSize >= 0 && open.st_size != log.copiedSize);
    if (!keep) return RemoveNamed(folder, log, leased, false);
    return RemoveAside(folder, log, base, recorded, true);
  }
  // Past the end marker nothing is ever archived: no writer can lose a
  // line there. Without a lease there is no pause that could tell.
  if (!leased || log.copiedSize < 0) return RemoveNamed(folder, log, leased, held);
  // The identity the open found; the size is checked on what went aside.
  struct stat open {};
  if (opened != nullptr) {
    open.st_dev = static_cast<dev_t>(opened->volume);
    open.st_ino = static_cast<ino_t>(opened->index);
  } else if (!InfoOf(fd, &open)) {
    return kErrSharingViolation;
  }
  *aside = AsideName(name, log.copiedSize);
  if (aside->size() > NAME_MAX || !Rename(folder, name, *aside)) {
    // No room for the name, or no such rename here: remove it directly.
    aside->clear();
    return RemoveNamed(folder, log, leased, false);
  }
  // What went aside may not be the log copied: a link to it (which goes,
  // its target stays), or a file that took the name meanwhile (which comes
  // back), or one that became read-only or grew since its copy (which
  // stays: the lease keeps writers out only from now on).
  struct stat moved {};
  std::int32_t kept = kErrSharingViolation;
  if (fstatat(folder, aside->c_str(), &moved, AT_SYMLINK_NOFOLLOW) == 0) {
    if (S_ISLNK(moved.st_mode)) {
      const std::string link = *aside;
      aside->clear();
      return Unlink(folder, link);
    }
    if (SameFile(moved, open)) {
      if (NoWritePermission(moved)) {
        kept = kErrAccessDenied;
      } else if (moved.st_size == log.copiedSize) {
        return 0;
      }
    }
  }
  Rename(folder, *aside, name);
  aside->clear();
  return kept;
}

// The last step of a log that went aside, after the pause.
std::int32_t Finish(int folder, const LogRemoval& log, const std::string& aside) {
  if (LeaseIntact(static_cast<int>(log.file))) return Unlink(folder, aside);
  // Being opened: back under its name, unless a new log took the name
  // meanwhile; then the aside name stays for the next run to finish.
  Rename(folder, aside, log.name);
  return kErrSharingViolation;
}

}  // namespace

bool RemoveLogsAtPosix(OsHandle handle, LogRemoval* logs, std::size_t count) {
  const bool all = RemoveLogsIn(static_cast<int>(handle), logs, count, nullptr);
  CloseLogs(logs, count);
  if (!all) tLastError = kErrSharingViolation;
  return all;
}

bool RemoveLogsIn(int folder, LogRemoval* logs, std::size_t count, const FileIdentity* opened) {
  std::vector<std::string> asides(count);
  bool paused = false;
  for (std::size_t i = 0; i < count; ++i) {
    logs[i].error = Prepare(folder, logs[i], opened != nullptr ? &opened[i] : nullptr, &asides[i]);
    if (!asides[i].empty() && !paused) paused = true;
  }
  if (paused) {
    const timespec pause{0, kPauseNanoseconds};
    nanosleep(&pause, nullptr);
  }
  bool all = true;
  for (std::size_t i = 0; i < count; ++i) {
    if (!asides[i].empty()) logs[i].error = Finish(folder, logs[i], asides[i]);
    if (logs[i].error != 0) all = false;
  }
  return all;
}

}  // namespace quilbo::posix

#endif  // !_WIN32
