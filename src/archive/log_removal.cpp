#include "archive/log_removal.h"

#include <algorithm>
#include <cstdlib>
#include <utility>

#include "archive/kept_log.h"
#include "errors/io_status.h"
#include "errors/notes.h"

namespace quilbo {

namespace {

// The filled group's flush goes, its deletions to follow; false when it
// could not be started.
bool StartFlush(RemovalGroup& group, const RunFolders& folders) {
  group.flushing = std::move(group.logs);
  group.logs.clear();
  std::vector<const char*> archives;
  archives.reserve(group.flushing.size());
  group.removing.clear();
  group.removing.reserve(group.flushing.size());
  for (const PendingRemoval& log : group.flushing) {
    archives.push_back(log.archive.c_str());
    group.removing.push_back(LogRemoval{log.file, log.log.c_str(), log.copiedSize, 0});
  }
  group.flush = Os().startFlushAt(folders.archives, archives.data(), archives.size(), folders.logs,
                                  group.removing.data(), group.removing.size());
  return group.flush != kInvalidHandle;
}

// Waits for the flush on its way and its deletions; a log that had to
// stay is archived again by the next run, which its note says. False when
// the flush failed: then no log of its group went.
bool FinishFlush(RemovalGroup& group, const RunFolders& folders) {
  if (group.flush == kInvalidHandle) return true;
  const bool flushed = Os().finishFlush(std::exchange(group.flush, kInvalidHandle));
  const std::vector<LogRemoval> removed = std::move(group.removing);
  group.removing.clear();
  group.flushing.clear();
  if (flushed) {
    for (const LogRemoval& log : removed)
      if (log.error != 0) NoteKeptLog(folders.logPath + log.name, log.error);
  }
  return flushed;
}

// The group's logs stay: their archives may not be on the disk.
[[noreturn]] void ReportFailedFlush(std::int32_t error, RemovalGroup& group,
                                    const RunFolders& folders) {
  group.logs.clear();
  StoreIoFailureOn(error, "flush the archives in", folders.archivePath);
  CheckIo();
  std::abort();  // CheckIo ends the run after a stored failure
}

// The filled group's archives start on their way to the disk, and its
// logs' deletions after them, once the group before is done.
void SendGroup(RemovalGroup& group, const RunFolders& folders) {
  if (!FinishFlush(group, folders)) ReportFailedFlush(FailedCallError(), group, folders);
  if (!StartFlush(group, folders)) ReportFailedFlush(FailedCallError(), group, folders);
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
  if (!FinishFlush(group, folders)) ReportFailedFlush(FailedCallError(), group, folders);
}

void RemoveLogsBeforeFailure(RemovalGroup& group, const RunFolders& folders) noexcept {
  try {
    if (!FinishFlush(group, folders) || group.logs.empty()) return;
    if (StartFlush(group, folders)) FinishFlush(group, folders);
  } catch (...) {
    // The report of the failure that ends the run comes next; these logs
    // are archived again by the next run.
  }
}

}  // namespace quilbo
