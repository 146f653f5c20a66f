// The groups of /D: their bounds, their flush and deletion beside the run,
// and what the run does with each log afterwards.
#include <algorithm>
#include <cstdlib>
#include <utility>

#include "archive/archive_log.h"
#include "errors/io_status.h"
#include "errors/notes.h"
#include "fs/run_folders.h"
#include "removal/removal.h"

namespace quilbo {

namespace {

// How often the run takes up logs that writers added to while aside,
// before it leaves them to the next run.
constexpr int kFinishRounds = 3;

void RunGroup(void* context) {
  GroupWork& work = *static_cast<GroupWork*>(context);
  std::vector<const char*> archives;
  archives.reserve(work.group->size());
  for (const PendingRemoval& log : *work.group) archives.push_back(log.archive.c_str());
  if (!Os().flushFilesAt(work.archives, archives.data(), archives.size())) {
    work.flushError = FailedCall();
    return;
  }
  DeleteGroup(work);
}

// The group's handles close together: what they were opened for is done,
// and they were only read, so their closes have nothing to report.
void CloseGroup(std::vector<PendingRemoval>& group) {
  const PlatformApi& os = Os();
  for (PendingRemoval& log : group)
    if (log.file != kInvalidHandle) os.closeHandle(std::exchange(log.file, kInvalidHandle));
}

// Waits for the group under way; the logs that stay get their notes, those
// caught aside with text added wait to be finished. False when the flush
// failed: then no log of its group went.
bool FinishGroup(RemovalGroup& group, const RunFolders& folders) {
  if (!group.busy) return true;
  if (group.working != kInvalidHandle) Os().finishWork(std::exchange(group.working, kInvalidHandle));
  group.busy = false;
  CloseGroup(group.going);
  const bool flushed = group.work.flushError.code == 0;
  for (PendingRemoval& log : group.going) {
    if (!flushed || log.error == 0) continue;
    if (log.finish) {
      group.finishing.push_back(std::move(log));
    } else {
      NoteKeptLog(folders, log);
    }
  }
  group.going.clear();
  return flushed;
}

// The filled group's archives start on their way to the disk, its logs'
// deletions to follow, beside the run where the platform can.
void StartGroup(RemovalGroup& group, const RunFolders& folders) {
  group.going = std::move(group.logs);
  group.logs.clear();
  group.work = GroupWork{folders.archives, folders.logs, group.archiveFolder, &group.going, {}};
  group.busy = true;
  if constexpr (kMovesAside) group.working = Os().startWork(RunGroup, &group.work);
  if (group.working == kInvalidHandle) RunGroup(&group.work);
}

// The group's logs stay: their archives may not be on the disk.
[[noreturn]] void ReportFailedFlush(RemovalGroup& group, const RunFolders& folders) {
  CloseGroup(group.logs);
  group.logs.clear();
  StoreIoFailureOn(group.work.flushError, "flush the archives in", folders.archivePath);
  CheckIo();
  std::abort();  // CheckIo ends the run after a stored failure
}

void SendGroup(RemovalGroup& group, const RunFolders& folders) {
  if (!FinishGroup(group, folders)) ReportFailedFlush(group, folders);
  StartGroup(group, folders);
}

void Add(RemovalGroup& group, const RunFolders& folders, PendingRemoval removal) {
  const PlatformApi& os = Os();
  if (group.logs.empty()) group.startedAt = os.tickCount();
  group.logs.push_back(std::move(removal));
  if (group.logs.size() >= group.bound || os.tickCount() - group.startedAt >= kGroupMilliseconds)
    SendGroup(group, folders);
}

// Logs caught aside with lines a writer added after their copy: those
// lines are archived, then the logs go with the next group.
void FinishAsides(RemovalGroup& group, RunFolders& folders) {
  std::vector<PendingRemoval> finishing = std::move(group.finishing);
  group.finishing.clear();
  for (const PendingRemoval& log : finishing) {
    ArchivedLog done;
    if (!ArchiveLogFile(folders, log.aside, log.archive, log.copiedSize, group.truncateKb, true,
                        &done))
      continue;
    AddRemoval(group, folders, log.aside, log.archive, done);
  }
}

}  // namespace

std::int32_t KeepFailure(PendingRemoval& log) {
  const SystemFailure failure = FailedCall();
  log.cause = failure.cause;
  return failure.code;
}

void StartRemovals(RemovalGroup& group, const RunFolders& folders, std::int32_t truncateKb) {
  const PlatformApi& os = Os();
  const std::size_t allowed = os.openFilesAllowed();
  group.bound = allowed > kFilesReserved + 2 ? std::min(kGroupLogs, (allowed - kFilesReserved) / 2) : 1;
  group.truncateKb = truncateKb;
  FileInfo archives{};
  if (kMovesAside && folders.archives != kInvalidHandle &&
      os.entryInfoAt(folders.archives, ".", false, &archives))
    group.archiveFolder = archives.identity;
}

void AddRemoval(RemovalGroup& group, const RunFolders& folders, std::string_view log,
                std::string_view archive, const ArchivedLog& done) {
  PendingRemoval removal;
  removal.file = done.file;
  removal.log.assign(log);
  removal.archive.assign(archive);
  removal.copiedSize = done.copiedSize;
  FileInfo info{};
  const bool known = !done.moreThanText && Os().fileInfoOf(done.file, &info);
  removal.identity = info.identity;
  if (!known) {
    removal.error = done.moreThanText ? kKeptMoreThanText : KeepFailure(removal);
    NoteKeptLog(folders, removal);
    Os().closeHandle(done.file);
    return;
  }
  Add(group, folders, std::move(removal));
}

void RemoveLogs(RemovalGroup& group, RunFolders& folders) {
  for (int round = 0;; ++round) {
    if (!group.logs.empty()) SendGroup(group, folders);
    if (!FinishGroup(group, folders)) ReportFailedFlush(group, folders);
    if (group.finishing.empty()) return;
    if (round == kFinishRounds) break;
    FinishAsides(group, folders);
  }
  // Writers that keep adding to a log caught aside: the next run finishes it.
  for (PendingRemoval& log : group.finishing) {
    log.error = kErrSharingViolation;
    NoteKeptLog(folders, log);
  }
  group.finishing.clear();
}

void RemoveLogsBeforeFailure(RemovalGroup& group, const RunFolders& folders) noexcept {
  try {
    if (!FinishGroup(group, folders) || group.logs.empty()) return;
    StartGroup(group, folders);
    FinishGroup(group, folders);
  } catch (...) {
    // The report of the failure that ends the run comes next; these logs
    // are archived again by the next run.
  }
}

}  // namespace quilbo
