#include "fs/folder_lock.h"

#include "errors/io_status.h"
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
  tHeld = Os().lockFolder(name);
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
