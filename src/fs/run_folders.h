// The two folders of a run, opened once: the log folder and the archive
// folder. Every step of every log works inside them, so each step reaches
// the folder whose links were checked when it was opened, and costs no
// resolution of the whole path.
#ifndef QUILBO_FS_RUN_FOLDERS_H_
#define QUILBO_FS_RUN_FOLDERS_H_

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/platform.h"

namespace quilbo {

struct RunFolders {
  std::string logPath;      // as the console shows it joined with a name: "" or ending in a separator
  std::string archivePath;  // no separator at its end
  std::string archiveShown;  // archivePath and a separator: what notes show before an archive's name
  OsHandle logs;            // kInvalidHandle when it could not be opened...
  OsHandle archives;
  SystemFailure logsError;  // ...and then why
  SystemFailure archivesError;
  // Why the run could not make the archive folder (code 0: it did, or
  // found it there), which a failure to open the folder comes from.
  SystemFailure archivesNotMade{0, 0};
  // The last archive looked for did not exist yet: in a folder of new
  // archives the next is created first, which spares the look that finds
  // nothing; in one of existing archives, opened first.
  bool archivesNew = false;
  // The walk's entry of the log in hand, while the walk archives it: its
  // open takes what the walk holds of it. Null for a log the walk did not
  // just find.
  FindData* found = nullptr;
  // The archive folder's lock against other runs (LockArchiveFolder),
  // held to the run's end; kInvalidHandle without one.
  OsHandle archiveLock = kInvalidHandle;
};

// Opens both folders; a folder that cannot be opened keeps its error for
// the first step that needs it (the run goes on: a folder may show up or
// never be needed).
void OpenRunFolders(RunFolders& folders, std::string_view logPath,
                    std::string_view archivePath);
void CloseRunFolders(RunFolders& folders);

// The entry called name in folder, as LookUpFile finds a path.
bool LookUpFileAt(OsHandle folder, std::string_view name, FileInfo* found);
bool IsPlainFileAt(OsHandle folder, std::string_view name);

}  // namespace quilbo

#endif  // QUILBO_FS_RUN_FOLDERS_H_
