#include "archive/log_removal.h"

#include <algorithm>
#include <cstdlib>
#include <utility>

#include "archive/kept_log.h"
#include "errors/io_status.h"
#include "errors/notes.h"

namespace quilbo {

namespace {

// The group's logs stay: their archives may not be on the disk.
[[noreturn]] void ReportFailedFlush(std::int32_t error, RemovalGroup& group,
                                    const RunFolders& folders) {
  group.flushing.clear();
  group.logs.clear();
  StoreIoFailureOn(error, "flush the archives in", folders.archivePath);
  CheckIo();
  std::abort();  // CheckIo ends the run after a stored failure
}

void WaitForFlush(RemovalGroup& group, const RunFolders& folders) {
  if (group.flush == kInvalidHandle) return;
  if (!Os().finishFlush(std::exchange(group.flush, kInvalidHandle)))
    ReportFailedFlush(FailedCallError(), group, folders);
}

// Deletes logs whose archives are on the disk.
void DeleteLogs(std::vector<PendingRemoval>& pending, const RunFolders& folders) {
  if (pending.empty()) return;
  // Taken first: whatever happens next, no handle is closed twice.
  const std::vector<PendingRemoval> group = std::move(pending);
  pending.clear();
  std::vector<LogRemoval> logs;
  logs.reserve(group.size());
  for (const PendingRemoval& log : group)
    logs.push_back(LogRemoval{log.file, log.log.c_str(), log.copiedSize, 0});
  // A log that must stay is archived again by the next run.
  if (!Os().removeLogsAt(folders.logs, logs.data(), logs.size())) {
    for (const LogRemoval& log : logs)
      if (log.error != 0) NoteKeptLog(folders.logPath + log.name, log.error);
  }
}

OsHandle StartFlush(const std::vector<PendingRemoval>& group, const RunFolders& folders) {
  std::vector<const char*> archives;
  archives.reserve(group.size());
  for (const PendingRemoval& pending : group) archives.push_back(pending.archive.c_str());
  return Os().startFlushAt(folders.archives, archives.data(), archives.size());
}

// The filled group's archives start on their way to the disk, once the
// group before is there; that group's logs go meanwhile.
void SendGroup(RemovalGroup& group, const RunFolders& folders) {
  WaitForFlush(group, folders);
  std::vector<PendingRemoval> flushed = std::exchange(group.flushing, std::move(group.logs));
  group.logs.clear();
  group.flush = StartFlush(group.flushing, folders);
  const std::int32_t error = group.flush == kInvalidHandle ? FailedCallError() : 0;
  DeleteLogs(flushed, folders);
  if (error != 0) ReportFailedFlush(error, group, folders);
}

}  // namespace

void AddRemoval(RemovalGroup& group, const RunFolders& folders, PendingRemoval removal) {
  const PlatformApi& os = Os();
  if (group.bound == 0) {
    const std::size_t allowed = os.openFilesAllowed();
    group.bound = allowed > kFilesReserved + 2 ? std::min(kGroupLogs, (allowed - kFilesReserved) / 2) : 1;
  }
  if (group.logs.empty()) group.startedAt = os.tickCount();
  group.logs.push_back(std::move(removal));
  if (group.logs.size() >= group.bound || os.tickCount() - group.startedAt >= kGroupMilliseconds)
    SendGroup(group, folders);
}

void RemoveLogs(RemovalGroup& group, const RunFolders& folders) {
  if (!group.logs.empty()) SendGroup(group, folders);
  WaitForFlush(group, folders);
  DeleteLogs(group.flushing, folders);
}

void RemoveLogsBeforeFailure(RemovalGroup& group, const RunFolders& folders) noexcept {
  try {
    const PlatformApi& os = Os();
    if (group.flush != kInvalidHandle && !os.finishFlush(std::exchange(group.flush, kInvalidHandle)))
      return;
    DeleteLogs(group.flushing, folders);
    if (group.logs.empty()) return;
    const OsHandle flush = StartFlush(group.logs, folders);
    if (flush != kInvalidHandle && os.finishFlush(flush)) DeleteLogs(group.logs, folders);
  } catch (...) {
    // The report of the failure that ends the run comes next; these logs
    // are archived again by the next run.
  }
}

}  // namespace quilbo
