#include "fs/folder_lock.h"

#include "errors/io_status.h"
#include "errors/notes.h"
#include "fs/file_helpers.h"
#include "platform/platform.h"

namespace quilbo {

OsHandle LockArchiveFolder(std::string_view folder) {
  const char* name = ScratchName(folder);
  if (name == nullptr) return kInvalidHandle;
  // A run that seems to hang says why, once the wait is more than a moment.
  constexpr std::uint32_t kQuietWaitMs = 1000;
  OsHandle lock = Os().lockFolder(name, kQuietWaitMs);
  if (lock == kInvalidHandle && Os().lastError() == kErrTimeout) {
    WriteNote("waiting for another run that archives into %.*s",
              static_cast<int>(folder.size()), folder.data());
    // In steps, so that a request to stop is seen while it waits.
    do {
      lock = Os().lockFolder(ScratchName(folder), kQuietWaitMs);
    } while (lock == kInvalidHandle && Os().lastError() == kErrTimeout &&
             Os().stopRequested() == 0);
  }
  return lock;
}

void UnlockArchiveFolder(OsHandle& lock) {
  if (lock == kInvalidHandle) return;
  // A failure changes nothing that matters: the lock goes with the process.
  Os().unlockFolder(lock);
  lock = kInvalidHandle;
}

void FlushArchiveFolder(OsHandle lock) {
  if (lock == kInvalidHandle) return;
  if (!Os().flushFolder(lock)) StoreIoFailure(FailedCallError());
}

}  // namespace quilbo
