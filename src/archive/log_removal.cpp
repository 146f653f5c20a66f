#include "archive/log_removal.h"

#include <utility>

#include "archive/kept_log.h"
#include "errors/io_status.h"
#include "errors/notes.h"

namespace quilbo {

void AddRemoval(RemovalGroup& group, const RunFolders& folders, PendingRemoval removal) {
  const PlatformApi& os = Os();
  if (group.logs.empty()) group.startedAt = os.tickCount();
  group.logs.push_back(std::move(removal));
  if (group.logs.size() >= kGroupLogs || os.tickCount() - group.startedAt >= kGroupMilliseconds)
    RemoveLogs(group, folders);
}

void RemoveLogs(RemovalGroup& group, const RunFolders& folders) {
  if (group.logs.empty()) return;
  const PlatformApi& os = Os();
  std::vector<const char*> archives;
  std::vector<LogRemoval> logs;
  archives.reserve(group.logs.size());
  logs.reserve(group.logs.size());
  for (const PendingRemoval& pending : group.logs) {
    archives.push_back(pending.archive.c_str());
    logs.push_back(LogRemoval{pending.file, pending.log.c_str(), pending.copiedSize, 0});
  }
  if (!os.flushFilesAt(folders.archives, archives.data(), archives.size())) {
    StoreIoFailureOn(FailedCallError(), "flush the archives in", folders.archivePath);
    CheckIo();
  }
  // A log that must stay is archived again by the next run.
  if (!os.removeLogsAt(folders.logs, logs.data(), logs.size())) {
    for (const LogRemoval& log : logs)
      if (log.error != 0) NoteKeptLog(folders.logPath + log.name, log.error);
  }
  group.logs.clear();
}

}  // namespace quilbo
