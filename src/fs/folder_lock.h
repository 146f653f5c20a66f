// The archive folder of a run, locked against other runs of the program:
// two runs that append to one archive at once garble it, and a run that
// deletes logs would lose lines. The lock is held from before the first
// archive opens to the end of the run; a second run waits for it.
#ifndef QUILBO_FS_FOLDER_LOCK_H_
#define QUILBO_FS_FOLDER_LOCK_H_

#include <string_view>

#include "platform/platform.h"

namespace quilbo {

// Waits until this run holds the lock of folder, and gives it (the run
// keeps it in its RunFolders). kInvalidHandle when the folder cannot be
// opened to lock it: the run then goes on without the lock, and its first
// archive open reports why the folder is unusable.
OsHandle LockArchiveFolder(std::string_view folder);
// Lets the next run in; nothing when no lock is held.
void UnlockArchiveFolder(OsHandle& lock);
// Makes the names created, renamed or removed in the locked folder
// durable. A failure goes to IoStatus; without a lock there is nothing to
// flush through.
void FlushArchiveFolder(OsHandle lock);

}  // namespace quilbo

#endif  // QUILBO_FS_FOLDER_LOCK_H_
