#include "archive/archive_log.h"
#include "errors/io_status.h"
#include "errors/notes.h"
#include "fs/file_helpers.h"
#include "fs/folder_lock.h"
#include "platform/platform.h"

namespace quilbo {

namespace {

// Opens the archive to flush it: for writing where the system flushes
// only through such a handle, for reading where the archive was given its
// log's read-only access (the system then flushes through any handle).
OsHandle OpenToFlush(std::string_view target) {
  const char* name = ScratchName(target);
  if (name == nullptr) {
    StoreIoFailureOn(kErrFilenameTooLong, "open", target);
    return kInvalidHandle;
  }
  const PlatformApi& os = Os();
  OsHandle file = os.createFile(name, FileAccess::kReadWrite, FileCreation::kOpenExisting);
  if (file == kInvalidHandle && os.lastError() == kErrAccessDenied)
    file = os.createFile(name, FileAccess::kRead, FileCreation::kOpenExisting);
  if (file == kInvalidHandle) StoreIoFailureOn(FailedCallError(), "open", target);
  return file;
}

}  // namespace

void FlushArchive(std::string_view target, bool created) {
  const OsHandle file = OpenToFlush(target);
  CheckIo();
  const PlatformApi& os = Os();
  if (!os.flushFile(file)) StoreIoFailureOn(FailedCallError(), "flush", target);
  if (!os.closeHandle(file)) StoreIoFailureOn(FailedCallError(), "close", target);
  CheckIo();
  // An archive made by this run exists on the disk only once its folder
  // says so.
  if (created) {
    FlushArchiveFolder();
    CheckIo();
  }
}

}  // namespace quilbo
