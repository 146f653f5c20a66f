#include "fs/folder_lock.h"

#include "errors/io_status.h"
#include "errors/notes.h"
#include "fs/file_helpers.h"
#include "platform/platform.h"

namespace quilbo {

namespace {

// One archive folder per run.
thread_local OsHandle tHeld = kInvalidHandle;

}  // namespace

bool LockArchiveFolder(std::string_view folder) {
  UnlockArchiveFolder();
  const char* name = ScratchName(folder);
  if (name == nullptr) return false;
  // A run that seems to hang says why, once the wait is more than a moment.
  constexpr std::uint32_t kQuietWaitMs = 1000;
  tHeld = Os().lockFolder(name, kQuietWaitMs);
  if (tHeld == kInvalidHandle && Os().lastError() == kErrTimeout) {
    WriteNote("waiting for another run that archives into %.*s",
              static_cast<int>(folder.size()), folder.data());
    // In steps, so that a request to stop is seen while it waits.
    do {
      tHeld = Os().lockFolder(ScratchName(folder), kQuietWaitMs);
    } while (tHeld == kInvalidHandle && Os().lastError() == kErrTimeout &&
             Os().stopRequested() == 0);
  }
  return tHeld != kInvalidHandle;
}

void UnlockArchiveFolder() {
  if (tHeld == kInvalidHandle) return;
  // A failure changes nothing that matters: the lock goes with the process.
  Os().unlockFolder(tHeld);
  tHeld = kInvalidHandle;
}

void FlushArchiveFolder() {
  if (tHeld == kInvalidHandle) return;
  if (!Os().flushFolder(tHeld)) StoreIoFailure(FailedCallError());
}

}  // namespace quilbo
