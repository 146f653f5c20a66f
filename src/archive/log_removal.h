// /D: logs are deleted in groups. The archives of a group are written, one
// flush puts them all on the disk, then the group's logs go: no log goes
// before its archive is on the disk. The flush and the deletions of one
// group run while the next group is copied, so a run that dies loses at
// most two groups' deletions (those logs are archived again by the next
// run, never lost).
#ifndef QUILBO_ARCHIVE_LOG_REMOVAL_H_
#define QUILBO_ARCHIVE_LOG_REMOVAL_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fs/run_folders.h"
#include "platform/platform.h"

namespace quilbo {

// A log whose text is in its archive, waiting to be deleted.
struct PendingRemoval {
  OsHandle file = kInvalidHandle;  // the log, still open from its copy
  std::string log;      // its name in the log folder
  std::string archive;  // its archive's name in the archive folder
  std::int64_t copiedSize = -1;  // -1: the copy stopped at an end marker
};

struct RemovalGroup {
  std::vector<PendingRemoval> logs;      // archived, not yet on their way to the disk
  std::vector<PendingRemoval> flushing;  // the group before, whose archives are going
  std::vector<LogRemoval> removing;      // to the disk with flush, its logs then deleted
  OsHandle flush = kInvalidHandle;
  std::uint64_t startedAt;               // tick of logs' first log
  std::size_t bound = 0;                 // most logs in a group (0: not yet known)
};

// Bounds of a group. Each flush costs the disk's time, so a group is large;
// but its logs stay open until they go, two groups at a time, so it takes
// at most half the files the process may open, less a reserve for the rest.
inline constexpr std::size_t kGroupLogs = 4096;
inline constexpr std::uint64_t kGroupMilliseconds = 1000;
inline constexpr std::size_t kFilesReserved = 64;

// Adds a log to the group. Once the group is full or old, and the group
// before is done, its archives start on their way to the disk, its logs'
// deletions to follow, while the run goes on.
void AddRemoval(RemovalGroup& group, const RunFolders& folders, PendingRemoval removal);
// At the end of the run: puts every archive left on the disk, then deletes
// the logs left. A log that must stay (another process holds it, it grew)
// is archived again next run. A failed flush ends the run with the report
// before any log of its group goes.
void RemoveLogs(RemovalGroup& group, const RunFolders& folders);
// On the way to the report of a failure that ends the run: the logs
// archived before it go as they would have gone one by one, so that the
// next run does not archive them again; those of a failed flush stay.
// Raises nothing.
void RemoveLogsBeforeFailure(RemovalGroup& group, const RunFolders& folders) noexcept;

}  // namespace quilbo

#endif  // QUILBO_ARCHIVE_LOG_REMOVAL_H_
