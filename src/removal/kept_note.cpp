// The note for a log that /D had to keep.
#include <cstdio>
#include <string>

#include "errors/notes.h"
#include "fs/run_folders.h"
#include "removal/removal.h"

namespace quilbo {

void NoteKeptLog(const RunFolders& folders, const PendingRemoval& log) {
  const std::string path = folders.logPath + log.log;
  const int length = static_cast<int>(path.size());
  if (log.error == kKeptMoreThanText) {
    WriteNote("/D kept %.*s: it holds bytes after its end-of-text mark (0x1A), which are not "
              "archived (a binary or compressed file?)",
              length, path.data());
    return;
  }
  char reason[256];
  FileInfo found{};
  if (log.error == kErrSharingViolation) {
    // What the deletion refuses: a writer might add lines after the copy.
    std::snprintf(reason, sizeof reason,
                  "another program holds it open or was still writing to it");
  } else if (Os().entryInfoAt(folders.logs, log.log.c_str(), false, &found) &&
             (found.attributes & kAttrReadOnly) != 0) {
    std::snprintf(reason, sizeof reason, "it is read-only");
  } else {
    DescribeFailure(SystemFailure{log.error, log.cause}, reason, sizeof reason);
  }
  // Left aside (now, or by an earlier run): the next run with /D archives
  // only what was added to it, then deletes it.
  AsideParts parts;
  if (!log.aside.empty() && log.aside != log.log) {
    WriteNote("/D kept %.*s, now %s%s (%s): the next run with /D finishes it", length, path.data(),
              folders.logPath.c_str(), log.aside.c_str(), reason);
    return;
  }
  if (ParseAsideName(log.log, &parts) && parts.file == log.identity.index) {
    WriteNote("/D kept %.*s (%s): the next run with /D finishes it", length, path.data(), reason);
    return;
  }
  WriteNote("/D kept %.*s (%s): its text will be archived again next run", length, path.data(),
            reason);
}

}  // namespace quilbo
