#include "archive/log_removal.h"

#include <algorithm>
#include <cstdlib>
#include <utility>

#include "archive/kept_log.h"
#include "errors/io_status.h"
#include "errors/notes.h"

namespace quilbo {

namespace {

[[noreturn]] void ReportFailedFlush(std::int32_t error, const RunFolders& folders) {
  StoreIoFailureOn(error, "flush the archives in", folders.archivePath);
  CheckIo();
  std::abort();  // CheckIo ends the run after a stored failure
}

void WaitForFlush(RemovalGroup& group, const RunFolders& folders) {
  if (group.flush == kInvalidHandle) return;
  if (!Os().finishFlush(std::exchange(group.flush, kInvalidHandle)))
    ReportFailedFlush(FailedCallError(), folders);
}

// Deletes logs whose archives are on the disk.
void DeleteLogs(std::vector<PendingRemoval>& group, const RunFolders& folders) {
  if (group.empty()) return;
  std::vector<LogRemoval> logs;
  logs.reserve(group.size());
  for (const PendingRemoval& pending : group)
    logs.push_back(LogRemoval{pending.file, pending.log.c_str(), pending.copiedSize, 0});
  // A log that must stay is archived again by the next run.
  if (!Os().removeLogsAt(folders.logs, logs.data(), logs.size())) {
    for (const LogRemoval& log : logs)
      if (log.error != 0) NoteKeptLog(folders.logPath + log.name, log.error);
  }
  group.clear();
}

// The filled group's archives start on their way to the disk, once the
// group before is there; that group's logs go meanwhile.
void SendGroup(RemovalGroup& group, const RunFolders& folders) {
  WaitForFlush(group, folders);
  std::vector<PendingRemoval> flushed = std::exchange(group.flushing, std::move(group.logs));
  group.logs.clear();
  std::vector<const char*> archives;
  archives.reserve(group.flushing.size());
  for (const PendingRemoval& pending : group.flushing) archives.push_back(pending.archive.c_str());
  group.flush = Os().startFlushAt(folders.archives, archives.data(), archives.size());
  const std::int32_t error = group.flush == kInvalidHandle ? FailedCallError() : 0;
  DeleteLogs(flushed, folders);
  if (error != 0) ReportFailedFlush(error, folders);
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

}  // namespace quilbo
