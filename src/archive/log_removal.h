// /D: logs are deleted in groups. The archives of a group are written, one
// flush puts them all on the disk, then the group's logs go: no log goes
// before its archive is on the disk, and a run that dies loses at most one
// group's deletions (those logs are archived again by the next run, never
// lost).
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
  std::vector<PendingRemoval> logs;
  std::uint64_t startedAt;  // tick of the group's first log
};

// Bounds of a group.
inline constexpr std::size_t kGroupLogs = 256;
inline constexpr std::uint64_t kGroupMilliseconds = 1000;

// Adds a log to the group, and deletes the group once it is full or old.
void AddRemoval(RemovalGroup& group, const RunFolders& folders, PendingRemoval removal);
// Puts the group's archives on the disk, then deletes its logs; a log that
// must stay (another process holds it, it grew) is archived again next run.
// A failed flush ends the run with the report, before any log goes.
void RemoveLogs(RemovalGroup& group, const RunFolders& folders);

}  // namespace quilbo

#endif  // QUILBO_ARCHIVE_LOG_REMOVAL_H_
