// POSIX deletion of a group of logs whose archives are on the disk.
//
// A log that another process holds open is not deleted, as on Windows,
// where the writer's open does not share deletion: a write lease is granted
// only while nobody else has the file open, and it makes a later open by
// another process wait until it is given back. Where leases are not to be
// had, a log whose size is no longer the size copied is kept.
//
// An open by another process that found the name just before the deletion
// would go on, once the lease is given back, with the deleted file, and its
// lines would be lost. So each log is first moved aside, to its AsideName:
// opens that start after that create a new log, and one that had already
// found the name shows as a lease being broken during one short pause,
// shared by the whole group. Such a log goes back under its name and stays;
// where a writer has made a new log under the name meanwhile, what was
// added to the old one is archived by this run and it goes too (finish).
// The others are removed. Every step is a check and an exclusive move:
// where the file system has no exclusive move, the log stays, and says why.
#ifndef _WIN32

#include <chrono>
#include <thread>

#include "removal/removal.h"

namespace quilbo {

namespace {

// How long an open that found a name before it went aside may take to
// reach the lease.
constexpr auto kPause = std::chrono::milliseconds(1);
// How long a leftover (an aside name: nobody opens it anew) may stay open
// by a writer that found it in time before it is kept: such a writer adds
// its line and closes.
constexpr int kLeftoverWaits = 100;

std::int32_t Delete(OsHandle folder, const std::string& name, PendingRemoval& log) {
  return Os().deleteFileAt(folder, name.c_str()) ? 0 : KeepFailure(log);
}

// A leftover held open waits a moment for the writer to be done with it.
bool LeaseLeftover(OsHandle file) {
  const PlatformApi& os = Os();
  for (int wait = 0; wait < kLeftoverWaits; ++wait) {
    if (os.takeLease(file)) return true;
    if (os.lastError() != kErrSharingViolation) return false;
    std::this_thread::sleep_for(kPause);
  }
  return false;
}

// What stands under name must be the log as copied: a link goes (its
// target stays); anything else that is not the copied file, or has grown,
// stays. 0 when name may go. The copied file grown under an aside name is
// to be finished: what a writer added is archived first.
std::int32_t Check(OsHandle folder, const std::string& name, bool aside, PendingRemoval& log) {
  FileInfo named{};
  if (!Os().entryInfoAt(folder, name.c_str(), false, &named)) return KeepFailure(log);
  if ((named.attributes & kAttrLink) != 0) return 0;
  if ((named.attributes & (kAttrDirectory | kAttrReadOnly)) != 0) return kErrAccessDenied;
  if (!SameFile(named.identity, log.identity)) return kErrSharingViolation;
  if (log.copiedSize >= 0 && named.size != static_cast<std::uint64_t>(log.copiedSize)) {
    log.finish = aside && named.size > static_cast<std::uint64_t>(log.copiedSize);
    return kErrSharingViolation;
  }
  return 0;
}

// A file system without an exclusive move (exFAT: neither RENAME_NOREPLACE
// nor hard links): the aside name is the run's own, so a move that would
// replace a file is one someone made under that very name; it is looked
// for first. A log is never put back that way (a writer's new log could be
// replaced): one caught being opened is finished instead.
bool MoveAside(OsHandle folder, const std::string& log, const std::string& aside) {
  const PlatformApi& os = Os();
  if (os.moveFileAt(folder, log.c_str(), folder, aside.c_str(), false)) return true;
  if (os.lastError() != kErrNotSupported) return false;
  FileInfo there{};
  if (os.entryInfoAt(folder, aside.c_str(), false, &there)) {
    os.setLastError(kErrAlreadyExists);
    return false;
  }
  return os.lastError() == kErrFileNotFound &&
         os.moveFileAt(folder, log.c_str(), folder, aside.c_str(), true);
}

// The first step of one log: all but the removal of one that went aside,
// whose name is then in log.aside.
std::int32_t Prepare(GroupWork& work, PendingRemoval& log) {
  const PlatformApi& os = Os();
  AsideParts parts;
  const bool leftover = ParseAsideName(log.log, &parts) && parts.file == log.identity.index;
  bool leased = os.takeLease(log.file);
  if (!leased && os.lastError() == kErrSharingViolation) {
    if (!leftover || !LeaseLeftover(log.file)) return kErrSharingViolation;
    leased = true;
  }
  if (leftover) {
    // Named by this program alone, so nobody opens it anew: it goes now.
    const std::int32_t checked = Check(work.logs, log.log, true, log);
    if (log.finish) log.aside = log.log;
    return checked != 0 ? checked : Delete(work.logs, log.log, log);
  }
  // Past the end marker nothing is ever archived: no writer can lose a
  // line there. Without a lease no pause could tell, and a name too long
  // for the prefix cannot go aside: checked, then deleted by name.
  const std::string aside = AsideName(log.log, log.copiedSize, log.identity, work.archiveFolder);
  if (!leased || log.copiedSize < 0 || aside.empty()) {
    const std::int32_t checked = Check(work.logs, log.log, false, log);
    return checked != 0 ? checked : Delete(work.logs, log.log, log);
  }
  // Never deleted without the move: where it cannot be made (a read-only
  // file system), the log stays, with the reason.
  if (!MoveAside(work.logs, log.log, aside)) return KeepFailure(log);
  // What went aside may not be the log copied: a link to it (which goes,
  // its target stays), or a file that took the name meanwhile, or one that
  // became read-only or grew since its copy (which come back and stay: the
  // lease keeps writers out only from now on).
  log.aside = aside;
  const std::int32_t checked = Check(work.logs, aside, true, log);
  if (checked == 0) return 0;
  if (os.moveFileAt(work.logs, aside.c_str(), work.logs, log.log.c_str(), false)) {
    log.aside.clear();
    log.finish = false;
  }
  return checked;
}

// The last step of a log that went aside, after the pause.
std::int32_t Conclude(GroupWork& work, PendingRemoval& log) {
  const PlatformApi& os = Os();
  if (os.leaseHeld(log.file)) return Delete(work.logs, log.aside, log);
  // Being opened: back under its name, and it stays. Where a writer has
  // made a new log under that name meanwhile, the run archives what was
  // added to this one, and it goes.
  if (os.moveFileAt(work.logs, log.aside.c_str(), work.logs, log.log.c_str(), false)) {
    log.aside.clear();
  } else {
    log.finish = true;
  }
  return kErrSharingViolation;
}

}  // namespace

void DeleteGroup(GroupWork& work) {
  const PlatformApi& os = Os();
  std::vector<PendingRemoval>& group = *work.group;
  bool pause = false;
  for (PendingRemoval& log : group) {
    log.error = Prepare(work, log);
    if (log.error == 0 && !log.aside.empty()) pause = true;
  }
  if (pause) std::this_thread::sleep_for(kPause);
  for (PendingRemoval& log : group) {
    if (log.error == 0 && !log.aside.empty()) {
      log.error = Conclude(work, log);
      if (log.error == 0) log.aside.clear();
    }
    // A log that stays is given back to whoever waits to open it.
    if (log.error != 0) os.dropLease(log.file);
  }
}

}  // namespace quilbo

#endif  // !_WIN32
